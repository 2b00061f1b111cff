// The watch of the show's folder: pictures that join and leave by events and by the periodic
// search where events do not come.
#include "search/folderwatcher.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Collects what the watcher reports, most recent report of a path winning.
class Changes
{
public:
    explicit Changes(FolderWatcher& watcher) : m_watcher(watcher) {}

    // Takes changes until `done` holds or 5 s have passed.
    bool waitFor(const std::function<bool(const Changes&)>& done)
    {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < end) {
            take();
            if (done(*this))
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    void take()
    {
        const FolderWatcher::Batch batch = m_watcher.takeChanges(3);
        for (const KeyedPath& keyed : batch.added) {
            added.insert(keyed.entry.path);
            displays.insert(keyed.entry.display.toStdString());
            removed.erase(keyed.entry.path);
        }
        for (const std::string& path : batch.removed) {
            removed.insert(path);
            added.erase(path);
        }
    }

    void clear()
    {
        added.clear();
        removed.clear();
    }

    std::set<std::string> added;
    std::set<std::string> removed;
    std::set<std::string> displays;

private:
    FolderWatcher& m_watcher;
};

void write(const std::string& path, const std::string& content = "picture")
{
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace

TEST(FolderWatcher, PicturesJoinWhenCompleteAndLeaveWithTheirFolders)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string base = scratch.path().toStdString() + "/";
    const std::string root = base + "show/";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "Sub").c_str(), 0755), 0);
    write(root + "a.jpg");
    write(root + "Sub/b.jpg");
    // Found by the search but gone before the watch began; and one that came in between.
    write(root + "between.jpg");

    FolderWatcher::Settings settings;
    settings.settleTime = 100ms;
    FolderWatcher watcher(root, {root + "a.jpg", root + "Sub/b.jpg", root + "gone.jpg"}, {},
                          settings);
    Changes changes(watcher);
    ASSERT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.removed.contains(root + "gone.jpg") && c.added.contains(root + "between.jpg");
    }));
    ASSERT_TRUE(watcher.ready());
    changes.clear();

    // A file being written is not reported before it is closed.
    {
        std::ofstream partial(root + "New.JPG", std::ios::binary);
        partial << "half";
        partial.flush();
        std::this_thread::sleep_for(150ms);
        changes.take();
        EXPECT_TRUE(changes.added.empty());
        partial << " and the rest";
    }
    // A sync tool's temporary name renamed to the picture's; a file that is no picture.
    write(root + ".c.jpg.tmp");
    ASSERT_EQ(std::rename((root + ".c.jpg.tmp").c_str(), (root + "c.jpg").c_str()), 0);
    write(root + "notes.txt");
    std::remove((root + "a.jpg").c_str());
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added == std::set<std::string>{root + "New.JPG", root + "c.jpg"} &&
               c.removed == std::set<std::string>{root + "a.jpg"};
    }));
    EXPECT_TRUE(changes.displays.contains(root + "new.jpg"));
    changes.clear();

    // A folder moved in joins all its pictures; a new folder is watched; a folder moved out
    // takes its pictures with it.
    ASSERT_EQ(mkdir((base + "trip").c_str(), 0755), 0);
    for (const char* name : {"1.jpg", "2.bmp", "3.jpeg"})
        write(base + "trip/" + name);
    ASSERT_EQ(std::rename((base + "trip").c_str(), (root + "trip").c_str()), 0);
    ASSERT_EQ(std::rename((root + "Sub").c_str(), (base + "Sub").c_str()), 0);
    ASSERT_EQ(mkdir((root + "fresh").c_str(), 0755), 0);
    write(root + "fresh/f.jpg");
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added == std::set<std::string>{root + "trip/1.jpg", root + "trip/2.bmp",
                                                root + "trip/3.jpeg", root + "fresh/f.jpg"} &&
               c.removed == std::set<std::string>{root + "Sub/b.jpg"};
    }));
    changes.clear();

    // Written again after it joined: reported again, so the show reads it anew. What happens
    // in the folder moved out is no longer the show's.
    write(root + "c.jpg", "new contents");
    write(base + "Sub/late.jpg");
    EXPECT_TRUE(changes.waitFor(
        [&](const Changes& c) { return c.added == std::set<std::string>{root + "c.jpg"}; }));
    std::this_thread::sleep_for(100ms);
    changes.take();
    EXPECT_EQ(changes.added, std::set<std::string>{root + "c.jpg"});
}

TEST(FolderWatcher, WithoutEventsThePeriodicSearchFindsTheSameChanges)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string root = scratch.path().toStdString() + "/";
    write(root + "a.jpg");
    write(root + "b.jpg");
    FolderWatcher::Settings settings;
    settings.eventsOff = true;
    settings.minRescanInterval = 50ms;
    settings.settleTime = 0ms;
    FolderWatcher watcher(root, {root + "a.jpg", root + "b.jpg"}, {}, settings);
    Changes changes(watcher);
    ASSERT_TRUE(changes.waitFor([&](const Changes&) { return watcher.ready(); }));
    EXPECT_TRUE(changes.added.empty() && changes.removed.empty());

    ASSERT_EQ(mkdir((root + "later").c_str(), 0755), 0);
    write(root + "later/c.jpg");
    std::remove((root + "a.jpg").c_str());
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added == std::set<std::string>{root + "later/c.jpg"} &&
               c.removed == std::set<std::string>{root + "a.jpg"};
    }));
    // Nothing changed: nothing is reported again.
    changes.clear();
    std::this_thread::sleep_for(200ms);
    changes.take();
    EXPECT_TRUE(changes.added.empty() && changes.removed.empty());
}

TEST(FolderWatcher, FoldersLeftWithoutWatchesAreSearchedAgain)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string root = scratch.path().toStdString() + "/";
    ASSERT_EQ(mkdir((root + "one").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((root + "two").c_str(), 0755), 0);
    FolderWatcher::Settings settings;
    settings.watchLimit = 1;
    settings.minRescanInterval = 50ms;
    settings.settleTime = 0ms;
    FolderWatcher watcher(root, {}, {}, settings);
    Changes changes(watcher);
    ASSERT_TRUE(changes.waitFor([&](const Changes&) { return watcher.ready(); }));
    // The root has its watch; the two folders below it are searched again.
    write(root + "one/a.jpg");
    write(root + "two/b.jpg");
    write(root + "c.jpg");
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added ==
               std::set<std::string>{root + "one/a.jpg", root + "two/b.jpg", root + "c.jpg"};
    }));
}

TEST(FolderWatcher, AFileFoundByAWalkJoinsOnceItHasStoppedChanging)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string root = scratch.path().toStdString() + "/";
    const std::string path = root + "growing.jpg";
    write(path);
    FolderWatcher::Settings settings;
    settings.settleTime = 300ms;
    FolderWatcher watcher(root, {}, {}, settings);
    Changes changes(watcher);
    ASSERT_TRUE(changes.waitFor([&](const Changes&) { return watcher.ready(); }));
    ASSERT_TRUE(changes.added.empty());
    // A copy that keeps its source's old time on every piece it writes: the time alone would
    // call it settled, but its size still changes between two looks. (Held open, it sends no
    // event of its own before the end.)
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const auto end = std::chrono::steady_clock::now() + 1200ms;
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_EQ(::write(fd, "more", 4), 4);
        const struct timespec old[2] = {{0, UTIME_OMIT}, {std::time(nullptr) - 3600, 0}};
        ASSERT_EQ(futimens(fd, old), 0);
        std::this_thread::sleep_for(40ms);
        changes.take();
        ASSERT_TRUE(changes.added.empty());
    }
    close(fd);
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) { return c.added.contains(path); }));
}

TEST(FolderWatcher, AFolderRenamedWhileTheEventQueueOverflowsKeepsItsPictures)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string root = scratch.path().toStdString() + "/";
    ASSERT_EQ(mkdir((root + "old").c_str(), 0755), 0);
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg"})
        write(root + "old/" + name);
    FolderWatcher::Settings settings;
    settings.settleTime = 0ms;
    // The report of a change holds the watcher's thread while the test fills its queue.
    std::atomic<bool> hold{false};
    std::atomic<bool> held{false};
    FolderWatcher watcher(
        root, {root + "old/1.jpg", root + "old/2.jpg", root + "old/3.jpg"},
        [&] {
            held = true;
            while (hold)
                std::this_thread::sleep_for(1ms);
        },
        settings);
    Changes changes(watcher);
    ASSERT_TRUE(changes.waitFor([&](const Changes&) { return watcher.ready(); }));
    hold = true;
    write(root + "first.jpg");
    ASSERT_TRUE(changes.waitFor([&](const Changes&) { return held.load(); }));

    // More events than the kernel's queue holds (two files in turn, since a repeat of the last
    // event is merged into it), then the rename, whose events are lost.
    long limit = 16384;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    write(root + "a.txt");
    write(root + "b.txt");
    for (long i = 0; i <= limit; ++i) {
        // Opened for writing and closed: an event, and nothing written.
        const int fd = open((root + (i % 2 == 0 ? "a.txt" : "b.txt")).c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    ASSERT_EQ(std::rename((root + "old").c_str(), (root + "new").c_str()), 0);
    hold = false;
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added == std::set<std::string>{root + "first.jpg", root + "new/1.jpg",
                                                root + "new/2.jpg", root + "new/3.jpg"} &&
               c.removed == std::set<std::string>{root + "old/1.jpg", root + "old/2.jpg",
                                                  root + "old/3.jpg"};
    }));
    // Its watch goes on under the new name.
    changes.clear();
    write(root + "new/4.jpg");
    EXPECT_TRUE(changes.waitFor(
        [&](const Changes& c) { return c.added == std::set<std::string>{root + "new/4.jpg"}; }));
}

namespace {

// Makes a folder holding z.jpg and a link to it in `root`, named so that a walk of `root` meets
// the link first (the order of a folder's entries is the file system's). Returns the folder's
// and the link's names.
std::pair<std::string, std::string> folderBehindItsLink(const std::string& root)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string number = std::to_string(attempt);
        const std::string folder = std::string("f").append(number);
        const std::string link = std::string("l").append(number);
        // Some file systems list in the order of making: both orders are tried.
        const bool linkMadeFirst = attempt % 2 != 0;
        if (linkMadeFirst && symlink(folder.c_str(), (root + link).c_str()) != 0)
            break;
        if (mkdir((root + folder).c_str(), 0755) != 0)
            break;
        if (!linkMadeFirst && symlink(folder.c_str(), (root + link).c_str()) != 0)
            break;
        std::string first;
        if (DIR* dir = opendir(root.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name == folder || name == link) {
                    first = name;
                    break;
                }
            }
            closedir(dir);
        }
        if (first == link) {
            write(root + folder + "/z.jpg");
            return {folder, link};
        }
        unlink((root + link).c_str());
        rmdir((root + folder).c_str());
    }
    ADD_FAILURE() << "no names found that list the link first";
    return {};
}

} // namespace

TEST(FolderWatcher, LinksJoinAsWhatTheyLeadToAndTakeItsPicturesWhenTheyGo)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string base = scratch.path().toStdString() + "/";
    const std::string root = base + "show/";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((base + "outside").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((base + "empty").c_str(), 0755), 0);
    write(base + "outside/o.jpg");
    write(base + "pic.jpg");
    const auto [folder, link] = folderBehindItsLink(root);
    ASSERT_FALSE(folder.empty());
    FolderWatcher::Settings settings;
    settings.settleTime = 0ms;
    FolderWatcher watcher(root, {}, {}, settings);
    Changes changes(watcher);
    // The folder is walked once, through the link.
    ASSERT_TRUE(changes.waitFor([&](const Changes& c) {
        return watcher.ready() && c.added == std::set<std::string>{root + link + "/z.jpg"};
    }));
    changes.clear();

    // Links made in the tree: to folders, to a picture, one that leads nowhere, a hard one, and
    // one to the folder walked already, which stays where it was found first.
    ASSERT_EQ(symlink((base + "outside").c_str(), (root + "ext").c_str()), 0);
    ASSERT_EQ(symlink((base + "empty").c_str(), (root + "empty").c_str()), 0);
    ASSERT_EQ(symlink(folder.c_str(), (root + "again").c_str()), 0);
    ASSERT_EQ(symlink((base + "pic.jpg").c_str(), (root + "p.jpg").c_str()), 0);
    ASSERT_EQ(symlink((base + "none.jpg").c_str(), (root + "dangling.jpg").c_str()), 0);
    ASSERT_EQ(::link((base + "pic.jpg").c_str(), (root + "hard.jpg").c_str()), 0);
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added ==
               std::set<std::string>{root + "ext/o.jpg", root + "p.jpg", root + "hard.jpg"};
    }));
    std::this_thread::sleep_for(100ms);
    changes.take();
    EXPECT_TRUE(changes.removed.empty());
    changes.clear();

    // The links go: their pictures with them, and their folders' watches (one that held no
    // picture yet reports nothing more). The folder is still reached by its own name, and its
    // pictures come back under it, watched there.
    ASSERT_EQ(unlink((root + "again").c_str()), 0);
    ASSERT_EQ(unlink((root + link).c_str()), 0);
    ASSERT_EQ(unlink((root + "ext").c_str()), 0);
    ASSERT_EQ(unlink((root + "empty").c_str()), 0);
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added == std::set<std::string>{root + folder + "/z.jpg"} &&
               c.removed == std::set<std::string>{root + link + "/z.jpg", root + "ext/o.jpg"};
    }));
    changes.clear();
    write(base + "empty/e.jpg");
    write(root + folder + "/late.jpg");
    EXPECT_TRUE(changes.waitFor([&](const Changes& c) {
        return c.added == std::set<std::string>{root + folder + "/late.jpg"};
    }));
    std::this_thread::sleep_for(100ms);
    changes.take();
    EXPECT_EQ(changes.added, std::set<std::string>{root + folder + "/late.jpg"});
}

TEST(FolderWatcher, ARootRemovedAndMadeAgainIsWatchedAgain)
{
    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-watch-XXXXXX");
    const std::string root = scratch.path().toStdString() + "/show/";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    write(root + "a.jpg");
    FolderWatcher::Settings settings;
    settings.settleTime = 100ms;
    FolderWatcher watcher(root, {root + "a.jpg"}, {}, settings);
    Changes changes(watcher);
    ASSERT_TRUE(changes.waitFor([&](const Changes&) { return watcher.ready(); }));

    ASSERT_EQ(std::remove((root + "a.jpg").c_str()), 0);
    ASSERT_EQ(rmdir(root.c_str()), 0);
    ASSERT_TRUE(changes.waitFor(
        [&](const Changes& c) { return c.removed == std::set<std::string>{root + "a.jpg"}; }));
    changes.clear();

    // Made again with a picture in it, and a picture copied in later: each joins within a
    // second or so of its coming.
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    write(root + "b.jpg");
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(changes.waitFor(
        [&](const Changes& c) { return c.added == std::set<std::string>{root + "b.jpg"}; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    write(root + "c.jpg");
    start = std::chrono::steady_clock::now();
    ASSERT_TRUE(changes.waitFor([&](const Changes& c) { return c.added.contains(root + "c.jpg"); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}
