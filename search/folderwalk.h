#pragma once

#include "search/picturenames.h"
#include "search/pseudofilesystems.h"

#include <QString>

#include <dirent.h>
#include <sys/types.h>

#include <functional>
#include <stop_token>
#include <string>
#include <unordered_set>
#include <vector>

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

// One depth-first walk of a folder tree by the search's rules: every picture file of the given
// formats is reported with its display spelling (the folder as found followed by the file name
// lower-cased) and its path on disk; links are followed, the kernel's pseudo file systems are
// skipped, and each folder (device and inode) is walked once per walk, under the first path that
// reaches it. Folders are opened relative to their parent's descriptor, which saves resolving
// the whole path again for every folder and works for paths of any length.
class FolderWalk
{
public:
    using PictureFound = std::function<void(const QString& display, std::string path)>;
    // Called for each folder before its entries are listed, with its open descriptor and its
    // path (ending with "/"); false leaves the folder and everything below it out.
    using FolderEntered = std::function<bool(int fd, const std::string& rawFolder)>;

    FolderWalk(PictureFormats formats, std::stop_token stop, PictureFound onPicture,
               FolderEntered onFolder = {});

    // Walks `root` and everything below it. Returns false when the walk was stopped before it
    // had finished.
    bool walkRoot(const std::string& root);

private:
    bool walkFolder(int fd, std::string& rawFolder, QString& displayFolder);
    bool walkEntries(DIR* dir, std::string& rawFolder, QString& displayFolder);
    void considerFile(const char* name, const std::string& rawFolder, const QString& displayFolder);

    const PictureFormats m_formats;
    std::stop_token m_stop;
    PictureFound m_onPicture;
    FolderEntered m_onFolder;
    // The folders from the search folder down to the one being walked.
    std::vector<FolderId> m_branch;
    // Every folder walked so far, on any branch.
    std::unordered_set<FolderId, FolderIdHash> m_visited;
    PseudoFileSystems m_pseudoFileSystems;
};
