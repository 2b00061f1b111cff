// Smoothness of a change of picture in the real window, with the pictures prepared off the UI
// thread against the old change that decodes inside the tick, in the same run. For folders of
// 2, 12 and 24 megapixel JPEGs it clicks through at least five changes with each kind of change
// and reads the window's own frame log (LUMIVANE_FRAME_LOG). It reports per size and kind:
//   - the median frame interval;
//   - the worst interval around a change (the two frames before it to the two after it);
//   - late frames (interval > 1.5 x median) from a click until the next one;
//   - the UI thread's busy stretch that holds the change (the event that delivered the change's
//     tick: upload and frame included, decoding too in the old change), against the stretches
//     that hold the other frames;
//   - the process's peak resident memory during the run;
// and, for 24 MP, how long the window takes to close while the first picture is being prepared.
// Run it under a display of the size to measure:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench_change [CHANGES]
// With --quality=high the show runs in the high quality mode (--no-edge-smoothing: without its
// edge smoothing, to see what the rest of it costs; LUMIVANE_EDGE_SMOOTHING=multisampling or
// outline tries one method), and with --only=24 only the 24 MP pictures
// are shown: for example the high quality mode's change at 3840 x 2160,
//   xvfb-run -a -s "-screen 0 3840x2160x24" build/bench/bench_change 6 --quality=high --only=24
#include "app/mainwindow.h"
#include "bench/benchsupport.h"
#include "screen/slidesurface.h"
#include "tests/support/testpictures.h"
#include "tests/support/windowsetup.h"

#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using bench::encodePhotoLike;
using bench::loadAverage;
using bench::maximum;
using bench::median;
using bench::nowMicros;

// Times every event the UI thread delivers from its event loop (nested deliveries count with
// the one that contains them), so that the longest stretch without a return to the loop is known.
class TimingApplication : public QApplication
{
public:
    using QApplication::QApplication;

    struct Stretch
    {
        long long start;
        long long micros;
    };
    std::vector<Stretch> stretches;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const long long start = nowMicros();
        const bool handled = QApplication::notify(receiver, event);
        const long long micros = nowMicros() - start;
        --m_depth;
        if (micros >= 1000)
            stretches.push_back({start, micros});
        return handled;
    }

private:
    int m_depth = 0;
};

long peakResidentKb()
{
    return bench::processStatusKb("VmHWM:");
}

void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

struct RunResult
{
    double medianInterval = 0;
    std::vector<double> worstAtChange;
    std::vector<double> busyAtChange;
    std::vector<double> busyOtherFrames;
    int changes = 0;
    int lateFrames = 0;
    long peakKb = 0;
};

PictureQuality g_quality = PictureQuality::Design;

RunResult runShow(TimingApplication& app, const QString& folder, bool synchronous, int changes)
{
    RunResult result;
    QTemporaryDir appDir;
    const QString logPath = appDir.filePath(QStringLiteral("frames.log"));
    qputenv("LUMIVANE_FRAME_LOG", QFile::encodeName(logPath));
    resetPeakResident();
    std::vector<long long> clicks;
    {
        StartupOptions options;
        options.locations =
            AppLocations::besideProgram(QFile::encodeName(appDir.path()).toStdString());
        options.folderArgument = QFile::encodeName(folder).toStdString();
        options.show.quality = g_quality;
        MainWindow window(std::move(options));
        qunsetenv("LUMIVANE_FRAME_LOG");
        window.controller().setSynchronousChangesForBenchmark(synchronous);
        window.show();
        if (!QTest::qWaitForWindowExposed(&window) ||
            !QTest::qWaitFor(
                [&] { return window.slideTimer().isActive() && !window.controller().handOverPending(); },
                60000)) {
            std::fprintf(stderr, "the slideshow did not start\n");
            return result;
        }
        bench::runEventLoop(1500);
        for (int i = 0; i < changes; ++i) {
            clicks.push_back(nowMicros());
            QTest::mouseClick(window.slideWidget(), Qt::LeftButton);
            bench::runEventLoop(1500);
        }
        clicks.push_back(nowMicros());
        result.peakKb = peakResidentKb();
    }

    std::vector<long long> times;
    std::vector<int> pictures;
    std::ifstream log(QFile::encodeName(logPath).toStdString());
    long long time = 0;
    int picture = 0;
    int frame = 0;
    int path = 0;
    while (log >> time >> picture >> frame >> path) {
        times.push_back(time);
        pictures.push_back(picture);
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < times.size(); ++i) {
        if (times[i] >= clicks.front())
            intervals.push_back(double(times[i] - times[i - 1]) / 1000.0);
    }
    result.medianInterval = median(intervals);
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double interval = double(times[i] - times[i - 1]) / 1000.0;
        if (times[i] >= clicks.front() && interval > 1.5 * result.medianInterval)
            ++result.lateFrames;
        if (pictures[i] == pictures[i - 1])
            continue;
        ++result.changes;
        double worst = 0;
        for (std::size_t k = i >= 2 ? i - 2 : 1; k <= i + 2 && k < times.size(); ++k)
            worst = std::max(worst, double(times[k] - times[k - 1]) / 1000.0);
        result.worstAtChange.push_back(worst);
    }
    // The event that was being delivered when each frame was logged; a frame logged outside any
    // stretch of 1 ms or more cost less than that.
    const auto busyAt = [&](long long at) {
        for (const auto& stretch : app.stretches) {
            if (stretch.start <= at && at <= stretch.start + stretch.micros)
                return double(stretch.micros) / 1000.0;
        }
        return 0.0;
    };
    for (std::size_t i = 1; i < times.size(); ++i) {
        if (times[i] < clicks.front())
            continue;
        (pictures[i] != pictures[i - 1] ? result.busyAtChange : result.busyOtherFrames)
            .push_back(busyAt(times[i]));
    }
    app.stretches.clear();
    return result;
}

// Closes the window while the first picture is being prepared, as Escape or the close button
// at that moment would, and returns how long the window took to go, in milliseconds.
double shutdownWhilePreparing(const QString& folder)
{
    QTemporaryDir appDir;
    StartupOptions options;
    options.locations = AppLocations::besideProgram(QFile::encodeName(appDir.path()).toStdString());
    options.folderArgument = QFile::encodeName(folder).toStdString();
    auto window = std::make_unique<MainWindow>(std::move(options));
    window->show();
    if (!QTest::qWaitFor([&] { return window->controller().handOverPending(); }, 60000))
        return -1;
    QTest::qWait(20); // the worker is well into the picture
    const long long start = nowMicros();
    window.reset();
    return double(nowMicros() - start) / 1000.0;
}

void print(const char* size, const char* kind, const RunResult& r)
{
    std::printf("%-6s %-6s %6.1f ms  %6.1f ms [%6.1f]  %3d / %d  %6.1f ms [%6.1f]  %5.1f ms "
                "[%5.1f]  %6.1f MB\n",
                size, kind, r.medianInterval, median(r.worstAtChange), maximum(r.worstAtChange),
                r.lateFrames, r.changes, median(r.busyAtChange), maximum(r.busyAtChange),
                median(r.busyOtherFrames), maximum(r.busyOtherFrames), double(r.peakKb) / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    TimingApplication app(argc, argv);
    int changes = 6;
    int only = 0;
    bool noEdgeSmoothing = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quality=high")
            g_quality = PictureQuality::High;
        else if (argument == "--no-edge-smoothing")
            noEdgeSmoothing = true;
        else if (argument.rfind("--only=", 0) == 0)
            only = std::atoi(argument.c_str() + 7);
        else
            changes = std::max(5, std::atoi(argv[i]));
    }
    WindowSetup::prepareProcess();
    if (noEdgeSmoothing)
        SlideSurface::forceEdgeSmoothingForTesting(EdgeSmoothing::None);
    WindowSetup::printMessages();

    struct Size
    {
        int width;
        int height;
        const char* label;
    };
    const Size sizes[] = {{1632, 1224, "2 MP"}, {4000, 3000, "12 MP"}, {6000, 4000, "24 MP"}};

    const QSize screen = QGuiApplication::primaryScreen()->size();
    std::printf("screen %dx%d, %s quality, %d changes per run, load average at start %s\n",
                screen.width(), screen.height(),
                g_quality == PictureQuality::High ? "high" : "design", changes,
                loadAverage().c_str());
    std::printf("size   change median    worst at change     late/changes  UI busy: change    "
                "other frames     peak\n");
    std::printf("                         median [max]                      median [max]     "
                "median [max]\n");
    for (const Size& size : sizes) {
        if (only > 0 && (size.width * size.height + 500000) / 1000000 != only)
            continue;
        QTemporaryDir folder;
        const std::vector<std::uint8_t> jpeg = encodePhotoLike(size.width, size.height);
        for (int i = 0; i < 6; ++i) {
            const std::string path =
                QFile::encodeName(folder.filePath(QStringLiteral("p%1.jpg").arg(i))).toStdString();
            TestPictures::writeFile(path, jpeg);
        }
        const RunResult old = runShow(app, folder.path(), true, changes);
        print(size.label, "old", old);
        const RunResult now = runShow(app, folder.path(), false, changes);
        print(size.label, "new", now);
        std::printf("%-6s new/old: worst at change %.2f, UI busy %.2f, peak memory %.2f\n",
                    size.label, median(now.worstAtChange) / median(old.worstAtChange),
                    median(now.busyAtChange) / median(old.busyAtChange),
                    double(now.peakKb) / double(old.peakKb));
        if (size.width * size.height > 20000000)
            std::printf("%-6s window closed while the first picture was being prepared: gone in "
                        "%.1f ms\n",
                        size.label, shutdownWhilePreparing(folder.path()));
        std::fflush(stdout);
    }
    std::printf("load average at end %s\n", loadAverage().c_str());
    return 0;
}
