#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

#include <memory>

class SessionInhibit;
class WaylandIdleInhibit;
class XScreenSaverHold;

// Keeps the screen awake while the show runs, and puts it to sleep and wakes it for a photo
// frame's night. It asks everything the platform has, so that the desktop neither blanks nor
// locks the screen: the desktop's inhibitors on the session bus (on every platform), the X
// server's screen saver on X, and an idle inhibitor on the window's surface on Wayland. Which
// of them apply is decided here, so that the show never asks which platform it runs on.
//
// The bus, the X server and the compositor drop all of it when the program's connections end,
// so a program that dies leaves the screen to the desktop's rules again.
class ScreenAwake : public QObject
{
    Q_OBJECT

public:
    // `window` is the show's window (null: none, as in tests without one). It must have been
    // shown before the first hold for the X window's name and the Wayland surface to be known.
    explicit ScreenAwake(QWindow* window, QObject* parent = nullptr);
    // Releases everything held.
    ~ScreenAwake() override;

    // Holds the screen awake, or releases it to the desktop's own rules.
    void setHeld(bool held);
    bool isHeld() const { return m_held; }

    // Releases the hold and puts the screen to sleep where a program may: on X the screen saver
    // and, with DPMS, the display's power saving. A Wayland client has no way to turn an output
    // off; the released inhibitor lets the compositor's own idle rule do it.
    void sleepScreen();
    // Turns the screen on again where a program may (on Wayland the compositor wakes it at the
    // first input). It does not hold the screen: setHeld(true) does.
    void wakeScreen();

private:
    QPointer<QWindow> m_window;
    bool m_held = false;
    std::unique_ptr<SessionInhibit> m_session;
    std::unique_ptr<XScreenSaverHold> m_x;
    std::unique_ptr<WaylandIdleInhibit> m_wayland;
};
