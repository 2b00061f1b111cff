#include "screen/frameviewpresenter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <GL/gl.h>
#include <GL/glext.h>

// Qt's own setter of the context that every context it makes for widgets shares with (what
// Qt::AA_ShareOpenGLContexts sets up before the application exists).
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {

// The context at the root of the one share group: the slideshow's context, the window's
// composition context and the view's context all share with it, so that a texture uploaded in
// one is drawn in the others. Made once, before the first view, and kept until the application
// ends.
QOpenGLContext* shareRoot()
{
    static QOpenGLContext* root = [] {
        auto* context = new QOpenGLContext;
        context->setFormat(QSurfaceFormat::defaultFormat());
        if (!context->create()) {
            delete context;
            return static_cast<QOpenGLContext*>(nullptr);
        }
        if (QOpenGLContext::globalShareContext() == nullptr)
            qt_gl_set_global_share_context(context);
        qAddPostRoutine([] {
            if (QOpenGLContext::globalShareContext() == root)
                qt_gl_set_global_share_context(nullptr);
            delete root;
            root = nullptr;
        });
        return context;
    }();
    return QOpenGLContext::globalShareContext() ? QOpenGLContext::globalShareContext() : root;
}

} // namespace

// The widget the frames are drawn into. Qt composes its framebuffer with the window's other
// widgets, which lie above it.
class SlideFrameView : public QOpenGLWidget
{
public:
    SlideFrameView(FrameViewPresenter& presenter, QWidget* parent)
        : QOpenGLWidget(parent), m_presenter(presenter)
    {
        // No alpha channel: the frame is opaque, as on a window of its own.
        setTextureFormat(GL_RGB8);
    }

protected:
    void initializeGL() override { m_presenter.viewContextCreated(); }
    void paintGL() override { m_presenter.paintView(); }

private:
    FrameViewPresenter& m_presenter;
};

FrameViewPresenter::FrameViewPresenter(QWindow& window) : FramePresenter(window) {}

FrameViewPresenter::~FrameViewPresenter() = default;

QWidget* FrameViewPresenter::embedIn(QWidget* parent)
{
    // The share group's root exists before the window makes its composition context for the
    // view, which joins the group then.
    shareRoot();
    m_view = new SlideFrameView(*this, parent);
    static_cast<QObject&>(m_window).setParent(m_view);
    watchWindow();
    return m_view;
}

QSurface* FrameViewPresenter::prepareSurface(const QSurfaceFormat& format)
{
    m_offscreenSurface = std::make_unique<QOffscreenSurface>();
    m_offscreenSurface->setFormat(format);
    m_offscreenSurface->create();
    return m_offscreenSurface.get();
}

QOpenGLContext* FrameViewPresenter::shareContext() const
{
    return shareRoot();
}

bool FrameViewPresenter::makeCurrent()
{
    if (!isReady())
        return false;
    // Before the window is first shown the view has no context yet: the slideshow's own takes
    // the uploads.
    if (m_view == nullptr || !m_view->isValid())
        return FramePresenter::makeCurrent();
    m_view->makeCurrent();
    if (QOpenGLContext::currentContext() != m_view->context())
        return false;
    adoptViewContext();
    return true;
}

bool FrameViewPresenter::bindFrame()
{
    // Only the view's framebuffer reaches the screen.
    if (!makeCurrent() || m_view == nullptr || !m_view->isValid())
        return false;
    if (!followViewSize())
        return false;
    rebindFrame();
    return true;
}

bool FrameViewPresenter::followViewSize()
{
    // The surface takes the view's size, whose framebuffer Qt keeps at its size in device pixels.
    if (m_window.size() != m_view->size())
        m_window.resize(m_view->size());
    return !m_window.size().isEmpty();
}

void FrameViewPresenter::rebindFrame()
{
    if (QOpenGLContext* context = QOpenGLContext::currentContext())
        context->functions()->glBindFramebuffer(GL_FRAMEBUFFER, m_view->defaultFramebufferObject());
}

void FrameViewPresenter::present()
{
    if (!showsFrames() || !m_view->isValid())
        return;
    watchWindow();
    // The window is painted and composed now. (QWidget::repaint() would put it off to the next
    // turn of the event loop when the window was composed less than a refresh ago, as a frame
    // that follows the compositor's callback often was.)
    m_view->update();
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(m_view->window(), &request);
}

void FrameViewPresenter::paintView()
{
    // The view is painted for a new frame, and again when the window is exposed or resized:
    // either way it shows the frame shown now.
    if (!isReady() || !followViewSize()) {
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    // Qt made the view's context current and bound its framebuffer.
    adoptViewContext();
    draw();
    frameDrawn();
}

void FrameViewPresenter::adoptViewContext()
{
    // A new context gets the slideshow's fixed state first. What the slideshow makes in it (the
    // multisampled framebuffer) is not shared: it goes with the context, which Qt replaces when
    // the window changes.
    QOpenGLContext* context = m_view->context();
    if (m_setUpIn == context)
        return;
    m_setUpIn = context;
    setUpContext();
    connect(context, &QOpenGLContext::aboutToBeDestroyed, this, [this, context] {
        if (m_setUpIn != context)
            return;
        m_setUpIn = nullptr;
        if (isReady() && context->makeCurrent(m_offscreenSurface.get()))
            releaseContext();
    }, Qt::DirectConnection);
}

void FrameViewPresenter::viewContextCreated()
{
    m_setUpIn = nullptr;
    watchWindow();
}

void FrameViewPresenter::release()
{
    if (m_view && m_view->isValid())
        m_view->doneCurrent();
    m_setUpIn = nullptr;
    m_frameAsked = false;
    FramePresenter::release();
}

bool FrameViewPresenter::showsFrames() const
{
    // On Wayland a hidden window is not drawn at all: its compositor takes no frames from it,
    // and the show must neither wait for one nor draw for nobody.
    if (m_view == nullptr || !m_view->isVisible())
        return false;
    const QWindow* window = m_view->window()->windowHandle();
    return window != nullptr && window->isExposed();
}

void FrameViewPresenter::requestFrame()
{
    watchWindow();
    if (m_watched == nullptr)
        return;
    m_frameAsked = true;
    m_watched->requestUpdate();
}

void FrameViewPresenter::watchWindow()
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

bool FrameViewPresenter::eventFilter(QObject* watched, QEvent* event)
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

unsigned FrameViewPresenter::readBuffer() const
{
    return GL_COLOR_ATTACHMENT0;
}
