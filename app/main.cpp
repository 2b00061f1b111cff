#include "app/mainwindow.h"
#include "render/surfaceformat.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Qt aborts when it cannot reach a display. Find out first, so that the user gets a plain
// message instead of a crash.
bool displayAvailable()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true; // An explicit choice (offscreen, wayland, ...) is Qt's to honour.
    // Wayland desktops run X programs through their X server as well, so DISPLAY is the test.
    const char* x11 = std::getenv("DISPLAY");
    if (x11 == nullptr || *x11 == '\0')
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = connection != nullptr && xcb_connection_has_error(connection) == 0;
    if (connection != nullptr)
        xcb_disconnect(connection);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "lumivane: cannot open a display. Lumivane is a desktop program: start it "
                     "from a desktop session (the DISPLAY variable names the X server).\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumivane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumivane"));
    // The window's font family keeps its design name; IPA P Gothic draws it on Linux.
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    setSlideshowSurfaceFormat(
        QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->depth() : 24);

    StartupOptions options;
    options.appDir = QCoreApplication::applicationDirPath();
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1)
        options.folderArgument = arguments.at(1);
    MainWindow window(std::move(options));
    window.show();
    return app.exec();
}
