#include "screen/multisampletarget.h"

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>

MultisampleTarget::MultisampleTarget() = default;

MultisampleTarget::~MultisampleTarget()
{
    release();
}

bool MultisampleTarget::isAvailable()
{
    if (!QOpenGLFramebufferObject::hasOpenGLFramebufferObjects() ||
        !QOpenGLFramebufferObject::hasOpenGLFramebufferBlit())
        return false;
    // A small one tells whether the driver grants the samples.
    MultisampleTarget probe;
    const bool granted = probe.bind(QSize(16, 16)) && probe.m_framebuffer->format().samples() >= 2;
    if (QOpenGLContext* context = QOpenGLContext::currentContext())
        context->functions()->glBindFramebuffer(GL_FRAMEBUFFER,
                                                context->defaultFramebufferObject());
    return granted;
}

bool MultisampleTarget::bind(QSize pixels)
{
    if (pixels.isEmpty())
        return false;
    if (!m_framebuffer || m_framebuffer->size() != pixels) {
        m_framebuffer.reset();
        QOpenGLFramebufferObjectFormat format;
        format.setSamples(Samples);
        format.setAttachment(QOpenGLFramebufferObject::Depth);
        m_framebuffer = std::make_unique<QOpenGLFramebufferObject>(pixels, format);
        if (!m_framebuffer->isValid()) {
            m_framebuffer.reset();
            return false;
        }
    }
    return m_framebuffer->bind();
}

void MultisampleTarget::resolveInto(unsigned framebuffer)
{
    QOpenGLExtraFunctions* gl = QOpenGLContext::currentContext()->extraFunctions();
    const QSize size = m_framebuffer->size();
    gl->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer->handle());
    gl->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    gl->glBlitFramebuffer(0, 0, size.width(), size.height(), 0, 0, size.width(), size.height(),
                          GL_COLOR_BUFFER_BIT, GL_NEAREST);
    gl->glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
}

void MultisampleTarget::release()
{
    m_framebuffer.reset();
}
