// Draws the project's own sample pictures and the search screen's splash picture.
// Every picture is made here from gradients, shapes and text; no outside artwork is used.
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

QImage landscape(int w, int h, QColor sky, QColor ground, const QString& caption)
{
    QImage img(w, h, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, h);
    g.setColorAt(0, sky.lighter(150));
    g.setColorAt(0.6, sky);
    g.setColorAt(0.61, ground.lighter(120));
    g.setColorAt(1, ground.darker(160));
    p.fillRect(img.rect(), g);
    // A sun and rolling hills.
    QRadialGradient sun(w * 0.75, h * 0.25, h * 0.12);
    sun.setColorAt(0, QColor(255, 250, 210));
    sun.setColorAt(1, QColor(255, 200, 80, 0));
    p.setBrush(sun);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(w * 0.75, h * 0.25), h * 0.12, h * 0.12);
    for (int layer = 0; layer < 3; ++layer) {
        QPainterPath hill;
        hill.moveTo(0, h);
        for (int x = 0; x <= w; x += 8) {
            double y = h * (0.62 + 0.08 * layer) +
                       h * 0.05 * std::sin(x * (0.004 + 0.002 * layer) + layer);
            hill.lineTo(x, y);
        }
        hill.lineTo(w, h);
        p.setBrush(ground.darker(110 + 25 * layer));
        p.drawPath(hill);
    }
    // Corner marks make the orientation obvious on screen.
    const int m = h / 12;
    p.setBrush(QColor(220, 30, 30));
    p.drawRect(0, 0, m, m); // top left: red
    p.setBrush(QColor(30, 200, 30));
    p.drawRect(w - m, 0, m, m); // top right: green
    p.setBrush(QColor(250, 220, 0));
    p.drawRect(0, h - m, m, m); // bottom left: yellow
    p.setBrush(QColor(20, 20, 20));
    p.drawRect(w - m, h - m, m, m); // bottom right: black
    QFont f("DejaVu Sans");
    f.setPixelSize(h / 14);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(0, h / 2 - h / 8, w, h / 4), Qt::AlignCenter, caption);
    return img;
}

QImage rings(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(img.rect(), QColor(250, 245, 235));
    for (int i = 12; i > 0; --i) {
        p.setBrush(QColor::fromHsv((i * 30) % 360, 160, 230));
        p.setPen(Qt::NoPen);
        double r = std::min(w, h) * 0.04 * i;
        p.drawEllipse(QPointF(w / 2.0, h / 2.0), r, r);
    }
    QFont f("DejaVu Sans");
    f.setPixelSize(h / 12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(40, 40, 80));
    p.drawText(QRect(0, h - h / 6, w, h / 6), Qt::AlignCenter, "square");
    return img;
}

QImage splash()
{
    // The search screen's picture: 470 x 260, 24-bit.
    QImage img(470, 260, QImage::Format_RGB888);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 470, 260);
    g.setColorAt(0, QColor(235, 242, 255));
    g.setColorAt(1, QColor(170, 195, 245));
    p.fillRect(img.rect(), g);
    // A receding floor and three framed pictures, echoing the slideshow's scene.
    p.setPen(Qt::NoPen);
    QLinearGradient floor(0, 190, 0, 260);
    floor.setColorAt(0, QColor(200, 210, 255));
    floor.setColorAt(1, QColor(40, 60, 230));
    p.setBrush(floor);
    p.drawRect(0, 190, 470, 70);
    const QColor tints[] = {QColor(250, 170, 120), QColor(140, 210, 170), QColor(150, 170, 240)};
    for (int i = 0; i < 3; ++i) {
        QRectF frame(300 + i * 52, 96 - i * 6, 44 + i * 4, 60 + i * 8);
        p.setBrush(QColor(40, 50, 120, 70));
        p.drawRect(frame.translated(-10, 38 + i * 6).adjusted(0, 20, 0, 0));
        p.setBrush(Qt::white);
        p.drawRect(frame);
        p.setBrush(tints[i]);
        p.drawRect(frame.adjusted(4, 4, -4, -4));
    }
    return img;
}

bool save(const QImage& img, const QString& path, const char* format, int quality = 90)
{
    if (!img.save(path, format, quality)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), img.width(), img.height());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_samples SAMPLES_DIR SPLASH_BMP\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir + "/Travel");
    bool ok = true;
    ok &= save(landscape(1600, 1200, QColor(90, 150, 230), QColor(60, 140, 60), "Landscape 4:3"),
               dir + "/01 hills.jpg", "JPG");
    ok &= save(landscape(1080, 1620, QColor(240, 140, 80), QColor(120, 80, 60), "Portrait 2:3"),
               dir + "/02 sunset portrait.JPG", "JPG");
    ok &= save(rings(640, 640), dir + "/03 rings square.bmp", "BMP");
    ok &= save(landscape(1200, 800, QColor(120, 120, 120), QColor(60, 60, 60), "Greyscale")
                   .convertToFormat(QImage::Format_Grayscale8),
               dir + "/Travel/04 grey hills.jpeg", "JPG");
    ok &= save(landscape(800, 450, QColor(80, 200, 220), QColor(220, 200, 120), "Indexed BMP")
                   .convertToFormat(QImage::Format_Indexed8),
               dir + "/Travel/05 beach 8-bit.bmp", "BMP");
    ok &= save(splash(), QString::fromLocal8Bit(argv[2]), "BMP");
    return ok ? 0 : 1;
}
