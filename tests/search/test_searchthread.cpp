#include "search/searchthread.h"

#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
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
    ScratchTree() { EXPECT_TRUE(m_dir.isValid()); }

    const std::string& root() const { return m_root; }

    void makeFolder(const std::string& relative) const
    {
        ASSERT_EQ(mkdir((m_root + relative).c_str(), 0755), 0) << relative;
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

// Waits for scanDone() with a generous limit, so that a hang fails the test instead of the run.
bool waitForScan(const SearchThread& thread, std::chrono::seconds limit = 60s)
{
    const auto deadline = Clock::now() + limit;
    while (!thread.scanDone()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<PathEntry> searchAll(const std::string& root)
{
    GuardedList list(kEnglish);
    {
        SearchThread thread(list, root);
        EXPECT_TRUE(waitForScan(thread)) << "the search did not finish";
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

TEST(SearchThread, ListsPicturesInCollationOrderWithLowerCasedNames)
{
    ScratchTree tree;
    tree.makeFile("a.Bmp");
    tree.makeFile("notes.txt");
    tree.makeFolder("Trip");
    tree.makeFile("Trip/IMG_0001.JPG");
    tree.makeFolder("Old");
    tree.makeFile("Old/x.jpeg");

    const auto entries = searchAll(tree.root());
    EXPECT_THAT(displaysBelow(entries, tree.root()),
                testing::ElementsAre("a.bmp", "Old/x.jpeg", "Trip/img_0001.jpg"));
    // The paths as found are kept for opening: the lower-cased spelling names no file here.
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].path, tree.root() + "a.Bmp");
    EXPECT_EQ(entries[2].path, tree.root() + "Trip/IMG_0001.JPG");
}

TEST(SearchThread, ChoosesFilesByExtensionAndWalksEveryFolder)
{
    ScratchTree tree;
    for (const char* name : {"A.JPG", "b.Jpeg", "c.BMP", ".jpg", "d.jpe", "e.jfif", "f.png",
                             "g.gif", "h.tif", "a.jpg.bak", "jpg"}) {
        tree.makeFile(name);
    }
    tree.makeFolder("holiday.jpg");
    tree.makeFile("holiday.jpg/inner.jpg");
    tree.makeFile(".hidden.jpg");
    tree.makeFolder(".cache");
    tree.makeFile(".cache/thumb.bmp");
    tree.makeFolder("PHOTOS");
    tree.makeFile("PHOTOS/X.JPG");
    tree.makeFolder("deep");
    tree.makeFolder("deep/er");
    tree.makeFolder("deep/er/est");
    tree.makeFile("deep/er/est/z.jpg");
    tree.makeFolder("empty");

    EXPECT_THAT(displaysBelow(searchAll(tree.root()), tree.root()),
                testing::UnorderedElementsAre(
                    "a.jpg", "b.jpeg", "c.bmp", ".jpg", "holiday.jpg/inner.jpg", ".hidden.jpg",
                    ".cache/thumb.bmp", "PHOTOS/x.jpg", "deep/er/est/z.jpg"));
}

TEST(SearchThread, SkipsEntriesThatAreNeitherFoldersNorFiles)
{
    ScratchTree tree;
    tree.makeFile("real.jpg", "picture");
    ASSERT_EQ(mkfifo((tree.root() + "pipe.jpg").c_str(), 0644), 0);
    tree.makeLink("gone.jpg", "nothing-here.jpg");
    tree.makeLink("alias.jpg", "real.jpg");
    tree.makeFolder("target");
    tree.makeFile("target/t.bmp");
    tree.makeLink("linked", "target");

    const auto entries = searchAll(tree.root());
    EXPECT_THAT(
        displaysBelow(entries, tree.root()),
        testing::UnorderedElementsAre("real.jpg", "alias.jpg", "target/t.bmp", "linked/t.bmp"));
}

TEST(SearchThread, EmptyOrMissingFolderGivesAnEmptyListAndFinishes)
{
    ScratchTree tree;
    EXPECT_TRUE(searchAll(tree.root()).empty());
    EXPECT_TRUE(searchAll(tree.root() + "no-such-folder/").empty());
    tree.makeFile("plain-file");
    EXPECT_TRUE(searchAll(tree.root() + "plain-file/").empty());
}

TEST(SearchThread, KeepsNamesThatDifferOnlyInCaseAndBothOpen)
{
    ScratchTree tree;
    tree.makeFile("Beach.jpg", "upper");
    tree.makeFile("beach.JPG", "lower");

    const auto entries = searchAll(tree.root());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].display, entries[1].display);
    EXPECT_EQ(readFile(entries[0].path), "upper");
    EXPECT_EQ(readFile(entries[1].path), "lower");
}

// Counts how often each file (by inode) was listed.
std::map<ino_t, int> listingsPerFile(const std::vector<PathEntry>& entries)
{
    std::map<ino_t, int> counts;
    for (const PathEntry& entry : entries) {
        struct stat info;
        EXPECT_EQ(stat(entry.path.c_str(), &info), 0) << entry.path;
        ++counts[info.st_ino];
    }
    return counts;
}

TEST(SearchThread, LinkBackUpTheTreeEndsThatBranch)
{
    ScratchTree tree;
    tree.makeFile("p.jpg");
    tree.makeFolder("a");
    tree.makeFile("a/q.jpg");
    tree.makeLink("a/up", "..");
    tree.makeLink("a/self", ".");
    tree.makeLink("a/root", tree.root());

    const auto start = Clock::now();
    const auto entries = searchAll(tree.root());
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_THAT(displaysBelow(entries, tree.root()),
                testing::UnorderedElementsAre("p.jpg", "a/q.jpg"));
}

TEST(SearchThread, TwoCrossedLoopsListEachPictureABoundedNumberOfTimes)
{
    ScratchTree tree;
    tree.makeFolder("a");
    tree.makeFolder("b");
    tree.makeFile("a/q.jpg");
    tree.makeFile("b/r.jpg");
    tree.makeLink("a/up", "..");
    tree.makeLink("b/up", "..");
    tree.makeLink("a/tob", "../b");
    tree.makeLink("b/toa", "../a");

    const auto start = Clock::now();
    const auto entries = searchAll(tree.root());
    EXPECT_LT(Clock::now() - start, 5s);
    const auto counts = listingsPerFile(entries);
    EXPECT_EQ(counts.size(), 2u);
    for (const auto& [inode, count] : counts) {
        EXPECT_LE(count, 2) << "inode " << inode;
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
        s_tree = std::make_unique<ScratchTree>();
        for (int folder = 0; folder < kFolders; ++folder) {
            const std::string name = "f" + std::to_string(folder);
            s_tree->makeFolder(name);
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
    thread.requestStop();
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(thread.scanDone());
}

TEST_F(LargeTree, ProgressStaysConsistentWhileTheWalkAdds)
{
    GuardedList list(kEnglish);
    std::size_t previous = 0;
    int polls = 0;
    {
        SearchThread thread(list, s_tree->root());
        const auto deadline = Clock::now() + 120s;
        while (!thread.scanDone() && Clock::now() < deadline) {
            const GuardedList::Progress progress = list.progress();
            EXPECT_GE(progress.count, previous);
            EXPECT_EQ(progress.last.has_value(), progress.count > 0);
            previous = progress.count;
            ++polls;
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(thread.scanDone());
    }
    const SortedStringList& all = list.unguarded();
    ASSERT_EQ(all.count(), std::size_t{kFolders * kFilesPerFolder});
    EXPECT_EQ(list.progress().last->path, all.at(all.count() - 1).path);
    // "f99/P999.JPG" sorts last: digits collate as characters, not as numbers.
    EXPECT_EQ(all.last()->display.toStdString(), s_tree->root() + "f99/p999.jpg");
    EXPECT_GT(polls, 0);
}

} // namespace
