#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

// The order in which the show plays the pictures of its list.
enum class ShowOrder
{
    // List order: position k plays picture k.
    Sorted,
    // Each round plays a random permutation of the list; the next round's first picture is
    // never the last one of the round before (with two pictures or more).
    Shuffle,
};

// Maps the show's play positions 0 .. count - 1 to the indices of the picture list, round by
// round. The slide cycle counts positions (the k of "k/N" is position + 1) and moves to the next
// round when it steps forward past the last position, to the previous round when it steps back
// before the first one. The round before and the round after the one being played are known
// ahead, so that the neighbours of any position can be prepared. The rounds played are kept (up
// to KeptRounds either side), so that stepping back replays them as they were played. Plain
// data; one thread.
class PlayOrder
{
public:
    static constexpr std::size_t KeptRounds = 64;

    // A sorted order needs no random source. A shuffled one draws its rounds from `random`,
    // which tests seed to make the order known.
    PlayOrder(int count, ShowOrder order, std::mt19937 random = std::mt19937());

    int count() const { return m_count; }
    ShowOrder order() const { return m_order; }

    // The picture at `position` of the round being played, or -1 for a position outside it.
    int pictureAt(int position) const;
    // The pictures a step forward and a step back from `position`, across the round's ends.
    int nextPicture(int position) const;
    int previousPicture(int position) const;

    // The round after the one being played becomes the one played, and a new one follows it.
    void startNextRound();
    // The round before becomes the one played, and a new one comes before it.
    void returnToPreviousRound();

private:
    std::vector<int> drawRound();
    // Makes sure the first (atFront) or last picture of `round` is not `neighbour`, the
    // picture on the other side of the boundary.
    void keepApart(std::vector<int>& round, bool atFront, int neighbour);

    int m_count = 0;
    ShowOrder m_order = ShowOrder::Sorted;
    std::mt19937 m_random;
    // The rounds known, oldest first; m_rounds[m_current] is being played, and there is always
    // one before it and one after it.
    std::deque<std::vector<int>> m_rounds;
    std::size_t m_current = 1;
};
