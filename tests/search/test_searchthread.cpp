#include "search/searchthread.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <fstream>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// A scratch folder whose path ends with "/", as the search folder always does.
class ScratchTree
{
public:
    explicit ScratchTree(const QString& base = QDir::tempPath())
        : m_dir(base + "/lumivane-search-XXXXXX")
    {
        EXPECT_TRUE(m_dir.isValid());
    }

    const std::string& root() const { return m_root; }

    // Makes each entry in turn: a folder when its name ends with "/", an empty file otherwise.
    void make(std::initializer_list<std::string> entries) const
    {
        for (const std::string& entry : entries) {
            if (entry.back() == '/') {
                ASSERT_EQ(mkdir((m_root + entry).c_str(), 0755), 0) << entry;
            } else {
                makeFile(entry);
            }
        }
    }

    void makeFile(const std::string& relative, const std::string& content = {}) const
    {
        std::ofstream(m_root + relative, std::ios::binary) << content;
    }

    void makeLink(const std::string& relative, const std::string& target) const
    {
        ASSERT_EQ(symlink(target.c_str(), (m_root + relative).c_str()), 0) << relative;
    }

private:
    QTemporaryDir m_dir;
    std::string m_root = m_dir.path().toStdString() + "/";
};

// Runs a whole search. A walk that hangs fails the test after a generous limit, when destroying
// the thread stops it.
std::vector<PathEntry> searchAll(const std::string& root,
                                 PictureFormats formats = PictureFormats::Design)
{
    GuardedList list(kEnglish);
    {
        SearchThread thread(list, root, formats);
        const auto deadline = Clock::now() + 20s;
        while (!thread.scanDone() && Clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(thread.scanDone()) << "the search did not finish";
    }
    std::vector<PathEntry> entries;
    for (std::size_t i = 0; i < list.unguarded().count(); ++i) {
        entries.push_back(list.unguarded().at(i));
    }
    return entries;
}

std::vector<std::string> displaysBelow(const std::vector<PathEntry>& entries,
                                       const std::string& root)
{
    std::vector<std::string> result;
    for (const PathEntry& entry : entries) {
        const std::string display = entry.display.toStdString();
        EXPECT_EQ(display.rfind(root, 0), 0u) << display;
        result.push_back(display.substr(root.size()));
    }
    return result;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(SearchThread, ListsPicturesInCollationOrderWithLowerCasedNamesAndPathsAsFound)
{
    ScratchTree tree;
    tree.make({"a.Bmp", "notes.txt", "Trip/", "Trip/IMG_0001.JPG", "Old/", "Old/x.jpeg"});
    // Two pictures whose names differ only in case are two pictures, each opened by its own path.
    tree.make({"Twins/"});
    tree.makeFile("Twins/Beach.jpg", "upper");
    tree.makeFile("Twins/beach.JPG", "lower");

    const auto entries = searchAll(tree.root());
    EXPECT_THAT(displaysBelow(entries, tree.root()),
                testing::ElementsAre("a.bmp", "Old/x.jpeg", "Trip/img_0001.jpg", "Twins/beach.jpg",
                                     "Twins/beach.jpg"));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].path, tree.root() + "a.Bmp");
    EXPECT_EQ(entries[2].path, tree.root() + "Trip/IMG_0001.JPG");
    EXPECT_EQ(readFile(entries[3].path), "upper");
    EXPECT_EQ(readFile(entries[4].path), "lower");
}

TEST(SearchThread, ChoosesRegularFilesByExtensionAndWalksEveryFolder)
{
    ScratchTree tree;
    ScratchTree outside;
    outside.make({"z.jpg"});
    for (const char* name : {"A.JPG", "b.Jpeg", "c.BMP", ".jpg", "d.jpe", "e.jfif", "f.png",
                             "g.gif", "h.tif", "a.jpg.bak", "jpg", ".hidden.jpg"}) {
        tree.makeFile(name);
    }
    tree.make({"holiday.jpg/", "holiday.jpg/inner.jpg", ".cache/", ".cache/thumb.bmp", "PHOTOS/",
               "PHOTOS/X.JPG", "deep/", "deep/er/", "deep/er/z.jpg"});
    // Links count as what they point at; FIFOs and dangling links are not pictures.
    ASSERT_EQ(mkfifo((tree.root() + "pipe.jpg").c_str(), 0644), 0);
    tree.makeLink("gone.jpg", "nothing-here.jpg");
    tree.makeLink("alias.jpg", "A.JPG");
    tree.makeLink("linked", outside.root());

    EXPECT_THAT(displaysBelow(searchAll(tree.root()), tree.root()),
                testing::UnorderedElementsAre("a.jpg", "b.jpeg", "c.bmp", ".jpg", ".hidden.jpg",
                                              "holiday.jpg/inner.jpg", ".cache/thumb.bmp",
                                              "PHOTOS/x.jpg", "deep/er/z.jpg", "alias.jpg",
                                              "linked/z.jpg"));
}

// The further formats are collected only when asked for, by the same extension rules; the
// default finds exactly what it found before they existed.
TEST(SearchThread, FurtherFormatsOnlyWhenAskedFor)
{
    ScratchTree tree;
    for (const char* name : {"a.jpg", "b.PNG", "c.gif", "d.WebP", "e.tif", "f.TIFF", "g.heic",
                             "h.HEIF", "i.avif", "j.png.txt", "k.jxl", "l.bmp"})
        tree.makeFile(name);
    EXPECT_THAT(displaysBelow(searchAll(tree.root()), tree.root()),
                testing::ElementsAre("a.jpg", "l.bmp"));
    EXPECT_THAT(displaysBelow(searchAll(tree.root(), PictureFormats::All), tree.root()),
                testing::ElementsAre("a.jpg", "b.png", "c.gif", "d.webp", "e.tif", "f.tiff",
                                     "g.heic", "h.heif", "i.avif", "l.bmp"));
}

TEST(SearchThread, EmptyOrUnlistableFolderGivesAnEmptyListAndFinishes)
{
    ScratchTree tree;
    EXPECT_TRUE(searchAll(tree.root()).empty());
    EXPECT_TRUE(searchAll(tree.root() + "no-such-folder/").empty());
    tree.make({"plain-file"});
    EXPECT_TRUE(searchAll(tree.root() + "plain-file/").empty());
}

TEST(SearchThread, LinkLoopsEndPromptlyWithEachPictureListedOnce)
{
    ScratchTree tree;
    tree.make({"p.jpg", "a/", "b/", "a/q.jpg", "b/r.jpg"});
    tree.makeLink("a/self", ".");
    tree.makeLink("a/root", tree.root());
    tree.makeLink("a/up", "..");
    tree.makeLink("b/up", "..");
    // Two crossed loops: without a check each level would double the walk.
    tree.makeLink("a/tob", "../b");
    tree.makeLink("b/toa", "../a");

    const auto start = Clock::now();
    const auto entries = searchAll(tree.root());
    EXPECT_LT(Clock::now() - start, 5s);
    std::map<ino_t, int> listings;
    for (const PathEntry& entry : entries) {
        struct stat info;
        ASSERT_EQ(stat(entry.path.c_str(), &info), 0) << entry.path;
        ++listings[info.st_ino];
    }
    EXPECT_EQ(listings.size(), 3u);
    for (const auto& [inode, count] : listings) {
        EXPECT_EQ(count, 1) << "inode " << inode;
    }
}

// Each folder is walked once, under the first path that reaches it, however many links lead to
// it: 40 folders, each with two links to the next, hold 40 pictures, not 2^40 - 1.
TEST(SearchThread, AFolderReachedByManyPathsIsListedOnce)
{
    ScratchTree tree;
    ScratchTree levels;
    constexpr int kLevels = 40;
    const auto folder = [](int level) {
        std::string name = "L";
        name += std::to_string(level);
        return name + "/";
    };
    for (int level = 0; level < kLevels; ++level) {
        levels.make({folder(level), folder(level) + "p.jpg"});
        if (level > 0) {
            levels.makeLink(folder(level - 1) + "x", levels.root() + folder(level));
            levels.makeLink(folder(level - 1) + "y", levels.root() + folder(level));
        }
    }
    // The search folder reaches the first level twice, once through a link and once as itself.
    tree.make({"top/"});
    tree.makeLink("top/L0", levels.root() + "L0");
    tree.makeLink("L0", levels.root() + "L0");

    const auto start = Clock::now();
    const auto entries = searchAll(tree.root());
    EXPECT_LT(Clock::now() - start, 2s);
    ASSERT_EQ(entries.size(), std::size_t{kLevels});
    std::map<ino_t, std::string> byFolder;
    for (const PathEntry& entry : entries) {
        // Every path leads down one of the links of each level to its own picture.
        struct stat info;
        ASSERT_EQ(stat(entry.path.c_str(), &info), 0) << entry.path;
        const std::string display = entry.display.toStdString().substr(tree.root().size());
        EXPECT_THAT(display, testing::MatchesRegex("(top/)?L0/([xy]/)*p\\.jpg"));
        byFolder.emplace(info.st_ino, display);
    }
    EXPECT_EQ(byFolder.size(), std::size_t{kLevels});
}

TEST(SearchThread, LeavesOutPathsTooLongToOpen)
{
    ScratchTree tree;
    // Folders are made relative to their parent, as no single path may be that long.
    const std::string folderName(200, 'd');
    std::string relative;
    int parent = open(tree.root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (tree.root().size() + relative.size() < PATH_MAX + 400) {
        ASSERT_EQ(mkdirat(parent, folderName.c_str(), 0755), 0);
        const int child = openat(parent, folderName.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(parent);
        parent = child;
        relative += folderName + "/";
        close(openat(parent, "p.jpg", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    }
    close(parent);

    const auto entries = searchAll(tree.root());
    ASSERT_FALSE(entries.empty());
    EXPECT_LT(entries.size(), relative.size() / (folderName.size() + 1));
    for (const PathEntry& entry : entries) {
        EXPECT_LT(entry.path.size(), std::size_t{PATH_MAX});
        EXPECT_EQ(access(entry.path.c_str(), R_OK), 0);
    }
}

TEST(SearchThread, TakesAPathExactlyAtTheLimitAndNotOneByteOver)
{
    ScratchTree tree;
    // The longest path that open() takes: one byte less than PATH_MAX, which counts the NUL.
    const std::size_t limit = PATH_MAX - 1;
    const std::size_t nameLength = 100;
    std::string folder = tree.root();
    int parent = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Folders of 150 bytes, then one that leaves exactly nameLength bytes for a file name.
    while (folder.size() < limit) {
        const std::size_t left = limit - nameLength - folder.size() - 1;
        const std::string name(left > 200 ? 150 : left, 'd');
        ASSERT_EQ(mkdirat(parent, name.c_str(), 0755), 0);
        const int child = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(parent);
        parent = child;
        folder += name + "/";
        if (left <= 200)
            break;
    }
    ASSERT_EQ(folder.size() + nameLength, limit);
    const std::string atLimit = std::string(nameLength - 4, 'a') + ".jpg";
    const std::string oneOver = std::string(nameLength - 3, 'b') + ".jpg";
    for (const std::string& name : {atLimit, oneOver})
        close(openat(parent, name.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    close(parent);

    const auto entries = searchAll(tree.root());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].path, folder + atLimit);
    EXPECT_EQ(access(entries[0].path.c_str(), R_OK), 0);
}

TEST(SearchThread, DoesNotGoIntoTheKernelsPseudoFileSystems)
{
    ScratchTree tree;
    ScratchTree outside;
    tree.make({"a.jpg", "real/"});
    outside.make({"other/", "other/b.bmp"});
    // Through /proc every process's root and working folder lead back into the whole tree.
    tree.makeLink("proc", "/proc");
    tree.makeLink("sys", "/sys");
    // A link that merely passes through /proc to an ordinary folder is followed.
    tree.makeLink("real/other", "/proc/self/root" + outside.root() + "other");

    const auto start = Clock::now();
    EXPECT_THAT(displaysBelow(searchAll(tree.root()), tree.root()),
                testing::ElementsAre("a.jpg", "real/other/b.bmp"));
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_TRUE(searchAll("/proc/").empty());

    // devtmpfs calls itself tmpfs and is told apart by the device the mount table gives it.
    // Where /dev is one, a picture on the memory file system mounted inside it is found through
    // its own mount but not through /dev.
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    bool devIsDevtmpfs = false;
    while (std::getline(table, line))
        devIsDevtmpfs = devIsDevtmpfs || (line.find(" /dev ") != std::string::npos &&
                                          line.find(" - devtmpfs ") != std::string::npos);
    if (devIsDevtmpfs && QFileInfo("/dev/shm").isWritable()) {
        ScratchTree shm("/dev/shm");
        shm.make({"c.jpg"});
        ScratchTree linked;
        linked.makeLink("dev", "/dev");
        EXPECT_EQ(searchAll(shm.root()).size(), 1u);
        EXPECT_TRUE(searchAll(linked.root()).empty());
    }
}

// A tree of 100 folders with 1000 pictures each, made once for the tests that need a long walk.
class LargeTree : public testing::Test
{
protected:
    static constexpr int kFolders = 100;
    static constexpr int kFilesPerFolder = 1000;

    static void SetUpTestSuite()
    {
        // Memory-backed when available: making and removing 100,000 files on a busy disk can
        // take longer than all the tests together.
        const QFileInfo shm("/dev/shm");
        s_tree = std::make_unique<ScratchTree>(shm.isDir() && shm.isWritable() ? shm.filePath()
                                                                               : QDir::tempPath());
        for (int folder = 0; folder < kFolders; ++folder) {
            // Appended rather than "f" + std::to_string(folder): at -O3, GCC 12 wrongly reports
            // an overlapping copy (-Wrestrict) in the insertion at the front that operator+ does.
            std::string name = "f";
            name += std::to_string(folder);
            s_tree->make({name + "/"});
            for (int file = 0; file < kFilesPerFolder; ++file) {
                const std::string path =
                    s_tree->root() + name + "/P" + std::to_string(file) + ".JPG";
                close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
            }
        }
    }

    static void TearDownTestSuite() { s_tree.reset(); }

    static std::unique_ptr<ScratchTree> s_tree;
};

std::unique_ptr<ScratchTree> LargeTree::s_tree;

TEST_F(LargeTree, StopEndsALongWalkPromptlyAndTheListStaysStill)
{
    GuardedList list(kEnglish);
    auto thread = std::make_unique<SearchThread>(list, s_tree->root());
    while (list.progress().count == 0) {
        std::this_thread::yield();
    }
    const auto start = Clock::now();
    thread->requestStop();
    thread.reset();
    EXPECT_LT(Clock::now() - start, 500ms);

    const std::size_t count = list.unguarded().count();
    EXPECT_LT(count, std::size_t{kFolders * kFilesPerFolder});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(list.unguarded().count(), count);
}

TEST_F(LargeTree, StoppedWalkDoesNotReportDone)
{
    GuardedList list(kEnglish);
    SearchThread thread(list, s_tree->root());
    while (list.progress().count == 0) {
        std::this_thread::yield();
    }
    thread.requestStop();
    // Once the list has stopped growing the walk has ended, cut short or not.
    std::size_t previous = 0;
    std::size_t count = list.progress().count;
    do {
        std::this_thread::sleep_for(100ms);
        previous = count;
        count = list.progress().count;
    } while (count != previous);
    EXPECT_FALSE(thread.scanDone());
    EXPECT_LT(count, std::size_t{kFolders * kFilesPerFolder});
}

TEST_F(LargeTree, ProgressStaysConsistentWhileTheWalkAdds)
{
    GuardedList list(kEnglish);
    std::size_t previous = 0;
    {
        SearchThread thread(list, s_tree->root());
        const auto deadline = Clock::now() + 120s;
        while (!thread.scanDone() && Clock::now() < deadline) {
            const GuardedList::Progress progress = list.progress();
            EXPECT_GE(progress.count, previous);
            EXPECT_EQ(progress.last.has_value(), progress.count > 0);
            previous = progress.count;
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(thread.scanDone());
    }
    const SortedStringList& all = list.unguarded();
    ASSERT_EQ(all.count(), std::size_t{kFolders * kFilesPerFolder});
    EXPECT_EQ(list.progress().last->path, all.at(all.count() - 1).path);
    // "f99/P999.JPG" sorts last: digits collate as characters, not as numbers.
    EXPECT_EQ(all.last()->display.toStdString(), s_tree->root() + "f99/p999.jpg");
}

} // namespace
