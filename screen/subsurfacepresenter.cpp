#include "screen/subsurfacepresenter.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

QWidget* SubsurfacePresenter::embedIn(QWidget* parent)
{
    QWidget* container = ChildWindowPresenter::embedIn(parent);
    m_topLevel = parent->window()->windowHandle();
    if (m_topLevel)
        m_topLevel->installEventFilter(this);
    return container;
}

bool SubsurfacePresenter::eventFilter(QObject* watched, QEvent* event)
{
    // A window hidden and shown again is a new surface: the subsurface is made again for it.
    if (watched == m_topLevel && event->type() == QEvent::Hide)
        m_remade = false;
    if (watched == m_topLevel && event->type() == QEvent::Expose && !m_remade &&
        m_topLevel->isExposed()) {
        m_remade = true;
        remakeSubsurface();
    }
    return ChildWindowPresenter::eventFilter(watched, event);
}

void SubsurfacePresenter::remakeSubsurface()
{
    // The context stays; it makes its drawing surface anew when it is next made current.
    const bool shown = m_window.isVisible();
    m_window.destroy();
    m_window.create();
    if (shown)
        m_window.show();
    passInputThrough();
}

void SubsurfacePresenter::passInputThrough()
{
    // Qt 6.4 does not carry a child window's transparency for input to its subsurface: an empty
    // input region does. (Qt names the Wayland objects only through its native interface.)
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr)
        return;
    auto* surface = static_cast<wl_surface*>(native->nativeResourceForWindow("surface", &m_window));
    auto* compositor =
        static_cast<wl_compositor*>(native->nativeResourceForIntegration("compositor"));
    if (surface == nullptr || compositor == nullptr)
        return;
    wl_region* nowhere = wl_compositor_create_region(compositor);
    wl_surface_set_input_region(surface, nowhere);
    wl_region_destroy(nowhere);
    wl_surface_commit(surface);
}
