#pragma once

#include <QObject>
#include <QTimer>

#include <xcb/xcb.h>

// Holds the X server's screen saver off, and puts the screen to sleep and wakes it. The
// MIT-SCREEN-SAVER extension's suspend holds the screen saver and the display's power saving
// (DPMS) off for as long as this client asks; a server without it gets its screen saver reset
// every 30 seconds instead. The server drops the suspend when the client's connection ends, so
// a program that dies leaves nothing behind.
class XScreenSaverHold : public QObject
{
    Q_OBJECT

public:
    // How often the screen saver is reset where the extension is missing: well within the
    // shortest timeout a desktop offers (one minute).
    static constexpr std::chrono::seconds ResetInterval{30};

    // `connection` is the application's own, which outlives this object.
    explicit XScreenSaverHold(xcb_connection_t* connection, QObject* parent = nullptr);
    ~XScreenSaverHold() override;

    void setHeld(bool held);
    // Turns the screen saver on and, where the server has DPMS, the display off.
    void sleepScreen();
    // Turns the screen saver off and the display on, and gives the server back its own DPMS
    // setting.
    void wakeScreen();

private:
    bool hasExtension(xcb_extension_t& extension) const;
    void reset();

    xcb_connection_t* m_connection;
    bool m_held = false;
    QTimer m_resetTimer;
    // DPMS was switched on to put the display off; wakeScreen() switches it off again.
    bool m_dpmsSwitchedOn = false;
};
