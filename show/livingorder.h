#pragma once

#include "show/playorder.h"
#include "search/sortedstringlist.h"

#include <random>
#include <string>
#include <unordered_map>
#include <vector>

// What changed in the watched folder since the last batch: pictures that joined (or were written
// again), with their collation keys made off the UI thread, and pictures that left.
struct ListChanges
{
    std::vector<KeyedPath> added;
    std::vector<std::string> removed;

    bool empty() const { return added.empty() && removed.empty(); }
};

// The play order of a show whose picture list changes while it runs. Pictures are named by ids
// that stay theirs for the run (the picture preparer, the textures and the frame log know them by
// it): at the start the ids are the list's indices, and each picture that joins, or is written
// again, gets the next free id, so that a changed file is read anew the next time it is shown.
// A picture written again keeps its entry (its path and display name) under the new id, so that
// one written thousands of times (a webcam's snapshot) costs an id's slot each time, no more.
//
// Sorted: the list's own order, so a picture joins at its sorted place, and plays in this round
// when that lies after the current position. Shuffled: the round being played, and one either
// side of it; a picture joins the round being played at a random place among those not yet
// shown, and the rounds either side at a random place. The picture at the current position stays
// current through any change; when it leaves while on screen, its slide runs to its end and the
// next change goes to the picture that followed it. Plain data; one thread.
class LivingOrder
{
public:
    // `list` is the show's list, which this object changes from now on; its entries get the ids
    // 0..count - 1 in its present order.
    LivingOrder(SortedStringList& list, ShowOrder order, std::mt19937 random);

    int count() const { return int(m_list.count()); }
    // The entry of any id ever given, also of a picture that has left.
    const PathEntry& entry(int id) const
    {
        return m_entries.at(std::size_t(m_entryOf.at(std::size_t(id))));
    }
    int idCount() const { return int(m_entryOf.size()); }

    // As PlayOrder's, in ids; -1 for a position outside the round or an empty list.
    int pictureAt(int position) const;
    int nextPicture(int position) const;
    int previousPicture(int position) const;
    void startNextRound();
    void returnToPreviousRound();

    struct Outcome
    {
        // The play position of the current picture after the changes; -1 when the picture on
        // screen left from the first position (the next change goes to position 0).
        int position = 0;
        // The picture at the position left while on screen.
        bool currentLeft = false;
        // The change moved past the end of the round (the pending picture left from the last
        // position): the show goes on with the next round.
        bool wrapped = false;
        // The ids given by this batch, for the paths the worker opens.
        std::vector<int> newIds;
    };

    // Applies one batch: removals first, then additions. `position` is the play position now;
    // `onScreen` says whether its picture is on screen, or a change to it is still pending.
    Outcome apply(ListChanges changes, int position, bool onScreen);

private:
    int idAtSorted(std::size_t index) const;
    std::vector<int> drawRound();
    int randomIn(int low, int high);
    void removeFromRounds(const std::vector<int>& ids, int& position, bool onScreen,
                          bool& currentLeft);

    SortedStringList& m_list;
    const ShowOrder m_order;
    std::mt19937 m_random;
    // One entry for each picture that joined; for each id, the index of its picture's entry.
    std::vector<PathEntry> m_entries;
    std::vector<int> m_entryOf;
    std::unordered_map<std::string, int> m_ids;
    // Shuffled only: the round before, the one being played and the one after.
    std::vector<int> m_previous;
    std::vector<int> m_current;
    std::vector<int> m_next;
};
