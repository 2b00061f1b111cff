#include "render/framepacer.h"

#include "render/slidesurface.h"

#include <QScreen>

#include <cmath>

FramePacer::FramePacer(SlideSurface* surface, QObject* parent) : QObject(parent), m_surface(surface)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_active)
            emit frameDue();
    });
    connect(m_surface, &SlideSurface::frameRequested, this, [this] {
        if (m_active && m_followsSwaps.value_or(false))
            emit frameDue();
    });
}

double FramePacer::refreshRate() const
{
    const QScreen* screen = m_surface->screen();
    const double rate = screen ? screen->refreshRate() : 0;
    // Some X servers report nothing, or nonsense; 60 Hz is the common display.
    return rate >= 20 && rate <= 500 ? rate : 60;
}

void FramePacer::activate()
{
    if (m_active)
        return;
    if (!m_followsSwaps && m_surface->isSurfaceReady() && m_surface->isExposed())
        m_followsSwaps = m_surface->swapWaitsForRefresh(refreshRate());
    m_active = true;
    m_deadline = Clock::now();
}

void FramePacer::start()
{
    if (m_active)
        return;
    activate();
    m_timer.start(0);
}

void FramePacer::stop()
{
    m_active = false;
    m_timer.stop();
}

void FramePacer::requestNext()
{
    activate();
    if (m_followsSwaps.value_or(false)) {
        m_surface->requestUpdate();
        return;
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1 / refreshRate()));
    const Clock::time_point now = Clock::now();
    m_deadline += period;
    // A frame that ran over a whole period starts a new beat rather than hurrying to catch up.
    if (m_deadline + period < now)
        m_deadline = now;
    const auto wait = std::chrono::duration<double, std::milli>(m_deadline - now).count();
    m_timer.start(wait > 0 ? int(std::lround(wait)) : 0);
}
