#include "app/applocations.h"
#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/showoptions.h"
#include "render/surfaceformat.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct XcbDisconnect
{
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using XcbConnection = std::unique_ptr<xcb_connection_t, XcbDisconnect>;

// Qt aborts when it cannot reach a display. Find out first, so that the user gets a plain
// message instead of a crash. The probe's connection is handed back and must stay open until Qt
// has connected: an X server with no other client (Xvfb, a kiosk's "xinit lumivane") resets when
// its last client leaves, and Qt's own connection could land in that reset.
bool probeDisplay(XcbConnection& probe)
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true; // An explicit choice (offscreen, wayland, ...) is Qt's to honour.
    // Wayland desktops run X programs through their X server as well, so DISPLAY is the test.
    const char* x11 = std::getenv("DISPLAY");
    if (x11 == nullptr || *x11 == '\0')
        return false;
    probe.reset(xcb_connect(nullptr, nullptr));
    return probe != nullptr && xcb_connection_has_error(probe.get()) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    // The arguments are bytes: a folder name need not be valid UTF-8.
    const CommandLine commandLine =
        parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    switch (commandLine.action) {
    case CommandLine::Action::ShowHelp:
        std::fputs(usageText().c_str(), stdout);
        return 0;
    case CommandLine::Action::ShowVersion:
        std::fputs(versionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Fail:
        std::fprintf(stderr, "lumivane: %s\n", commandLine.error.c_str());
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    StartupOptions options;
    try {
        options.locations = AppLocations::forProgram(runningProgramFolder());
    } catch (const AppLocations::Error& error) {
        std::fprintf(stderr, "lumivane: %s\n", error.what());
        return 1;
    }
    options.folderArgument = commandLine.folder;
    std::vector<std::string> complaints;
    options.show = readShowOptions(options.locations.settingsFile(), commandLine.show, complaints);
    for (const std::string& complaint : complaints)
        std::fprintf(stderr, "lumivane: %s\n", complaint.c_str());

    XcbConnection probe;
    if (!probeDisplay(probe)) {
        std::fprintf(stderr,
                     "lumivane: cannot open a display. Lumivane is a desktop program: start it "
                     "from a desktop session (the DISPLAY variable names the X server).\n");
        return 1;
    }
    // Qt gets the program's name only: the arguments were read above, and a folder such as
    // "-reverse" must not be taken for one of Qt's options.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("lumivane"), nullptr};
    QApplication app(qtArgc, qtArgv);
    probe.reset(); // Qt holds its own connection now.
    QApplication::setApplicationName(QStringLiteral("Lumivane"));
    QApplication::setApplicationDisplayName(QStringLiteral("Lumivane"));
    // The window's font family keeps its design name; IPA P Gothic draws it on Linux.
    QFont::insertSubstitution(QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"));
    setSlideshowSurfaceFormat(
        QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->depth() : 24);

    MainWindow window(std::move(options));
    window.show();
    return app.exec();
}
