#pragma once

#include "search/picturenames.h"
#include "search/sortedstringlist.h"

#include <QLocale>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct inotify_event;

// Keeps a folder tree under watch while the show runs, on a thread of its own, and reports the
// pictures that join it and leave it by the search's rules (the same formats, links followed,
// pseudo file systems skipped, each folder once).
//
// One inotify watch per folder. A picture joins when it is closed after writing or moved in, so
// a file still being written is never reported; one written again is reported again. A new
// folder is watched and walked, a folder moved in joins all its pictures, a folder deleted or
// moved out takes its pictures with it. A link made in the tree joins as its target would; a
// link to a folder that goes takes that folder's pictures with it, and the tree is walked again
// so that the folder, where it is still reached by another path, comes back under that one.
// When events were lost (the kernel's queue overflowed) the tree is walked again and compared;
// a folder renamed meanwhile is known by its watch and keeps it under its new name. A root that
// is removed is looked for four times a second, and watched and walked again once it is back.
// Where no events come (network file systems, detected by
// the file system's type; folders left over when the inotify watches run out) the folder is
// searched again periodically, every max(60 s, 20 x the last search's time), and the result
// compared with what is known; one line on stderr names those folders and why.
//
// The changes wait here, the latest one for each path winning, until the owner takes them.
class FolderWatcher
{
public:
    using Clock = std::chrono::steady_clock;

    struct Settings
    {
        PictureFormats formats = PictureFormats::Design;
        QLocale locale = QLocale();
        // The shortest interval between two searches of a folder without events.
        std::chrono::milliseconds minRescanInterval{60000};
        // A picture found by a walk (in a new folder, or by a periodic search) rather than
        // announced by an event joins once it has not been modified for this long, so that a
        // file being copied is not shown half-written.
        std::chrono::milliseconds settleTime{1000};
        // Test hook: no events at all; the whole tree is searched periodically, as on a
        // network share.
        bool eventsOff = false;
        // Test hook: inotify runs out of watches after this many (0: the system's limit).
        std::size_t watchLimit = 0;
    };

    // Watches rootFolder (ending with "/") whose pictures the show holds as `knownPaths`.
    // `onChanges` is called on the watcher's thread whenever changes wait where none waited; it
    // must only hand the news over to the owner's thread.
    FolderWatcher(std::string rootFolder, std::vector<std::string> knownPaths,
                  std::function<void()> onChanges, Settings settings);
    // Stops the watch and waits for the thread to end.
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    struct Batch
    {
        std::vector<KeyedPath> added;
        std::vector<std::string> removed;
        // More changes wait after these.
        bool more = false;
    };
    // Takes up to `most` of the waiting changes, in the order of their paths.
    Batch takeChanges(std::size_t most);

    // The first walk has ended: every folder is under watch (tests wait for it).
    bool ready() const;

private:
    struct Pending
    {
        std::optional<KeyedPath> added; // none: removed
    };
    struct Unsettled
    {
        QString display;
        struct timespec modified;
        off_t size = 0;
    };
    struct RescanRoot
    {
        std::string folder;
        Clock::time_point due;
    };

    void run(std::stop_token stop);
    void walk(const std::string& folder, bool mayBeFilling, std::stop_token stop);
    // Walks the folder and lets the pictures known below it that the walk did not see leave.
    void walkAndCompare(const std::string& folder, std::stop_token stop);
    Clock::duration rescanInterval() const;
    bool enterFolder(int fd, const std::string& rawFolder);
    // The folder of `watch`, known as `oldFolder`, is now found at `rawFolder`.
    void moveWatch(int watch, const std::string& oldFolder, const std::string& rawFolder);
    void readEvents(std::stop_token stop);
    void handleEvent(const inotify_event& event, std::stop_token stop);
    // An entry that is not a folder was made in `folder`, or moved in: a file, or a link.
    void entryArrived(const std::string& folder, const std::string& name, bool made,
                      std::stop_token stop);
    // A link to a file, or a hard link, was made at `path`: it joins once settled.
    void considerMade(const std::string& folder, const std::string& name, const std::string& path);
    // The file `name` in `folder` is complete: closed after writing, or moved in whole.
    void pictureComplete(const std::string& folder, const std::string& name);
    // Walks the whole tree and compares.
    void walkTree(std::stop_token stop);
    // The root was removed: its pictures leave, and it is looked for until it is back.
    void rootGone();
    void checkRootBack(std::stop_token stop);
    // Searches m_rescanRoots[index] again and compares.
    void rescan(std::size_t index, std::stop_token stop);
    void checkUnsettled();
    void consider(const QString& display, const std::string& path, bool mayBeFilling);
    void join(const QString& display, const std::string& path);
    void leave(const std::string& path);
    void forgetFolder(const std::string& folder);
    void addRescanRoot(const std::string& folder, const std::string& why);
    void reportRescanRoots();
    std::optional<Clock::time_point> nextDeadline() const;

    const std::string m_root;
    const std::function<void()> m_onChanges;
    const Settings m_settings;

    // The watcher thread's own state.
    int m_inotify = -1;
    int m_wake = -1;
    PathCollation m_collation;
    std::set<std::string> m_known;
    std::unordered_map<int, std::string> m_folders; // watch -> folder
    std::map<std::string, int> m_watches;           // folder -> watch
    std::map<std::string, Unsettled> m_unsettled;
    std::vector<RescanRoot> m_rescanRoots;
    std::unordered_set<std::string> m_rescanFolders;               // the folders of m_rescanRoots
    std::vector<std::pair<std::string, std::string>> m_unreported; // folder, why
    std::chrono::duration<double> m_lastRescan{0};
    // While a walk compares, the pictures it has seen.
    std::set<std::string>* m_seen = nullptr;
    // Events were lost, or a link to a folder went: the whole tree is walked again once the
    // events read so far have been handled.
    bool m_walkAgain = false;
    // The root was removed and is not back yet.
    bool m_rootGone = false;
    // Whether the walk under way entered the root.
    bool m_rootEntered = false;

    // Shared with the owner's thread.
    mutable std::mutex m_mutex;
    std::map<std::string, Pending> m_pending;
    bool m_ready = false;

    // Declared last: it starts once everything it uses exists.
    std::jthread m_thread;
};
