// Benchmarks of the picture search: the walk of a generated tree next to find(1) over the same
// tree with the same name test, and a million adds to the sorted list.
//
// The tree (about 200,000 entries: 2,040 folders, 196,000 files of which one in ten is a picture)
// is made once under $LUMIVANE_BENCH_TREE, or /tmp/lumivane-bench-search-v1 when that is unset,
// and reused by later runs.

#include "search/searchthread.h"
#include "search/sortedstringlist.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTopFolders = 40;
constexpr int kSubFolders = 50;
constexpr int kFilesPerFolder = 98;

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

std::string benchTreeRoot()
{
    const char* configured = std::getenv("LUMIVANE_BENCH_TREE");
    std::string root =
        configured != nullptr && *configured != '\0' ? configured : "/tmp/lumivane-bench-search-v1";
    if (root.back() != '/') {
        root.push_back('/');
    }
    return root;
}

void makeFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        throw std::runtime_error("cannot make " + path);
    }
}

// Every tenth file is a picture, in a mix of spellings; the rest have other extensions or none.
std::string fileName(int index)
{
    static const char* const pictures[] = {".jpg", ".JPG", ".jpeg", ".bmp", ".Jpeg"};
    static const char* const others[] = {".txt", ".png", ".raw", "", ".jpg.bak", ".xmp", ".mov"};
    const std::string stem = "IMG_2024" + std::to_string(100000 + index * 37);
    if (index % 10 == 0) {
        return stem + pictures[(index / 10) % 5];
    }
    return stem + others[index % 7];
}

// Makes the tree unless a finished one is already there.
const std::string& benchTree()
{
    static const std::string root = [] {
        const std::string root = benchTreeRoot();
        const std::string marker = root + ".complete";
        if (access(marker.c_str(), F_OK) == 0) {
            return root;
        }
        std::fprintf(stderr, "Making the benchmark tree under %s...\n", root.c_str());
        makeFolder(root);
        for (int top = 0; top < kTopFolders; ++top) {
            const std::string topFolder = root + "Album " + std::to_string(top) + "/";
            makeFolder(topFolder);
            for (int sub = 0; sub < kSubFolders; ++sub) {
                const std::string folder = topFolder + "Day" + std::to_string(sub) + "/";
                makeFolder(folder);
                for (int file = 0; file < kFilesPerFolder; ++file) {
                    const std::string path = folder + fileName(file);
                    close(open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
                }
            }
        }
        std::ofstream(marker) << "done\n";
        return root;
    }();
    return root;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double timeFind(const std::string& root)
{
    const std::string command = "find '" + root +
                                "' -type f \\( -iname '*.jpg' -o -iname '*.jpeg' -o -iname "
                                "'*.bmp' \\) -print > /dev/null";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("find failed");
    }
    return secondsSince(start);
}

double timeWalk(const std::string& root, std::size_t& found)
{
    GuardedList list(kEnglish);
    const auto start = Clock::now();
    {
        SearchThread thread(list, root);
        while (!thread.scanDone()) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
    const double seconds = secondsSince(start);
    found = list.unguarded().count();
    return seconds;
}

// Runs find and the search thread alternately over the same warm tree, so that both see the same
// cache state, and reports both times and their ratio. The iteration time is the walk's.
void BM_WalkVersusFind(benchmark::State& state)
{
    const std::string& root = benchTree();
    timeFind(root); // Warms the cache for both.
    double findTotal = 0;
    double walkTotal = 0;
    std::size_t found = 0;
    for (auto _ : state) {
        findTotal += timeFind(root);
        const double walk = timeWalk(root, found);
        walkTotal += walk;
        state.SetIterationTime(walk);
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["find_ms"] = 1000 * findTotal / n;
    state.counters["walk_ms"] = 1000 * walkTotal / n;
    state.counters["walk/find"] = walkTotal / findTotal;
    state.counters["pictures"] = static_cast<double>(found);
}
BENCHMARK(BM_WalkVersusFind)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Paths shaped like a photo collection, in random order.
std::vector<std::string> makePaths(std::size_t count)
{
    std::mt19937 random(42);
    std::vector<std::string> result;
    result.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        result.push_back("/home/user/Pictures/" + std::to_string(2000 + i % 25) + "/Trip " +
                         std::to_string(i / 1000 % 400) + "/IMG_" + std::to_string(i) +
                         (i % 3 == 0 ? ".JPG" : ".jpg"));
    }
    std::shuffle(result.begin(), result.end(), random);
    return result;
}

void BM_SortedListAdd(benchmark::State& state)
{
    const std::vector<std::string> paths = makePaths(static_cast<std::size_t>(state.range(0)));
    std::vector<QString> displays;
    displays.reserve(paths.size());
    for (const std::string& path : paths) {
        displays.push_back(QString::fromStdString(path).toLower());
    }
    std::unique_ptr<SortedStringList> list;
    for (auto _ : state) {
        // Freeing the previous list is not part of the adds.
        state.PauseTiming();
        list.reset();
        list = std::make_unique<SortedStringList>(kEnglish);
        state.ResumeTiming();
        for (std::size_t i = 0; i < paths.size(); ++i) {
            list->add(displays[i], paths[i]);
        }
        benchmark::DoNotOptimize(list->count());
    }
    state.counters["ns_per_add"] = benchmark::Counter(
        static_cast<double>(paths.size()) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SortedListAdd)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The search screen's read every 30 ms: the count and the last entry, under the lock.
void BM_ProgressRead(benchmark::State& state)
{
    GuardedList list(kEnglish);
    for (const std::string& path : makePaths(100000)) {
        list.add(QString::fromStdString(path), path);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(list.progress());
    }
}
BENCHMARK(BM_ProgressRead);

} // namespace
