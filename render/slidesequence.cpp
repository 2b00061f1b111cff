#include "render/slidesequence.h"

#include <utility>

SlideSequence::SlideSequence(int count, SlideMotion motion, double seconds, ShowOrder order,
                             std::mt19937 random, SlideCycle::Now now)
    : m_order(count, order, std::move(random)), m_cycle(count, motion, seconds, std::move(now))
{
    // A change past the last position starts the next round, a step back before the first
    // returns to the round before.
    m_cycle.setRoundHandler([this](int step) {
        if (step > 0)
            m_order.startNextRound();
        else
            m_order.returnToPreviousRound();
    });
}
