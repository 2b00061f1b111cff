// Screenshots of the real window at held camera frames, read back from the X server as they reach
// the screen (bench/measure_quality.sh measures them as it measures lumivane-slide's frames):
//   window_shots [--quality=design|high] PICTURE PATH FRAMES OUT
// shows PICTURE full screen in the program's own window, on camera path PATH (0..5), and writes
// OUT-NNN.png for each camera frame NNN of FRAMES (a comma-separated list, ascending, 1..150).
// Run it under a display of the size to measure, e.g.
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/window_shots --quality=high a.jpg 0 110 f
// LUMIVANE_EDGE_SMOOTHING chooses the edges' method of the high quality mode, as for the program.
#include "app/mainwindow.h"
#include "scene/slideconstants.h"
#include "screen/slidesurface.h"
#include "tests/support/screenmeasure.h"
#include "tests/support/windowsetup.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// One tick of the slide timer, through a change as the running timer would. The timer itself
// stays stopped, so that the camera holds where it is.
bool tick(MainWindow& window)
{
    const bool done = WindowSetup::tickThroughChange(window, 60000);
    const_cast<QTimer&>(window.slideTimer()).stop();
    return done;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    PictureQuality quality = PictureQuality::Design;
    if (!arguments.empty() && arguments.front().starts_with("--quality=")) {
        quality =
            arguments.front() == "--quality=high" ? PictureQuality::High : PictureQuality::Design;
        arguments.erase(arguments.begin());
    }
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (arguments.size() != 4 || x11 == nullptr) {
        std::fputs("usage (on an X display): window_shots [--quality=high] PICTURE PATH "
                   "FRAME[,FRAME...] OUT\n",
                   stderr);
        return 2;
    }
    const int path = std::atoi(arguments[1].c_str());
    std::vector<int> frames;
    for (const QString& frame : QString::fromStdString(arguments[2]).split(u',')) {
        frames.push_back(frame.toInt());
        if (frames.back() < 1 || frames.back() > SlideFrames) {
            std::fprintf(stderr, "window_shots: camera frames go from 1 to %d\n", SlideFrames);
            return 2;
        }
    }
    WindowSetup::prepareProcess();
    WindowSetup::printMessages();

    // The picture alone in a folder of its own, so that every change comes back to it.
    QTemporaryDir appDir;
    QTemporaryDir pictures;
    const QString source = QString::fromLocal8Bit(arguments[0].c_str());
    if (!QFile::copy(source, pictures.filePath(QFileInfo(source).fileName()))) {
        std::fprintf(stderr, "window_shots: cannot read %s\n", arguments[0].c_str());
        return 1;
    }
    StartupOptions options;
    options.locations = AppLocations::besideProgram(QFile::encodeName(appDir.path()).toStdString());
    options.folderArgument = QFile::encodeName(pictures.path()).toStdString();
    options.show.quality = quality;
    MainWindow window(std::move(options));
    // The first round goes by hidden, which draws nothing; the second takes the path asked for.
    if (!QTest::qWaitFor([&] { return window.controller().slideshowRunning() && !window.controller().handOverPending(); },
                         60000)) {
        std::fprintf(stderr, "window_shots: the slideshow did not start\n");
        return 1;
    }
    const_cast<QTimer&>(window.slideTimer()).stop();
    window.controller().setPathChooserForTesting([path] { return path; });
    for (int i = window.controller().frameCounter(); i < SlideFrames; ++i)
        tick(window);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::fprintf(stderr, "window_shots: the window was not shown\n");
        return 1;
    }
    for (const int frame : frames) {
        while (window.controller().frameCounter() != frame) {
            if (!tick(window))
                return 1;
        }
        // The X server has the frame once the driver's connection has handed it over.
        QTest::qWait(100);
        const QImage shot = ScreenMeasure::grabWindow(x11->connection(),
                                                      xcb_window_t(window.slideSurface()->winId()));
        const std::string name = arguments[3] + "-" + std::to_string(frame) + ".png";
        if (shot.isNull() || !shot.save(QString::fromLocal8Bit(name.c_str()))) {
            std::fprintf(stderr, "window_shots: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    return 0;
}
