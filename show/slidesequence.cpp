#include "show/slidesequence.h"

#include <utility>

SlideSequence::SlideSequence(int count, SlideMotion motion, double seconds, ShowOrder order,
                             std::mt19937 random, SlideCycle::Now now)
    : m_order(count, order, std::move(random)), m_cycle(count, motion, seconds, std::move(now))
{
    // A change past the last position starts the next round, a step back before the first
    // returns to the round before.
    m_cycle.setRoundHandler([this](int step) {
        if (m_living && step > 0)
            m_living->startNextRound();
        else if (m_living)
            m_living->returnToPreviousRound();
        else if (step > 0)
            m_order.startNextRound();
        else
            m_order.returnToPreviousRound();
    });
}

void SlideSequence::follow(SortedStringList& list, std::mt19937 random)
{
    m_living = std::make_unique<LivingOrder>(list, m_order.order(), std::move(random));
}

LivingOrder::Outcome SlideSequence::applyChanges(ListChanges changes, bool onScreen)
{
    LivingOrder::Outcome outcome =
        m_living->apply(std::move(changes), m_cycle.position(), onScreen);
    m_cycle.relist(m_living->count(), outcome.position);
    return outcome;
}
