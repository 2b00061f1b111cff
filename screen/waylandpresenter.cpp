#include "screen/waylandpresenter.h"

#include <QEvent>
#include <QOffscreenSurface>
#include <QWidget>
#include <QWindow>

WaylandPresenter::WaylandPresenter(QWindow& window) : FramePresenter(window) {}

WaylandPresenter::~WaylandPresenter() = default;

QSurface* WaylandPresenter::prepareSurface(const QSurfaceFormat& format)
{
    m_offscreenSurface = std::make_unique<QOffscreenSurface>();
    m_offscreenSurface->setFormat(format);
    m_offscreenSurface->create();
    return m_offscreenSurface.get();
}

void WaylandPresenter::adoptView(QWidget* view)
{
    m_view = view;
    static_cast<QObject&>(m_window).setParent(view);
    watchWindow();
}

bool WaylandPresenter::showsFrames() const
{
    // On Wayland a hidden window is not drawn at all: its compositor takes no frames from it,
    // and the show must neither wait for one nor draw for nobody.
    if (m_view == nullptr || !m_view->isVisible())
        return false;
    const QWindow* window = m_view->window()->windowHandle();
    return window != nullptr && window->isExposed();
}

void WaylandPresenter::requestFrame()
{
    watchWindow();
    if (m_watched == nullptr)
        return;
    m_frameAsked = true;
    m_watched->requestUpdate();
}

void WaylandPresenter::watchWindow()
{
    QWindow* window = m_view ? m_view->window()->windowHandle() : nullptr;
    if (window == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = window;
    if (m_watched)
        m_watched->installEventFilter(this);
}

bool WaylandPresenter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watched) {
        // The window's update request comes with the compositor's frame callback: the frame
        // drawn now is the one the compositor shows next. The request is the view's alone: the
        // window would take it for a repaint of all its widgets, an expensive second buffer for
        // the compositor, while the view's own repaint brings any other widget's change along.
        if (event->type() == QEvent::UpdateRequest && m_frameAsked) {
            m_frameAsked = false;
            emit frameRequested();
            return true;
        }
        if (event->type() == QEvent::Expose) {
            // A frame asked for while the window was hidden is asked for again: the compositor
            // sends no callback for a surface it does not show.
            if (m_frameAsked && m_watched->isExposed())
                m_watched->requestUpdate();
            emit exposeChanged();
        }
    }
    return FramePresenter::eventFilter(watched, event);
}
