#pragma once

#include "show/livingorder.h"
#include "show/playorder.h"
#include "show/slidecycle.h"
#include "show/slidepreparer.h"

#include <memory>
#include <random>

// The show's way through the picture list: the slide cycle (the play position, its clock, the
// mouse buttons' rules) and the play order (which picture each position plays), bound together
// so that the cycle's steps past either end of a round move the order to the next or the
// previous round. Plain data; one thread.
class SlideSequence
{
public:
    SlideSequence(int count, SlideMotion motion, double seconds, ShowOrder order,
                  std::mt19937 random, SlideCycle::Now now = &SlideCycle::Clock::now);
    // The cycle tells this object of its rounds, so it stays where it was made.
    SlideSequence(const SlideSequence&) = delete;
    SlideSequence& operator=(const SlideSequence&) = delete;

    SlideCycle& cycle() { return m_cycle; }
    const SlideCycle& cycle() const { return m_cycle; }
    const PlayOrder& order() const { return m_order; }

    // The show follows `list` as it changes (see LivingOrder): from now on pictures are named by
    // the living order's ids, which are the list's indices until the first change.
    void follow(SortedStringList& list, std::mt19937 random);
    // Null unless the show follows its list.
    const LivingOrder* living() const { return m_living.get(); }
    // Applies one batch of changes to the list, the order and the cycle's position and count.
    // `onScreen` says whether the current position's picture is on screen.
    LivingOrder::Outcome applyChanges(ListChanges changes, bool onScreen);

    // The list index of the picture at the play position, and of those a step either side of it
    // (across the round's ends).
    int currentPicture() const
    {
        return m_living ? m_living->pictureAt(m_cycle.position())
                        : m_order.pictureAt(m_cycle.position());
    }
    int nextPicture() const
    {
        return m_living ? m_living->nextPicture(m_cycle.position())
                        : m_order.nextPicture(m_cycle.position());
    }
    SlideNeighbours neighbours() const
    {
        if (m_living)
            return {m_living->nextPicture(m_cycle.position()),
                    m_living->previousPicture(m_cycle.position())};
        return {m_order.nextPicture(m_cycle.position()),
                m_order.previousPicture(m_cycle.position())};
    }

private:
    std::unique_ptr<LivingOrder> m_living;
    PlayOrder m_order;
    SlideCycle m_cycle;
};
