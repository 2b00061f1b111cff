#include "screen/screenawake.h"

#include "screen/sessioninhibit.h"
#include "screen/waylandidleinhibit.h"
#include "screen/xscreensaverhold.h"

#include <QGuiApplication>

ScreenAwake::ScreenAwake(QWindow* window, QObject* parent)
    : QObject(parent), m_window(window), m_session(std::make_unique<SessionInhibit>())
{
    // The offscreen platform answers as X11 too, without a connection.
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 != nullptr && x11->connection() != nullptr)
        m_x = std::make_unique<XScreenSaverHold>(x11->connection());
    // Qt's Wayland platform plugins are "wayland", "wayland-egl", "wayland-brcm"...
    else if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        m_wayland = std::make_unique<WaylandIdleInhibit>(window);
}

ScreenAwake::~ScreenAwake()
{
    setHeld(false);
}

void ScreenAwake::setHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    if (held) {
        // The window's name on X, for the portal and the session manager to tie the inhibit
        // to; a window not yet created is not created here.
        const bool named = m_x && m_window != nullptr && m_window->handle() != nullptr;
        const auto xid = named ? quint32(m_window->winId()) : 0u;
        m_session->setWindow(xid != 0 ? QStringLiteral("x11:%1").arg(xid, 0, 16) : QString(), xid);
    }
    m_session->setHeld(held);
    if (m_x)
        m_x->setHeld(held);
    if (m_wayland)
        m_wayland->setHeld(held);
}

void ScreenAwake::sleepScreen()
{
    setHeld(false);
    if (m_x)
        m_x->sleepScreen();
}

void ScreenAwake::wakeScreen()
{
    if (m_x)
        m_x->wakeScreen();
}
