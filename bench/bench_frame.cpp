// Times the slideshow's frames in the real window: one frame drawn and presented, and a tick
// that changes slide (upload of a prepared 12-megapixel JPEG, then the frame; bench_change
// compares the whole change with the old one that decoded inside the tick).
// Run it under a display of the size to measure, for example:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench_frame [--quality=high]
#include "app/mainwindow.h"
#include "scene/slideconstants.h"
#include "screen/slidesurface.h"
#include "tests/support/windowsetup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void writeJpeg(const QString& path, int width, int height, QColor tint)
{
    QImage image(width, height, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, tint);
    gradient.setColorAt(1, Qt::white);
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(7);
    for (int i = 0; i < 400; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate()));
        painter.drawEllipse(QPoint(random.bounded(width), random.bounded(height)), 60, 60);
    }
    painter.end();
    image.save(path, "JPG", 90);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const PictureQuality quality = argc > 1 && std::strcmp(argv[1], "--quality=high") == 0
                                       ? PictureQuality::High
                                       : PictureQuality::Design;
    WindowSetup::prepareProcess();
    WindowSetup::printMessages();

    QTemporaryDir appDir;
    QTemporaryDir pictures;
    writeJpeg(pictures.filePath(QStringLiteral("a.jpg")), 4000, 3000, QColor(200, 60, 40));
    writeJpeg(pictures.filePath(QStringLiteral("b.jpg")), 4000, 3000, QColor(40, 160, 60));

    StartupOptions options;
    options.locations = AppLocations::besideProgram(QFile::encodeName(appDir.path()).toStdString());
    options.folderArgument = QFile::encodeName(pictures.path()).toStdString();
    options.show.quality = quality;
    MainWindow window(std::move(options));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) ||
        !QTest::qWaitFor([&] { return window.controller().slideshowRunning() && !window.controller().handOverPending(); },
                         20000)) {
        std::fprintf(stderr, "the slideshow did not start\n");
        return 1;
    }
    const_cast<QTimer&>(window.slideTimer()).stop();

    std::vector<double> frames;
    std::vector<double> changes;
    QElapsedTimer clock;
    for (int slide = 0; slide < 4; ++slide) {
        for (int i = 0; i < SlideFrames; ++i) {
            QThread::msleep(5); // the timer leaves a gap between frames
            clock.start();
            window.controller().slideTick();
            const double ms = double(clock.nsecsElapsed()) / 1e6;
            (i == 0 && slide > 0 ? changes : frames).push_back(ms);
        }
        // The next picture is prepared in the background meanwhile; the tick only uploads it.
        if (!QTest::qWaitFor([&] { return window.controller().preparer()->isIdle(); }, 20000)) {
            std::fprintf(stderr, "bench_frame: the next picture was not prepared in 20 s\n");
            return 1;
        }
        clock.start();
        window.controller().slideTick(); // the change of slide
        changes.push_back(double(clock.nsecsElapsed()) / 1e6);
        for (int i = 1; i < SlideFrames; ++i)
            window.controller().slideTick();
    }
    const QSize size = window.size();
    std::printf("window %dx%d, %s, %s quality, edge smoothing: %s\n", size.width(), size.height(),
                window.slideSurface()->renderer().c_str(),
                quality == PictureQuality::High ? "high" : "design",
                EdgeSmoothingChoice::nameOf(window.slideSurface()->edgeSmoothing()));
    std::printf("frame drawn and presented: median %.2f ms over %zu frames\n", median(frames),
                frames.size());
    std::printf("tick that changes slide (prepared 12 MP JPEG): median %.1f ms over %zu changes\n",
                median(changes), changes.size());
    return 0;
}
