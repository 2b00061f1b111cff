// The window's end of the folder watch: the watcher's reports become slices of changes on the
// owner's thread.
#include "show/showwatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>

using namespace std::chrono_literals;

TEST(ShowWatch, ABurstComesInSlicesUntilNothingWaits)
{
    int argc = 1;
    char name[] = "test_showwatch";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    QTemporaryDir scratch(QDir::tempPath() + "/lumivane-showwatch-XXXXXX");
    const std::string base = scratch.path().toStdString() + "/";
    const std::string root = base + "show/";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((base + "burst").c_str(), 0755), 0);
    constexpr std::size_t Burst = 2 * ShowWatch::SliceSize + 100;
    for (std::size_t i = 0; i < Burst; ++i)
        std::ofstream(base + "burst/" + std::to_string(i) + ".jpg") << "picture";

    std::set<std::string> added;
    std::size_t largest = 0;
    std::size_t slices = 0;
    FolderWatcher::Settings settings;
    settings.settleTime = 0ms;
    ShowWatch watch(root, {}, settings, [&](ListChanges changes) {
        largest = std::max(largest, changes.added.size() + changes.removed.size());
        ++slices;
        for (const KeyedPath& keyed : changes.added)
            added.insert(keyed.entry.path);
    });
    while (!watch.watcher().ready())
        std::this_thread::sleep_for(10ms);

    // The whole burst waits in the watcher before the owner's thread takes any of it: the first
    // report must bring the rest in further slices of its own.
    ASSERT_EQ(std::rename((base + "burst").c_str(), (root + "burst").c_str()), 0);
    std::this_thread::sleep_for(300ms);
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (added.size() < Burst && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(added.size(), Burst);
    EXPECT_EQ(largest, ShowWatch::SliceSize);
    EXPECT_GE(slices, 3u);
}
