#include "show/playorder.h"

#include <algorithm>
#include <numeric>
#include <utility>

PlayOrder::PlayOrder(int count, ShowOrder order, std::mt19937 random)
    : m_count(std::max(count, 0)), m_order(order), m_random(std::move(random))
{
    if (m_order == ShowOrder::Sorted)
        return;
    m_rounds.push_back(drawRound());
    m_rounds.push_back(drawRound());
    m_rounds.push_back(drawRound());
    // The rounds either side of the first one follow the boundary rule like every later one.
    keepApart(m_rounds[2], true, m_rounds[1].back());
    keepApart(m_rounds[0], false, m_rounds[1].front());
}

std::vector<int> PlayOrder::drawRound()
{
    std::vector<int> round(static_cast<std::size_t>(m_count));
    std::iota(round.begin(), round.end(), 0);
    std::shuffle(round.begin(), round.end(), m_random);
    return round;
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

int PlayOrder::pictureAt(int position) const
{
    if (position < 0 || position >= m_count)
        return -1;
    if (m_order == ShowOrder::Sorted)
        return position;
    return m_rounds[m_current][static_cast<std::size_t>(position)];
}

int PlayOrder::nextPicture(int position) const
{
    if (position + 1 < m_count)
        return pictureAt(position + 1);
    return m_order == ShowOrder::Sorted ? 0 : m_rounds[m_current + 1].front();
}

int PlayOrder::previousPicture(int position) const
{
    if (position > 0)
        return pictureAt(position - 1);
    return m_order == ShowOrder::Sorted ? m_count - 1 : m_rounds[m_current - 1].back();
}

void PlayOrder::startNextRound()
{
    if (m_order == ShowOrder::Sorted || m_count == 0)
        return;
    ++m_current;
    if (m_current + 1 == m_rounds.size()) {
        m_rounds.push_back(drawRound());
        keepApart(m_rounds.back(), true, m_rounds[m_current].back());
    }
    if (m_current > KeptRounds) {
        m_rounds.pop_front();
        --m_current;
    }
}

void PlayOrder::returnToPreviousRound()
{
    if (m_order == ShowOrder::Sorted || m_count == 0)
        return;
    if (m_current == 1) {
        m_rounds.push_front(drawRound());
        keepApart(m_rounds.front(), false, m_rounds[1].front());
    } else {
        --m_current;
    }
    if (m_rounds.size() - m_current > KeptRounds + 1)
        m_rounds.pop_back();
}
