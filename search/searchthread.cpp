#include "search/searchthread.h"

#include "search/picturenames.h"
#include "search/pseudofilesystems.h"

#include <QFile>
#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <unordered_set>
#include <vector>

namespace {

struct DirCloser
{
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// A folder's identity, whatever path led to it.
struct FolderId
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderId&) const = default;
};

struct FolderIdHash
{
    std::size_t operator()(const FolderId& id) const noexcept
    {
        return std::hash<ino_t>()(id.inode) * 31 + std::hash<dev_t>()(id.device);
    }
};

// One depth-first walk. Folders are opened relative to their parent's descriptor, which saves
// resolving the whole path again for every folder and works for paths of any length.
class FolderWalk
{
public:
    FolderWalk(GuardedList& list, PictureFormats formats, std::stop_token stop)
        : m_list(list), m_formats(formats), m_stop(std::move(stop))
    {}

    // Returns false when the walk was stopped before it had finished.
    bool walkRoot(const std::string& root)
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

private:
    // Walks the open folder fd (taking ownership of it), whose path ends with "/".
    bool walkFolder(int fd, std::string& rawFolder, QString& displayFolder)
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
        m_branch.push_back(id);
        const bool finished = walkEntries(dir.get(), rawFolder, displayFolder);
        m_branch.pop_back();
        return finished;
    }

    bool walkEntries(DIR* dir, std::string& rawFolder, QString& displayFolder)
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
                type = S_ISDIR(target.st_mode)   ? DT_DIR
                       : S_ISREG(target.st_mode) ? DT_REG
                                                 : DT_UNKNOWN;
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

    void considerFile(const char* name, const std::string& rawFolder, const QString& displayFolder)
    {
        // A name without a dot has no extension; skipping it here saves decoding most names
        // that are not pictures.
        if (std::strchr(name, '.') == nullptr) {
            return;
        }
        const QString decoded = QFile::decodeName(name);
        if (isPictureName(decoded, m_formats)) {
            m_list.add(displayFolder + decoded.toLower(), rawFolder + name);
        }
    }

    GuardedList& m_list;
    const PictureFormats m_formats;
    std::stop_token m_stop;
    // The folders from the search folder down to the one being walked.
    std::vector<FolderId> m_branch;
    // Every folder walked so far, on any branch.
    std::unordered_set<FolderId, FolderIdHash> m_visited;
    PseudoFileSystems m_pseudoFileSystems;
};

} // namespace

SearchThread::SearchThread(GuardedList& list, std::string rootFolder, PictureFormats formats)
    : m_list(list), m_rootFolder(std::move(rootFolder)), m_formats(formats)
{
    try {
        m_thread = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
    } catch (const std::system_error& error) {
        throw std::runtime_error("スレッド作成エラー：" + error.code().message());
    }
}

SearchThread::~SearchThread()
{
    m_thread.request_stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SearchThread::run(std::stop_token stop)
{
    try {
        FolderWalk walk(m_list, m_formats, std::move(stop));
        if (walk.walkRoot(m_rootFolder)) {
            // Release: whoever sees the flag also sees every add made before it.
            m_scanDone.store(true, std::memory_order_release);
        }
    } catch (...) {
        // An error in the walk (memory exhausted while the list grows) ends the search without a
        // report; scanDone() stays false and the search screen waits for the user to stop it.
    }
}
