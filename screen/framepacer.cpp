#include "screen/framepacer.h"

#include "screen/framepresenter.h"

#include <QScreen>

#include <algorithm>
#include <cmath>

FramePacer::FramePacer(FramePresenter* presenter, SlideMotion motion, int frameInterval,
                       QObject* parent)
    : QObject(parent), m_presenter(presenter), m_motion(motion)
{
    m_slideTimer.setObjectName(QStringLiteral("Timer_Slide"));
    m_slideTimer.setInterval(frameInterval);
    connect(&m_slideTimer, &QTimer::timeout, this, &FramePacer::frameDue);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_refreshTimer, &QTimer::timeout, this, &FramePacer::smoothFrameDue);
    connect(m_presenter, &FramePresenter::frameRequested, this, [this] {
        if (m_followsSwaps.value_or(false))
            smoothFrameDue();
    });
    connect(m_presenter, &FramePresenter::exposeChanged, this, &FramePacer::exposeChanged);
}

double FramePacer::refreshRate() const
{
    const QScreen* screen = m_presenter->screen();
    const double rate = screen ? screen->refreshRate() : 0;
    // Some X servers report nothing, or nonsense; 60 Hz is the common display.
    return rate >= 20 && rate <= 500 ? rate : 60;
}

bool FramePacer::isActive() const
{
    return m_motion == SlideMotion::Frames ? m_slideTimer.isActive() : m_active;
}

void FramePacer::activate()
{
    if (m_active)
        return;
    if (!m_followsSwaps && m_presenter->isReady() && m_presenter->showsFrames())
        m_followsSwaps = m_presenter->swapWaitsForRefresh(refreshRate());
    m_active = true;
    m_deadline = Clock::now();
}

void FramePacer::start()
{
    if (m_motion == SlideMotion::Frames) {
        if (!m_slideTimer.isActive())
            m_slideTimer.start();
        return;
    }
    if (m_active)
        return;
    activate();
    m_refreshTimer.start(0);
}

void FramePacer::stop()
{
    m_slideTimer.stop();
    m_refreshTimer.stop();
    m_active = false;
    m_stalled = false;
}

void FramePacer::frameDone()
{
    if (m_motion == SlideMotion::Frames) {
        // Restarting the timer restarts its interval from the frame on screen.
        m_slideTimer.start();
        return;
    }
    activate();
    // Only a frame asked for by the pacer tells how long a frame takes from the request; one
    // drawn when a waited-for picture arrived was not asked for.
    if (m_askedAt && !m_followsSwaps.value_or(false) && m_presenter->lastDrawnAt() >= *m_askedAt) {
        m_drawTimes[m_drawCount % m_drawTimes.size()] = m_presenter->lastDrawnAt() - *m_askedAt;
        ++m_drawCount;
    }
    scheduleNext();
}

std::chrono::microseconds FramePacer::drawLead() const
{
    using namespace std::chrono;
    const auto period = duration<double>(1 / refreshRate());
    // Before any frame was drawn, half a period; then the slowest of the recent frames and a
    // margin, but never so much that the window has no time for its other events.
    const auto longest = duration_cast<microseconds>(0.7 * period);
    if (m_drawCount == 0)
        return duration_cast<microseconds>(0.5 * period);
    const std::size_t counted = std::min(m_drawCount, m_drawTimes.size());
    const Clock::duration slowest =
        *std::max_element(m_drawTimes.begin(), m_drawTimes.begin() + std::ptrdiff_t(counted));
    return std::min(duration_cast<microseconds>(slowest) + 2ms, longest);
}

void FramePacer::frameSkipped()
{
    if (m_motion == SlideMotion::Smooth) {
        activate();
        scheduleNext();
    }
}

void FramePacer::waitForPicture()
{
    if (m_motion == SlideMotion::Smooth)
        stop();
}

void FramePacer::scheduleNext()
{
    if (m_followsSwaps.value_or(false)) {
        m_presenter->requestFrame();
        return;
    }
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1 / refreshRate()));
    const Clock::duration lead = drawLead();
    const Clock::time_point now = Clock::now();
    m_deadline += period;
    // A frame that ran over a whole period starts a new beat rather than hurrying to catch up.
    if (m_deadline - lead + period < now)
        m_deadline = now + lead;
    const auto wait = std::chrono::duration<double, std::milli>(m_deadline - lead - now).count();
    m_refreshTimer.start(wait > 0 ? int(std::lround(wait)) : 0);
}

void FramePacer::smoothFrameDue()
{
    if (!m_active)
        return;
    // Frames nobody sees are not asked for; the frames go on when it is shown again.
    m_stalled = m_presenter->isReady() && !m_presenter->showsFrames();
    if (m_stalled)
        return;
    m_askedAt = Clock::now();
    if (!m_followsSwaps.value_or(false))
        m_presenter->presentNoSoonerThan(m_deadline);
    emit frameDue();
    m_askedAt.reset();
    // A tick that presented nothing (a change waiting for its picture) leaves no wait behind
    // for a later presentation.
    m_presenter->presentNoSoonerThan(std::nullopt);
}

void FramePacer::exposeChanged()
{
    if (m_active && m_stalled && m_presenter->showsFrames()) {
        m_stalled = false;
        m_deadline = Clock::now();
        m_refreshTimer.start(0);
    }
}
