// A watched show (WATCH=ON) under churn and a burst, in the real window. It fills a tree with
// small pictures, runs the show over it and, from a process of its own, adds one picture
// (written to a temporary name and renamed, as sync tools do) and removes another every 200 ms.
// Then it moves a folder of many pictures in at once. It reports:
//   - join latency: from the rename to the picture being in the show's list, median and worst;
//   - the time until every picture of the burst is in the list;
//   - frame intervals from the window's frame log: median, worst, and frames over 1.5 x median,
//     during the churn and during the burst, against the same show left alone beforehand;
//   - slides that began after their picture had been removed (must be 0);
//   - resident memory after the first minute (or sixth of the run) and at the end.
// Run it under a display:
//   xvfb-run -a -s "-screen 0 1024x768x24" build/bench/bench_watch [--seconds=600]
//       [--tree=2000] [--burst=10000]
#include "app/mainwindow.h"
#include "show/showwatch.h"
#include "bench/benchsupport.h"
#include "tests/support/testpictures.h"
#include "tests/support/windowsetup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using bench::maximum;
using bench::median;
using bench::nowMicros;

long residentKb()
{
    return bench::processStatusKb("VmRSS:");
}

void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    if (!TestPictures::writeFile(path, bytes))
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
}

// Small pictures: the watch is measured, not the decoder.
std::vector<std::uint8_t> smallPicture()
{
    return TestPictures::encodeBmp(TestPictures::makeImage(64, 48, [](int x, int y) {
        return std::array{x * 4, y * 5, 128};
    }));
}

struct Joined
{
    std::string path;
    long long renamed = 0;
};

struct FrameStats
{
    double median = 0;
    double worst = 0;
    int late = 0;
    int frames = 0;
};

FrameStats frameStats(const std::vector<long long>& times, long long from, long long to)
{
    std::vector<double> intervals;
    for (std::size_t i = 1; i < times.size(); ++i) {
        if (times[i - 1] >= from && times[i] <= to)
            intervals.push_back(double(times[i] - times[i - 1]) / 1000.0);
    }
    FrameStats stats;
    stats.median = median(intervals);
    stats.worst = maximum(intervals);
    stats.frames = int(intervals.size());
    for (double interval : intervals)
        stats.late += interval > 1.5 * stats.median;
    return stats;
}

// The churn, in a process of its own so that its allocations do not count in the show's
// resident memory: every 200 ms one picture written to a temporary name and renamed, and one
// removed at random. Each is reported on stdout as "R|D MICROSECONDS PATH".
int churnChild(const std::string& root, int treeSize)
{
    const std::vector<std::uint8_t> picture = smallPicture();
    std::vector<std::string> present;
    for (int i = 0; i < treeSize; ++i)
        present.push_back(root + "album" + std::to_string(i / 100) + "/p" + std::to_string(i) +
                          ".bmp");
    std::mt19937 random(42);
    for (int next = 0;; ++next) {
        const std::string folder = root + "album" + std::to_string(next % 20) + "/";
        const std::string name = "new" + std::to_string(next) + ".bmp";
        writeBytes(folder + ".syncing-" + name + ".tmp", picture);
        std::rename((folder + ".syncing-" + name + ".tmp").c_str(), (folder + name).c_str());
        std::printf("R %lld %s\n", nowMicros(), (folder + name).c_str());
        const std::size_t victim =
            std::uniform_int_distribution<std::size_t>(0, present.size() - 1)(random);
        std::remove(present[victim].c_str());
        std::printf("D %lld %s\n", nowMicros(), present[victim].c_str());
        std::fflush(stdout);
        present[victim] = folder + name;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--churn-child")
        return churnChild(argv[2], std::atoi(argv[3]));
    QApplication app(argc, argv);
    int seconds = 60;
    int treeSize = 2000;
    int burstSize = 10000;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--seconds=", 0) == 0)
            seconds = std::max(5, std::atoi(argument.c_str() + 10));
        else if (argument.rfind("--tree=", 0) == 0)
            treeSize = std::max(10, std::atoi(argument.c_str() + 7));
        else if (argument.rfind("--burst=", 0) == 0)
            burstSize = std::max(0, std::atoi(argument.c_str() + 8));
    }
    WindowSetup::prepareProcess();
    WindowSetup::printMessages();

    const std::vector<std::uint8_t> picture = smallPicture();
    QTemporaryDir scratch;
    const std::string base = QFile::encodeName(scratch.path()).toStdString() + "/";
    const std::string root = base + "show/";
    mkdir(root.c_str(), 0755);
    std::vector<std::string> present;
    for (int i = 0; i < treeSize; ++i) {
        const std::string folder = root + "album" + std::to_string(i / 100) + "/";
        mkdir(folder.c_str(), 0755);
        present.push_back(folder + "p" + std::to_string(i) + ".bmp");
        writeBytes(present.back(), picture);
    }

    const QString logPath = scratch.filePath(QStringLiteral("frames.log"));
    qputenv("LUMIVANE_FRAME_LOG", QFile::encodeName(logPath));
    StartupOptions options;
    options.locations = AppLocations::besideProgram(base);
    options.folderArgument = root;
    options.show.watch = true;
    MainWindow window(std::move(options));
    qunsetenv("LUMIVANE_FRAME_LOG");
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) ||
        !QTest::qWaitFor(
            [&] {
                return !window.controller().handOverPending() && window.controller().showWatch() &&
                       window.controller().showWatch()->watcher().ready();
            },
            60000)) {
        std::fprintf(stderr, "the watched show did not start\n");
        return 1;
    }
    const SortedStringList& list = window.controller().imageList().unguarded();

    // The same show without changes first, for the frames this machine gives anyway.
    const int quietSeconds = std::min(seconds, 30);
    const long long quietStart = nowMicros();
    bench::runEventLoop(quietSeconds * 1000);
    const long long quietEnd = nowMicros();

    // What the churn process renamed and removed, and when (the same monotonic clock).
    std::vector<Joined> waiting;
    std::vector<double> latencies;
    std::map<std::string, long long> removedAt;
    QProcess churn;
    churn.setProgram(QCoreApplication::applicationFilePath());
    churn.setArguments({QStringLiteral("--churn-child"), QFile::decodeName(root.c_str()),
                        QString::number(treeSize)});
    QObject::connect(&churn, &QProcess::readyReadStandardOutput, [&] {
        while (churn.canReadLine()) {
            const QByteArray line = churn.readLine().trimmed();
            const QList<QByteArray> fields = line.split(' ');
            if (fields.size() < 3)
                continue;
            const long long micros = fields[1].toLongLong();
            const std::string path =
                line.mid(fields[0].size() + fields[1].size() + 2).toStdString();
            if (fields[0] == "R")
                waiting.push_back({path, micros});
            else
                removedAt[path] = micros;
        }
    });
    churn.start();

    // The UI thread looks for the joined pictures every 5 ms, as cheaply as the list allows.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const long long now = nowMicros();
        std::erase_if(waiting, [&](const Joined& joined) {
            if (!list.indexOf(joined.path))
                return false;
            latencies.push_back(double(now - joined.renamed) / 1000.0);
            return true;
        });
    });
    poll.start(5);

    const long long churnStart = nowMicros();
    long firstMinuteKb = 0;
    const int firstPart = std::min(60, std::max(1, seconds / 6));
    bench::runEventLoop(firstPart * 1000);
    firstMinuteKb = residentKb();
    bench::runEventLoop((seconds - firstPart) * 1000);
    churn.kill();
    churn.waitForFinished();
    bench::runEventLoop(1500);
    const long long churnEnd = nowMicros();
    const long endKb = residentKb();

    // The burst: a folder of many pictures moved in at once.
    long long burstStart = 0;
    double burstSeconds = -1;
    if (burstSize > 0) {
        const std::string outside = base + "burst/";
        mkdir(outside.c_str(), 0755);
        for (int i = 0; i < burstSize; ++i)
            writeBytes(outside + "b" + std::to_string(i) + ".bmp", picture);
        bench::runEventLoop(1000);
        const std::size_t before = list.count();
        burstStart = nowMicros();
        std::rename(outside.c_str(), (root + "burst").c_str());
        if (bench::runEventLoop(30000,
                                [&] { return list.count() >= before + std::size_t(burstSize); }))
            burstSeconds = double(nowMicros() - burstStart) / 1e6;
        bench::runEventLoop(2000);
    }
    const long long burstEnd = nowMicros();

    // The frames: intervals, and slides that began after their picture had left.
    std::vector<long long> times;
    int lateStarts = 0;
    int slides = 0;
    {
        std::ifstream log(QFile::encodeName(logPath).toStdString());
        long long time = 0;
        int id = 0;
        int frame = 0;
        int path = 0;
        int previous = -2;
        const LivingOrder* living = window.controller().livingOrder();
        while (log >> time >> id >> frame >> path) {
            times.push_back(time);
            if (id == previous || id < 0)
                continue;
            previous = id;
            ++slides;
            const auto removed = removedAt.find(living->entry(id).path);
            // A second for the removal to reach the show.
            if (removed != removedAt.end() && removed->second + 1000000 < time)
                ++lateStarts;
        }
    }
    const FrameStats quietFrames = frameStats(times, quietStart, quietEnd);
    const FrameStats churnFrames = frameStats(times, churnStart, churnEnd);
    const FrameStats burstFrames = frameStats(times, burstStart, burstEnd);

    std::printf("tree %d pictures, churn %d s (one added and one removed every 200 ms), load "
                "average at the end %s\n",
                treeSize, seconds, bench::loadAverage().c_str());
    std::printf("join latency: %zu joined, median %.1f ms, worst %.1f ms, %zu not joined\n",
                latencies.size(), median(latencies), maximum(latencies), waiting.size());
    std::printf("quiet frames: %d, median %.1f ms, worst %.1f ms, %d over 1.5 x median (%d s "
                "without changes first)\n",
                quietFrames.frames, quietFrames.median, quietFrames.worst, quietFrames.late,
                quietSeconds);
    std::printf("churn frames: %d, median %.1f ms, worst %.1f ms, %d over 1.5 x median\n",
                churnFrames.frames, churnFrames.median, churnFrames.worst, churnFrames.late);
    std::printf("slides: %d, begun after their picture had left: %d\n", slides, lateStarts);
    std::printf("resident memory: %ld kB after %d s, %ld kB at the end of the churn (%+.1f %%)\n",
                firstMinuteKb, firstPart, endKb,
                100.0 * double(endKb - firstMinuteKb) / double(std::max(firstMinuteKb, 1L)));
    if (burstSize > 0)
        std::printf("burst of %d pictures moved in: all in the list after %.2f s; frames: %d, "
                    "median %.1f ms, worst %.1f ms, %d over 1.5 x median\n",
                    burstSize, burstSeconds, burstFrames.frames, burstFrames.median,
                    burstFrames.worst, burstFrames.late);
    return 0;
}
