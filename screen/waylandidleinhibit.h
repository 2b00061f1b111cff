#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>

struct wl_display;
struct wl_event_queue;
struct wl_surface;
struct zwp_idle_inhibit_manager_v1;
struct zwp_idle_inhibitor_v1;

// Keeps a Wayland compositor's idle rule (blanking, locking) off while the window's surface is
// on the screen, through an idle inhibitor on that surface, where the compositor offers one
// (weston, KWin, Mutter, sway, labwc and wayfire do). The compositor drops it with the client.
class WaylandIdleInhibit : public QObject
{
    Q_OBJECT

public:
    // `window` is a window of Qt's Wayland platform.
    explicit WaylandIdleInhibit(QWindow* window, QObject* parent = nullptr);
    ~WaylandIdleInhibit() override;

    void setHeld(bool held);

    // Whether the compositor offers idle inhibitors (known after the first hold).
    bool offered() const { return m_manager != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Finds the compositor's inhibit manager, once; false when there is none.
    bool bindManager();
    // Puts the inhibitor on the window's current surface, or takes it away.
    void update();

    QPointer<QWindow> m_window;
    bool m_held = false;
    bool m_managerSought = false;
    wl_display* m_display = nullptr;
    // A queue of this object's own, so that binding the manager never dispatches Qt's events.
    wl_event_queue* m_queue = nullptr;
    zwp_idle_inhibit_manager_v1* m_manager = nullptr;
    zwp_idle_inhibitor_v1* m_inhibitor = nullptr;
    // The surface the inhibitor is on: Qt makes a new one when the window is shown again.
    wl_surface* m_surface = nullptr;
};
