// The two motions against each other in one run: a show of 24 MP JPEGs left to change picture
// on its own, first with one camera entry per frame of the slide timer (FRAMES), then with
// smooth motion at the display's refresh (SMOOTH). From the window's own frame log
// (LUMIVANE_FRAME_LOG: the time each frame was on screen and its camera position) it reports per
// motion:
//   - the median frame interval, the worst interval anywhere and the worst around a change (the
//     interval that ends with the change's frame and the two after it), against the same
//     measure in the middle of each slide, where nothing changes (so that what the change costs
//     stands apart from what other load on the machine costs), and the intervals over 1.5 x the
//     median;
//   - the camera position against the clock: the largest deviation, in table entries, of the
//     logged position from the ideal one for the frame's time, measured from the slide's first
//     frame (one entry per SECONDS / 150 for FRAMES; entries 1..150 spread over SECONDS for
//     SMOOTH), over all frames and over the frames around a change;
//   - the process's CPU share (user + system time over wall time) while the show ran.
// Run it under a display of the size to measure:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench_motion [CHANGES]
#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "screen/framepacer.h"
#include "tests/support/testpictures.h"
#include "tests/support/windowsetup.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bench::encodePhotoLike;
using bench::loadAverage;
using bench::maximum;
using bench::median;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Frame
{
    long long micros;
    int picture;
    double position;
};

struct Result
{
    std::vector<double> intervals;
    std::vector<double> worstAtChange;
    std::vector<double> worstMidSlide;
    double deviation = 0;
    double deviationAtChange = 0;
    double cpuShare = 0;
    int changes = 0;
    int late = 0;
    bool followsSwaps = false;
};

Result runShow(const QString& folder, SlideMotion motion, int changes)
{
    Result result;
    QTemporaryDir appDir;
    const QString logPath = appDir.filePath(QStringLiteral("frames.log"));
    qputenv("LUMIVANE_FRAME_LOG", QFile::encodeName(logPath));
    StartupOptions options;
    options.locations = AppLocations::besideProgram(QFile::encodeName(appDir.path()).toStdString());
    options.folderArgument = QFile::encodeName(folder).toStdString();
    options.show.motion = motion;
    const double seconds = options.show.seconds;
    double cpu = 0;
    long long wall = 0;
    {
        MainWindow window(std::move(options));
        qunsetenv("LUMIVANE_FRAME_LOG");
        window.show();
        if (!QTest::qWaitForWindowExposed(&window) ||
            !QTest::qWaitFor([&] { return window.controller().frameCounter() > 0; }, 60000)) {
            std::fprintf(stderr, "the slideshow did not start\n");
            return result;
        }
        const double cpuStart = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        int seen = 0;
        int last = window.controller().currentIndex();
        bench::runEventLoop(30000 * changes, [&] {
            if (window.controller().currentIndex() != last) {
                last = window.controller().currentIndex();
                ++seen;
            }
            return seen >= changes;
        });
        bench::runEventLoop(500);
        cpu = cpuSeconds() - cpuStart;
        wall = clock.elapsed();
        result.followsSwaps = window.framePacer()->followsSwaps().value_or(false);
    }
    result.cpuShare = cpu / (double(wall) / 1000);

    std::vector<Frame> frames;
    std::ifstream log(QFile::encodeName(logPath).toStdString());
    Frame f{};
    int path = 0;
    while (log >> f.micros >> f.picture >> f.position >> path)
        frames.push_back(f);
    // The first slide started with the hand-over; it is left out.
    std::size_t begin = 1;
    while (begin < frames.size() && frames[begin].picture == frames[begin - 1].picture)
        ++begin;
    long long slideStart = 0;
    std::vector<bool> nearChange(frames.size(), false);
    for (std::size_t i = begin; i < frames.size(); ++i) {
        if (frames[i].picture != frames[i - 1].picture) {
            for (std::size_t k = i >= 2 ? i - 2 : 0; k <= i + 2 && k < frames.size(); ++k)
                nearChange[k] = true;
        }
    }
    for (std::size_t i = begin; i < frames.size(); ++i) {
        const double interval = double(frames[i].micros - frames[i - 1].micros) / 1000;
        result.intervals.push_back(interval);
        if (frames[i].picture != frames[i - 1].picture) {
            slideStart = frames[i].micros;
            ++result.changes;
            double worst = 0;
            for (std::size_t k = i; k <= i + 2 && k < frames.size(); ++k)
                worst = std::max(worst, double(frames[k].micros - frames[k - 1].micros) / 1000);
            result.worstAtChange.push_back(worst);
        }
        const double elapsed = double(frames[i].micros - slideStart) / 1e6;
        const double ideal = motion == SlideMotion::Frames
                                 ? 1 + elapsed * 150 / seconds
                                 : std::min(150.0, 1 + elapsed * 149 / seconds);
        const double deviation = std::abs(frames[i].position - ideal);
        result.deviation = std::max(result.deviation, deviation);
        if (nearChange[i])
            result.deviationAtChange = std::max(result.deviationAtChange, deviation);
    }
    // The same three intervals halfway between two changes.
    std::vector<std::size_t> changeAt;
    for (std::size_t i = begin; i < frames.size(); ++i) {
        if (frames[i].picture != frames[i - 1].picture)
            changeAt.push_back(i);
    }
    for (std::size_t c = 1; c < changeAt.size(); ++c) {
        const std::size_t i = (changeAt[c - 1] + changeAt[c]) / 2;
        double worst = 0;
        for (std::size_t k = i; k <= i + 2; ++k)
            worst = std::max(worst, double(frames[k].micros - frames[k - 1].micros) / 1000);
        result.worstMidSlide.push_back(worst);
    }
    const double middle = median(result.intervals);
    for (const double interval : result.intervals)
        result.late += interval > 1.5 * middle;
    return result;
}

void print(const char* name, const Result& r)
{
    std::printf("%-7s %6.1f ms  %6.1f ms  %6.1f ms [%6.1f]  %6.1f ms [%6.1f]  %4.2f  %3d / %-4zu  "
                "%7.2f [%5.2f]  %5.1f %%  %s\n",
                name, median(r.intervals), maximum(r.intervals), median(r.worstAtChange),
                maximum(r.worstAtChange), median(r.worstMidSlide), maximum(r.worstMidSlide),
                maximum(r.worstAtChange) / median(r.intervals), r.late, r.intervals.size(),
                r.deviation, r.deviationAtChange, 100 * r.cpuShare,
                r.followsSwaps ? "swap" : "timer");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int changes = argc > 1 ? std::max(2, std::atoi(argv[1])) : 8;
    WindowSetup::prepareProcess();
    WindowSetup::printMessages();

    QTemporaryDir folder;
    const std::vector<std::uint8_t> jpeg = encodePhotoLike(6000, 4000);
    for (int i = 0; i < 6; ++i)
        TestPictures::writeFile(
            QFile::encodeName(folder.filePath(QStringLiteral("p%1.jpg").arg(i))).toStdString(),
            jpeg);

    const QScreen* screen = QGuiApplication::primaryScreen();
    std::printf("screen %dx%d at %.1f Hz (reported), 24 MP JPEGs, %d changes per motion, load "
                "average at start %s\n",
                screen->size().width(), screen->size().height(), screen->refreshRate(), changes,
                loadAverage().c_str());
    std::printf("motion  interval   worst      at change         mid-slide         change max/ "
                "late/frames  position dev.   CPU     pacing\n");
    std::printf("        median                median [max]      median [max]      median      "
                "             all [change]\n");
    const Result frames = runShow(folder.path(), SlideMotion::Frames, changes);
    print("FRAMES", frames);
    std::fflush(stdout);
    const Result smooth = runShow(folder.path(), SlideMotion::Smooth, changes);
    print("SMOOTH", smooth);
    std::printf("SMOOTH/FRAMES CPU share %.2f\n", smooth.cpuShare / frames.cpuShare);
    std::printf("load average at end %s\n", loadAverage().c_str());
    return 0;
}
