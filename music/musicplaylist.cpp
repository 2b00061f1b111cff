#include "music/musicplaylist.h"

#include "music/sdlmusicdevice.h"
#include "search/hasextension.h"

#include <QFile>

#include <filesystem>
#include <system_error>
#include <utility>

MusicPlaylist::MusicPlaylist() : MusicPlaylist(std::make_unique<SdlMusicDevice>()) {}

MusicPlaylist::MusicPlaylist(std::unique_ptr<MusicDevice> device) : m_device(std::move(device)) {}

MusicPlaylist::~MusicPlaylist()
{
    if (m_opener.joinable())
        m_opener.join();
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
    // The device belongs to the opening thread until its open has been finished.
    if (m_opening || m_paused)
        return;
    // The query fails when no file is open: before the first start, and for the rest of the run
    // once an open has failed. Either way there is nothing to advance.
    const std::optional<MusicDevice::Mode> mode = m_device->mode();
    if (mode != MusicDevice::Mode::Stopped || m_musicList.count() == 0)
        return;

    const int last = static_cast<int>(m_musicList.count()) - 1;
    const int next = m_musicIndex < last ? m_musicIndex + 1 : 0;
    if (!m_opened) {
        openAndPlay(next);
        return;
    }
    // The stopped file is closed here; only the loading of the next one runs elsewhere.
    m_musicIndex = next;
    m_device->close();
    m_opening = true;
    m_openError = nullptr;
    const std::string path = m_musicList.at(static_cast<std::size_t>(next)).path;
    m_opener = std::thread([this, path] {
        try {
            m_device->open(path);
        } catch (...) {
            m_openError = std::current_exception();
        }
        m_opened();
    });
}

void MusicPlaylist::openInBackground(std::function<void()> opened)
{
    m_opened = std::move(opened);
}

void MusicPlaylist::finishOpen()
{
    if (!m_opening)
        return;
    m_opener.join();
    m_opening = false;
    if (m_openError)
        std::rethrow_exception(std::exchange(m_openError, nullptr));
    // A file that opens but does not play reads as stopped, so the next tick moves past it.
    m_device->play();
    if (m_paused)
        m_device->setPaused(true);
}

void MusicPlaylist::openAndPlay(int index)
{
    m_musicIndex = index;
    m_device->open(m_musicList.at(static_cast<std::size_t>(index)).path);
    // A file that opens but does not play reads as stopped, so the next tick moves past it.
    m_device->play();
}

void MusicPlaylist::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    // A file being opened starts paused or not as finishOpen() finds it.
    if (!m_opening)
        m_device->setPaused(paused);
}
