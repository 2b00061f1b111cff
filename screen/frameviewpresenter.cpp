#include "screen/frameviewpresenter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
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

FrameViewPresenter::FrameViewPresenter(QWindow& window) : WaylandPresenter(window) {}

FrameViewPresenter::~FrameViewPresenter() = default;

QWidget* FrameViewPresenter::embedIn(QWidget* parent)
{
    // The share group's root exists before the window makes its composition context for the
    // view, which joins the group then.
    shareRoot();
    adoptView(new SlideFrameView(*this, parent));
    return m_view;
}

SlideFrameView* FrameViewPresenter::view() const
{
    return static_cast<SlideFrameView*>(m_view);
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
    if (m_view == nullptr || !view()->isValid())
        return FramePresenter::makeCurrent();
    view()->makeCurrent();
    if (QOpenGLContext::currentContext() != view()->context())
        return false;
    adoptViewContext();
    return true;
}

bool FrameViewPresenter::bindFrame()
{
    // Only the view's framebuffer reaches the screen.
    if (!makeCurrent() || m_view == nullptr || !view()->isValid())
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
        context->functions()->glBindFramebuffer(GL_FRAMEBUFFER, view()->defaultFramebufferObject());
}

void FrameViewPresenter::present()
{
    if (!showsFrames() || !view()->isValid())
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
    QOpenGLContext* context = view()->context();
    if (m_setUpIn == context)
        return;
    m_setUpIn = context;
    setUpContext();
    connect(context, &QOpenGLContext::aboutToBeDestroyed, this, [this, context] {
        if (m_setUpIn != context)
            return;
        m_setUpIn = nullptr;
        if (isReady() && context->makeCurrent(offscreenSurface()))
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
    if (m_view && view()->isValid())
        view()->doneCurrent();
    m_setUpIn = nullptr;
    forgetFrameRequest();
    FramePresenter::release();
}

unsigned FrameViewPresenter::readBuffer() const
{
    return GL_COLOR_ATTACHMENT0;
}
