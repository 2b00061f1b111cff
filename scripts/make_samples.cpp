// Draws the project's own sample pictures, the search screen's splash picture and the icon.
// Every picture is made here from gradients, shapes and text; no outside artwork is used.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
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

// The program's icon as a scalable SVG: a picture in its white frame standing above the blue
// floor with its shadow, as the slideshow shows every picture.
bool writeIcon(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray svg = R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <defs>
    <linearGradient id="space" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#1a1aff"/>
      <stop offset="1" stop-color="#0000c8"/>
    </linearGradient>
    <linearGradient id="floor" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#0000e6"/>
      <stop offset="1" stop-color="#3c3cff"/>
    </linearGradient>
    <linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">
      <stop offset="0" stop-color="#8cc4ff"/>
      <stop offset="1" stop-color="#d8ecff"/>
    </linearGradient>
    <radialGradient id="sun" cx="0.5" cy="0.5" r="0.5">
      <stop offset="0" stop-color="#fffad2"/>
      <stop offset="1" stop-color="#ffc850"/>
    </radialGradient>
  </defs>
  <rect x="4" y="4" width="120" height="120" rx="18" fill="url(#space)"/>
  <path d="M4 76 H124 V106 A18 18 0 0 1 106 124 H22 A18 18 0 0 1 4 106 Z" fill="url(#floor)"/>
  <path d="M22 86 L106 86 L122 110 L6 110 Z" fill="#000050" opacity="0.45"/>
  <rect x="22" y="20" width="84" height="66" fill="#ffffff"/>
  <rect x="28" y="26" width="72" height="54" fill="url(#sky)"/>
  <circle cx="84" cy="40" r="8" fill="url(#sun)"/>
  <path d="M28 64 Q44 52 60 62 T100 58 V80 H28 Z" fill="#3c8c3c"/>
  <path d="M28 72 Q50 62 72 72 T100 70 V80 H28 Z" fill="#2a6a2a"/>
</svg>
)svg";
    return file.write(svg) == svg.size();
}

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_samples SAMPLES_DIR SPLASH_BMP [ICON_SVG]\n");
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
    if (argc > 3)
        ok &= writeIcon(QString::fromLocal8Bit(argv[3]));
    return ok ? 0 : 1;
}
