#include "search/folderwalk.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <memory>
#include <utility>

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

} // namespace

FolderWalk::FolderWalk(PictureFormats formats, std::stop_token stop, PictureFound onPicture,
                       FolderEntered onFolder)
    : m_formats(formats), m_stop(std::move(stop)), m_onPicture(std::move(onPicture)),
      m_onFolder(std::move(onFolder))
{}

bool FolderWalk::walkRoot(const std::string& root)
{
    std::string rawFolder = root;
    if (rawFolder.empty() || rawFolder.back() != '/') {
        rawFolder.push_back('/');
    }
    QString displayFolder = QFile::decodeName(rawFolder.c_str());
    const int fd = open(rawFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        // A search folder that cannot be listed simply holds no pictures.
        return !m_stop.stop_requested();
    }
    return walkFolder(fd, rawFolder, displayFolder);
}

// Walks the open folder fd (taking ownership of it), whose path ends with "/".
bool FolderWalk::walkFolder(int fd, std::string& rawFolder, QString& displayFolder)
{
    DirHandle dir(fdopendir(fd));
    if (!dir) {
        close(fd);
        return true;
    }
    struct stat folderStat;
    if (fstat(fd, &folderStat) != 0) {
        return true;
    }
    // Each folder is walked once per search, under the first path that reaches it. A link
    // back up the tree would otherwise make the walk go round for ever, and links that
    // branch without looping (two links in each folder to the next) would list the same
    // pictures once for every path, doubling with each level.
    const FolderId id{folderStat.st_dev, folderStat.st_ino};
    if (m_visited.contains(id)) {
        return true;
    }
    // Links are followed, but not into the kernel's pseudo file systems. Another file
    // system can only begin where the device changes, so only there is it asked about.
    const bool newDevice = m_branch.empty() || m_branch.back().device != id.device;
    if (newDevice && m_pseudoFileSystems.holds(fd, id.device)) {
        return true;
    }
    m_visited.insert(id);
    if (m_onFolder && !m_onFolder(fd, rawFolder)) {
        return true;
    }
    m_branch.push_back(id);
    const bool finished = walkEntries(dir.get(), rawFolder, displayFolder);
    m_branch.pop_back();
    return finished;
}

bool FolderWalk::walkEntries(DIR* dir, std::string& rawFolder, QString& displayFolder)
{
    const std::size_t rawLength = rawFolder.size();
    const qsizetype displayLength = displayFolder.size();
    while (!m_stop.stop_requested()) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr) {
            return true;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
            continue;
        }
        // A path too long to be opened by name would be listed only to fail when shown, so
        // that entry, and everything below it, is left out.
        if (rawLength + std::strlen(name) >= PATH_MAX) {
            continue;
        }
        unsigned char type = entry->d_type;
        if (type == DT_LNK || type == DT_UNKNOWN) {
            // Links are judged by what they point at; a dangling link is skipped.
            struct stat target;
            if (fstatat(dirfd(dir), name, &target, 0) != 0) {
                continue;
            }
            type = S_ISDIR(target.st_mode) ? DT_DIR : S_ISREG(target.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            const int child = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child < 0) {
                // A folder that cannot be listed adds nothing; the walk goes on.
                continue;
            }
            rawFolder.append(name).push_back('/');
            displayFolder.append(QFile::decodeName(name)).append(QLatin1Char('/'));
            const bool finished = walkFolder(child, rawFolder, displayFolder);
            rawFolder.resize(rawLength);
            displayFolder.truncate(displayLength);
            if (!finished) {
                return false;
            }
        } else if (type == DT_REG) {
            considerFile(name, rawFolder, displayFolder);
        }
        // FIFOs, sockets and device nodes are not pictures and are skipped.
    }
    return false;
}

void FolderWalk::considerFile(const char* name, const std::string& rawFolder,
                              const QString& displayFolder)
{
    // A name without a dot has no extension; skipping it here saves decoding most names
    // that are not pictures.
    if (std::strchr(name, '.') == nullptr) {
        return;
    }
    const QString decoded = QFile::decodeName(name);
    if (isPictureName(decoded, m_formats)) {
        m_onPicture(displayFolder + decoded.toLower(), rawFolder + name);
    }
}
