#include "screen/waylandidleinhibit.h"

#include "idle-inhibit-unstable-v1-client-protocol.h"

#include <QEvent>
#include <QGuiApplication>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <cstring>

namespace {

void announced(void* data, wl_registry* registry, uint32_t name, const char* interface,
               uint32_t /*version*/)
{
    if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) != 0)
        return;
    auto** manager = static_cast<zwp_idle_inhibit_manager_v1**>(data);
    if (*manager == nullptr) {
        *manager = static_cast<zwp_idle_inhibit_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
    }
}

void withdrawn(void*, wl_registry*, uint32_t) {}

const wl_registry_listener RegistryListener = {announced, withdrawn};

// Qt 6.4 names the Wayland objects of its windows only through its platform native interface.
void* waylandResource(const char* name, QWindow* window = nullptr)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr)
        return nullptr;
    return window != nullptr ? native->nativeResourceForWindow(name, window)
                             : native->nativeResourceForIntegration(name);
}

} // namespace

WaylandIdleInhibit::WaylandIdleInhibit(QWindow* window, QObject* parent)
    : QObject(parent), m_window(window)
{
    if (window != nullptr)
        window->installEventFilter(this);
}

WaylandIdleInhibit::~WaylandIdleInhibit()
{
    if (m_inhibitor != nullptr)
        zwp_idle_inhibitor_v1_destroy(m_inhibitor);
    if (m_manager != nullptr)
        zwp_idle_inhibit_manager_v1_destroy(m_manager);
    if (m_display != nullptr)
        wl_display_flush(m_display);
    if (m_queue != nullptr)
        wl_event_queue_destroy(m_queue);
}

void WaylandIdleInhibit::setHeld(bool held)
{
    m_held = held;
    update();
}

bool WaylandIdleInhibit::eventFilter(QObject* watched, QEvent* event)
{
    // A window shown again has a new surface.
    if (event->type() == QEvent::Expose && m_held)
        update();
    return QObject::eventFilter(watched, event);
}

bool WaylandIdleInhibit::bindManager()
{
    if (m_managerSought)
        return m_manager != nullptr;
    m_managerSought = true;
    m_display = static_cast<wl_display*>(waylandResource("wl_display"));
    if (m_display == nullptr)
        return false;
    m_queue = wl_display_create_queue(m_display);
    auto* display = static_cast<wl_display*>(wl_proxy_create_wrapper(m_display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(display), m_queue);
    wl_registry* registry = wl_display_get_registry(display);
    wl_proxy_wrapper_destroy(display);
    wl_registry_add_listener(registry, &RegistryListener, &m_manager);
    // One round trip on the own queue lists the globals; the compositor answers at once.
    wl_display_roundtrip_queue(m_display, m_queue);
    wl_registry_destroy(registry);
    return m_manager != nullptr;
}

void WaylandIdleInhibit::update()
{
    wl_surface* surface = nullptr;
    if (m_held && m_window != nullptr && m_window->handle() != nullptr && bindManager())
        surface = static_cast<wl_surface*>(waylandResource("surface", m_window));
    if (surface == m_surface)
        return;
    if (m_inhibitor != nullptr) {
        zwp_idle_inhibitor_v1_destroy(m_inhibitor);
        m_inhibitor = nullptr;
    }
    m_surface = surface;
    if (surface != nullptr)
        m_inhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(m_manager, surface);
    wl_display_flush(m_display);
}
