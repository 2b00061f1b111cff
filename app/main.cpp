#include "app/applocations.h"
#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/showoptions.h"
#include "app/translation.h"
#include "app/xserverconnection.h"
#include "screen/surfaceformat.h"

#include <QApplication>
#include <QFont>
#include <QScreen>

#include <wayland-client-core.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Qt aborts when it cannot reach a display. Find out first, so that the user gets a plain
// message instead of a crash. The probe's connection is handed back and must stay open until Qt
// has connected: an X server with no other client (Xvfb, a kiosk's "xinit lumivane") resets when
// its last client leaves, and Qt's own connection could land in that reset.
bool probeDisplay(XcbConnection& probe)
{
    const char* x11 = std::getenv("DISPLAY");
    if (x11 == nullptr || *x11 == '\0')
        return false;
    probe = connectToXServer();
    return probe != nullptr;
}

// An explicit QT_QPA_PLATFORM (offscreen, wayland, ...) is Qt's to honour.
bool platformChosen()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return platform != nullptr && *platform != '\0';
}

// A Wayland session names its compositor in WAYLAND_DISPLAY, and Qt then connects to the
// compositor rather than to an X server, so X is not asked. The compositor is asked instead: a
// name with no compositor behind it (left over from another session) goes on to the X probe and
// its message rather than to an abort inside Qt. A connection handed over in WAYLAND_SOCKET can
// be used only once, so it is left to Qt.
bool reachesWaylandCompositor()
{
    if (const char* socket = std::getenv("WAYLAND_SOCKET"); socket != nullptr && *socket != '\0')
        return true;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (name == nullptr || *name == '\0')
        return false;
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return false;
    wl_display_disconnect(display);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Loaded first: even a mistyped option is answered in the user's language.
    Translation translation(userTextLanguage());
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
    if (!platformChosen() && !reachesWaylandCompositor() && !probeDisplay(probe)) {
        std::fprintf(
            stderr, "lumivane: %s\n",
            Console::tr("cannot open a display. Lumivane is a desktop program: start it "
                        "from a desktop session (the DISPLAY variable names the X server).")
                .toStdString()
                .c_str());
        return 1;
    }
    // Qt gets the program's name only: the arguments were read above, and a folder such as
    // "-reverse" must not be taken for one of Qt's options.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("lumivane"), nullptr};
    QApplication app(qtArgc, qtArgv);
    probe.reset(); // Qt holds its own connection now.
    translation.install();
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
