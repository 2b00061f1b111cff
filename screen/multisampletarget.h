#pragma once

#include <QSize>

#include <memory>

class QOpenGLFramebufferObject;

// A 4x multisampled framebuffer object with a depth buffer, for a window whose visual has no
// samples of its own (Xvfb, some remote X servers): the scene is drawn into it and then resolved
// into the framebuffer it would have been drawn into, which gives the same smooth edges.
//
// Every function expects the slideshow's context to be current on the calling thread.
class MultisampleTarget
{
public:
    static constexpr int Samples = 4;

    MultisampleTarget();
    ~MultisampleTarget();
    MultisampleTarget(const MultisampleTarget&) = delete;
    MultisampleTarget& operator=(const MultisampleTarget&) = delete;

    // Whether the context can make and resolve a multisampled framebuffer with at least two
    // samples.
    static bool isAvailable();

    // Binds the target at `pixels` (made anew when the size changed). False when it cannot be
    // made; the framebuffer bound before stays bound then.
    bool bind(QSize pixels);
    // Resolves what was drawn into the framebuffer object `framebuffer` (0 for the window's
    // own), at the same size, and leaves that one bound.
    void resolveInto(unsigned framebuffer);

    // Deletes the framebuffer object. Also done by the destructor, which must then run with the
    // context current.
    void release();

private:
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
};
