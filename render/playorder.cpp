#include "render/playorder.h"

#include <algorithm>
#include <numeric>
#include <utility>

PlayOrder::PlayOrder(int count, ShowOrder order, std::mt19937 random)
    : m_count(std::max(count, 0)), m_order(order), m_random(std::move(random))
{
    if (m_order == ShowOrder::Sorted)
        return;
    m_current = drawRound();
    m_next = drawRound();
    m_previous = drawRound();
    // The rounds either side of the first one follow the boundary rule like every later one.
    keepApart(m_next, true, m_current.back());
    keepApart(m_previous, false, m_current.front());
}

void PlayOrder::keepApart(std::vector<int>& round, bool atFront, int neighbour)
{
    if (m_count < 2)
        return;
    int& end = atFront ? round.front() : round.back();
    if (end != neighbour)
        return;
    // Swapping the repeated picture with another one drawn at random keeps the round a
    // uniformly random permutation among those that do not start (or end) with it.
    const int other = atFront ? std::uniform_int_distribution<int>(1, m_count - 1)(m_random)
                              : std::uniform_int_distribution<int>(0, m_count - 2)(m_random);
    std::swap(end, round[static_cast<std::size_t>(other)]);
}

std::vector<int> PlayOrder::drawRound()
{
    std::vector<int> round(static_cast<std::size_t>(m_count));
    std::iota(round.begin(), round.end(), 0);
    std::shuffle(round.begin(), round.end(), m_random);
    return round;
}

int PlayOrder::pictureAt(int position) const
{
    if (m_order == ShowOrder::Sorted)
        return position;
    return m_current.at(static_cast<std::size_t>(position));
}

int PlayOrder::nextPicture(int position) const
{
    if (position + 1 < m_count)
        return pictureAt(position + 1);
    return m_order == ShowOrder::Sorted ? 0 : m_next.front();
}

int PlayOrder::previousPicture(int position) const
{
    if (position > 0)
        return pictureAt(position - 1);
    return m_order == ShowOrder::Sorted ? m_count - 1 : m_previous.back();
}

void PlayOrder::startNextRound()
{
    if (m_order == ShowOrder::Sorted || m_count == 0)
        return;
    m_previous = std::move(m_current);
    m_current = std::move(m_next);
    m_next = drawRound();
    keepApart(m_next, true, m_current.back());
}

void PlayOrder::returnToPreviousRound()
{
    if (m_order == ShowOrder::Sorted || m_count == 0)
        return;
    m_next = std::move(m_current);
    m_current = std::move(m_previous);
    m_previous = drawRound();
    keepApart(m_previous, false, m_current.front());
}
