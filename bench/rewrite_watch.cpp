// One picture of a watched show written again and again, as a webcam's snapshot or a weather
// map is: the folder watch, the living order and the show's list of paths to open, without the
// window. Each write waits until the show has taken it in, so that every one counts as a
// rewrite. It reports the resident memory after a warm-up and after the rewrites.
//   build/bench/rewrite_watch [--rewrites=10000]
#include "bench/benchsupport.h"
#include "show/showwatch.h"
#include "show/slidepictures.h"
#include "show/slidesequence.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Writes the snapshot in place and waits until the show has given it a new id.
bool rewrite(const std::string& path, const LivingOrder& living)
{
    const int before = living.idCount();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(4096, 'x');
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (living.idCount() == before) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    int rewrites = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--rewrites=", 0) == 0)
            rewrites = std::max(1, std::atoi(argument.c_str() + 11));
    }
    QTemporaryDir scratch;
    const std::string root =
        QFile::encodeName(scratch.path()).toStdString() + "/Pictures/webcam/garden/";
    QDir().mkpath(QFile::decodeName(root.c_str()));
    const std::string snapshot = root + "garden-webcam-snapshot-latest.jpg";
    std::ofstream(snapshot, std::ios::binary) << "first";

    // The show as the window keeps it: the list, the order following it, the paths to open.
    SortedStringList list;
    list.add(QFile::decodeName(snapshot.c_str()), snapshot);
    SlideSequence sequence(1, SlideMotion::Frames, 4.5, ShowOrder::Sorted, std::mt19937(1));
    sequence.follow(list, std::mt19937(1));
    SlidePictures pictures;
    pictures.addPaths({snapshot});
    FolderWatcher::Settings settings;
    ShowWatch watch(root, {snapshot}, settings, [&](ListChanges changes) {
        const LivingOrder::Outcome outcome = sequence.applyChanges(std::move(changes), true);
        std::vector<std::string> paths;
        for (int id : outcome.newIds)
            paths.push_back(sequence.living()->entry(id).path);
        pictures.addPaths(paths);
    });
    while (!watch.watcher().ready())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const LivingOrder& living = *sequence.living();
    const int warmUp = std::min(1000, rewrites);
    for (int i = 0; i < warmUp; ++i) {
        if (!rewrite(snapshot, living)) {
            std::fprintf(stderr, "a rewrite was not taken in\n");
            return 1;
        }
    }
    const long before = bench::processStatusKb("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rewrites; ++i) {
        if (!rewrite(snapshot, living)) {
            std::fprintf(stderr, "a rewrite was not taken in\n");
            return 1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = bench::processStatusKb("VmRSS:");
    std::printf("%d rewrites in %.1f s: resident %ld KB after the warm-up, %ld KB after "
                "(%+ld KB), %d ids\n",
                rewrites, seconds, before, after, after - before, living.idCount());
    return 0;
}
