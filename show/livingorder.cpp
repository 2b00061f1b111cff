#include "show/livingorder.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

namespace {

// Makes sure the end of `round` that meets another round (its front, or its back) is not
// `neighbour`, the picture on the other side of that boundary, by swapping it with another one.
void keepApart(std::vector<int>& round, bool atFront, int neighbour, std::mt19937& random)
{
    if (round.size() < 2)
        return;
    int& end = atFront ? round.front() : round.back();
    if (end != neighbour)
        return;
    const int last = int(round.size()) - 1;
    const int other = atFront ? std::uniform_int_distribution<int>(1, last)(random)
                              : std::uniform_int_distribution<int>(0, last - 1)(random);
    std::swap(end, round[std::size_t(other)]);
}

} // namespace

LivingOrder::LivingOrder(SortedStringList& list, ShowOrder order, std::mt19937 random)
    : m_list(list), m_order(order), m_random(std::move(random))
{
    m_entries.reserve(m_list.count());
    m_entryOf.reserve(m_list.count());
    for (std::size_t i = 0; i < m_list.count(); ++i) {
        m_entries.push_back(m_list.at(i));
        m_entryOf.push_back(int(i));
        m_ids.emplace(m_entries.back().path, int(i));
    }
    if (m_order == ShowOrder::Sorted)
        return;
    m_previous = drawRound();
    m_current = drawRound();
    m_next = drawRound();
    if (!m_current.empty()) {
        keepApart(m_next, true, m_current.back(), m_random);
        keepApart(m_previous, false, m_current.front(), m_random);
    }
}

int LivingOrder::idAtSorted(std::size_t index) const
{
    return m_ids.at(m_list.at(index).path);
}

int LivingOrder::pictureAt(int position) const
{
    if (position < 0 || position >= count())
        return -1;
    if (m_order == ShowOrder::Sorted)
        return idAtSorted(std::size_t(position));
    return m_current[std::size_t(position)];
}

int LivingOrder::nextPicture(int position) const
{
    if (position + 1 < count())
        return pictureAt(position + 1);
    if (m_order == ShowOrder::Sorted)
        return pictureAt(0);
    return m_next.empty() ? -1 : m_next.front();
}

int LivingOrder::previousPicture(int position) const
{
    if (position > 0 && position <= count())
        return pictureAt(position - 1);
    if (m_order == ShowOrder::Sorted)
        return pictureAt(count() - 1);
    return m_previous.empty() ? -1 : m_previous.back();
}

std::vector<int> LivingOrder::drawRound()
{
    std::vector<int> round;
    round.reserve(m_ids.size());
    for (const auto& held : m_ids)
        round.push_back(held.second);
    // The hash map's order is not the same from run to run; a seeded source must draw the same.
    std::sort(round.begin(), round.end());
    std::shuffle(round.begin(), round.end(), m_random);
    return round;
}

int LivingOrder::randomIn(int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(m_random);
}

void LivingOrder::startNextRound()
{
    if (m_order == ShowOrder::Sorted)
        return;
    m_previous = std::move(m_current);
    m_current = std::move(m_next);
    m_next = drawRound();
    if (!m_current.empty())
        keepApart(m_next, true, m_current.back(), m_random);
}

void LivingOrder::returnToPreviousRound()
{
    if (m_order == ShowOrder::Sorted)
        return;
    m_next = std::move(m_current);
    m_current = std::move(m_previous);
    m_previous = drawRound();
    if (!m_current.empty())
        keepApart(m_previous, false, m_current.front(), m_random);
}

void LivingOrder::removeFromRounds(const std::vector<int>& ids, int& position, bool onScreen,
                                   bool& currentLeft)
{
    const std::unordered_set<int> leaving(ids.begin(), ids.end());
    int kept = 0;
    const int playing = position;
    for (int i = 0; i < int(m_current.size()); ++i) {
        if (!leaving.contains(m_current[std::size_t(i)])) {
            m_current[std::size_t(kept++)] = m_current[std::size_t(i)];
            continue;
        }
        if (i < playing || (i == playing && onScreen))
            --position;
        if (i == playing && onScreen)
            currentLeft = true;
    }
    m_current.resize(std::size_t(kept));
    for (std::vector<int>* round : {&m_previous, &m_next})
        std::erase_if(*round, [&](int id) { return leaving.contains(id); });
}

LivingOrder::Outcome LivingOrder::apply(ListChanges changes, int position, bool onScreen)
{
    Outcome outcome;
    if (!changes.removed.empty()) {
        std::vector<int> leaving;
        for (const std::string& path : changes.removed) {
            const std::optional<std::size_t> index = m_list.indexOf(path);
            if (!index)
                continue;
            const int at = int(*index);
            if (m_order == ShowOrder::Sorted) {
                // Those before the current picture move it down by one; the current picture
                // itself, while on screen, stays there until its slide ends, and the next change
                // goes to the picture that followed it.
                if (at == position && onScreen)
                    outcome.currentLeft = true;
                if (at < position || (at == position && onScreen))
                    --position;
            }
            leaving.push_back(m_ids.at(path));
            m_ids.erase(path);
            m_list.remove(path);
        }
        if (m_order == ShowOrder::Shuffle)
            removeFromRounds(leaving, position, onScreen, outcome.currentLeft);
        // A pending change whose picture left at the end of the round goes on to the next round.
        if (!onScreen && position >= count() && count() > 0) {
            position = 0;
            startNextRound();
            outcome.wrapped = true;
        }
    }

    // A change that waits while there is no picture starts the list from its first position.
    const bool startsAfresh = count() == 0 && !onScreen;
    std::unordered_map<int, int> rewritten;
    for (KeyedPath& keyed : changes.added) {
        const int id = idCount();
        const auto held = m_ids.find(keyed.entry.path);
        if (held != m_ids.end()) {
            // Written again after it joined: the same place and entry under a new id, so that
            // no copy prepared from the old contents is shown.
            rewritten.emplace(held->second, id);
            m_entryOf.push_back(m_entryOf[std::size_t(held->second)]);
            held->second = id;
            outcome.newIds.push_back(id);
            continue;
        }
        const std::string path = keyed.entry.path;
        PathEntry entry = keyed.entry;
        if (!m_list.add(std::move(keyed)))
            continue;
        m_entryOf.push_back(int(m_entries.size()));
        m_entries.push_back(std::move(entry));
        m_ids.emplace(path, id);
        outcome.newIds.push_back(id);
        if (m_order == ShowOrder::Sorted) {
            // The current picture stays current. A pending change whose picture does not exist
            // (the list was empty, or it left at the end) goes to the one that takes its place.
            const int at = int(*m_list.indexOf(path));
            const bool heldBefore = position < count() - 1;
            if (at < position || (at == position && (onScreen || heldBefore)))
                ++position;
            continue;
        }
        const int size = int(m_current.size());
        m_current.insert(m_current.begin() + randomIn(std::clamp(position + 1, 0, size), size), id);
        m_next.insert(m_next.begin() + randomIn(0, int(m_next.size())), id);
        m_previous.insert(m_previous.begin() + randomIn(0, int(m_previous.size())), id);
    }
    if (!rewritten.empty()) {
        for (std::vector<int>* round : {&m_previous, &m_current, &m_next}) {
            for (int& id : *round) {
                if (const auto found = rewritten.find(id); found != rewritten.end())
                    id = found->second;
            }
        }
    }
    if (startsAfresh)
        position = 0;
    outcome.position = count() == 0 ? -1 : position;
    return outcome;
}
