#include "music/musicplaylist.h"

#include "music/sdlmusicdevice.h"
#include "search/hasextension.h"

#include <QFile>

#include <filesystem>
#include <system_error>

MusicPlaylist::MusicPlaylist() : MusicPlaylist(std::make_unique<SdlMusicDevice>()) {}

MusicPlaylist::MusicPlaylist(std::unique_ptr<MusicDevice> device) : m_device(std::move(device)) {}

MusicPlaylist::~MusicPlaylist()
{
    m_device->close();
}

bool MusicPlaylist::findMusicFiles(const std::string& appDir)
{
    namespace fs = std::filesystem;

    bool found = false;
    std::error_code ec;
    fs::directory_iterator it(fs::path(appDir), ec);
    // A folder that cannot be listed, or one that fails part-way, simply yields what was seen.
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // Only regular files are music. Folders, FIFOs, sockets, device nodes and dangling links
        // are skipped; a FIFO in particular would block the decoder forever when opened.
        std::error_code statError;
        if (!it->is_regular_file(statError))
            continue;

        const std::string rawName = it->path().filename().native();
        const QString name = QFile::decodeName(QByteArray::fromStdString(rawName));
        if (!hasExtension(name, QStringLiteral(".mp3")) &&
            !hasExtension(name, QStringLiteral(".mid")) &&
            !hasExtension(name, QStringLiteral(".wav")))
            continue;

        // The list sorts and shows the folder as given with the name lower-cased, but keeps the
        // name as found for opening: on a case-sensitive file system the lower-cased name may not
        // exist.
        const QString display =
            QFile::decodeName(QByteArray::fromStdString(appDir)) + name.toLower();
        m_musicList.add(display, appDir + rawName);
        found = true;
    }
    return found;
}

void MusicPlaylist::startFirst()
{
    if (m_musicList.count() == 0)
        return;
    openAndPlay(0);
}

void MusicPlaylist::tick()
{
    // The query fails when no file is open: before the first start, and for the rest of the run
    // once an open has failed. Either way there is nothing to advance.
    const std::optional<MusicDevice::Mode> mode = m_device->mode();
    if (mode != MusicDevice::Mode::Stopped || m_musicList.count() == 0)
        return;

    const int last = static_cast<int>(m_musicList.count()) - 1;
    openAndPlay(m_musicIndex < last ? m_musicIndex + 1 : 0);
}

void MusicPlaylist::openAndPlay(int index)
{
    m_musicIndex = index;
    m_device->open(m_musicList.at(static_cast<std::size_t>(index)).path);
    // A file that opens but does not play reads as stopped, so the next tick moves past it.
    m_device->play();
}
