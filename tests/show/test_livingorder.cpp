// The play order of a show whose list changes while it runs.
#include "show/livingorder.h"
#include "show/slidesequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

const QLocale Locale = QLocale(QLocale::English);

std::string pathOf(const std::string& name)
{
    return "/p/" + name + ".jpg";
}

ListChanges adding(const std::vector<std::string>& names)
{
    const PathCollation collation(Locale);
    ListChanges changes;
    for (const std::string& name : names)
        changes.added.push_back(
            collation.keyed(QString::fromStdString(pathOf(name)), pathOf(name)));
    return changes;
}

ListChanges removing(const std::vector<std::string>& names)
{
    ListChanges changes;
    for (const std::string& name : names)
        changes.removed.push_back(pathOf(name));
    return changes;
}

std::string nameAt(const LivingOrder& order, int position)
{
    const std::string& path = order.entry(order.pictureAt(position)).path;
    return path.substr(3, path.size() - 7);
}

std::vector<int> roundOf(const LivingOrder& order)
{
    std::vector<int> ids;
    for (int position = 0; position < order.count(); ++position)
        ids.push_back(order.pictureAt(position));
    return ids;
}

} // namespace

TEST(LivingOrder, SortedJoinsAtTheSortedPlaceAndTheCurrentPictureStaysCurrent)
{
    SortedStringList list(Locale);
    for (const char* name : {"a", "c", "e"})
        list.add(QString::fromStdString(pathOf(name)), pathOf(name));
    LivingOrder order(list, ShowOrder::Sorted, std::mt19937(1));
    int position = 1; // "c" on screen

    // One before the current picture moves it on; one after it plays in this round.
    LivingOrder::Outcome outcome = order.apply(adding({"B", "d"}), position, true);
    position = outcome.position;
    EXPECT_EQ(nameAt(order, position), "c");
    EXPECT_EQ(position, 2);
    EXPECT_EQ(order.count(), 5);
    EXPECT_EQ(outcome.newIds, (std::vector<int>{3, 4}));
    EXPECT_EQ(order.entry(order.nextPicture(position)).path, pathOf("d"));

    // Removed before it, and the current one itself while on screen: the next change goes to
    // the picture that followed it.
    outcome = order.apply(removing({"a", "c", "gone"}), position, true);
    EXPECT_TRUE(outcome.currentLeft);
    EXPECT_EQ(order.count(), 3);
    EXPECT_EQ(nameAt(order, outcome.position + 1), "d");
    position = outcome.position + 1;

    // A file written again keeps its place under a new id; removing the pending picture at
    // the end of the list goes on from the first.
    outcome = order.apply(adding({"e"}), position, true);
    EXPECT_EQ(outcome.newIds, (std::vector<int>{5}));
    EXPECT_EQ(order.nextPicture(position), 5);
    // Its entry is the one it had: a picture written again and again costs no more entries.
    EXPECT_EQ(&order.entry(5), &order.entry(2));
    outcome = order.apply(removing({"e"}), position + 1, false);
    EXPECT_TRUE(outcome.wrapped);
    EXPECT_EQ(nameAt(order, outcome.position), "B");
    EXPECT_FALSE(outcome.currentLeft);

    // Everything goes, then a picture comes.
    outcome = order.apply(removing({"B", "d"}), 0, true);
    EXPECT_EQ(order.count(), 0);
    EXPECT_EQ(outcome.position, -1);
    EXPECT_EQ(order.nextPicture(outcome.position), -1);
    outcome = order.apply(adding({"z"}), outcome.position, true);
    EXPECT_EQ(order.nextPicture(outcome.position), outcome.newIds.at(0));
    // A change that waits for a picture while there is none takes the first that comes.
    order.apply(removing({"z"}), 0, true);
    outcome = order.apply(adding({"y", "x"}), 0, false);
    EXPECT_EQ(outcome.position, 0);
    EXPECT_EQ(nameAt(order, 0), "x");
}

TEST(LivingOrder, ShuffledJoinAmongThoseNotYetShownAndRoundsStayWhole)
{
    SortedStringList list(Locale);
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) {
        names.push_back("old" + std::to_string(i));
        list.add(QString::fromStdString(pathOf(names.back())), pathOf(names.back()));
    }
    // Through the sequence, so that the cycle's position and count follow.
    SlideSequence sequence(10, SlideMotion::Frames, 4.5, ShowOrder::Shuffle, std::mt19937(7));
    sequence.follow(list, std::mt19937(7));
    const LivingOrder& order = *sequence.living();
    for (int i = 0; i < 4; ++i) {
        sequence.cycle().next();
        sequence.cycle().beginTick();
        sequence.cycle().changeDone();
    }
    const std::vector<int> before = roundOf(order);
    const int current = sequence.currentPicture();

    std::vector<std::string> fresh;
    for (int i = 0; i < 50; ++i)
        fresh.push_back("new" + std::to_string(i));
    LivingOrder::Outcome outcome = sequence.applyChanges(adding(fresh), true);
    EXPECT_EQ(sequence.cycle().position(), 4);
    EXPECT_EQ(sequence.currentPicture(), current);
    const std::vector<int> after = roundOf(order);
    ASSERT_EQ(after.size(), 60u);
    // Those shown this round stay as they were; the new ones all lie after the current one.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 5, after.begin()));
    EXPECT_GE(std::count_if(after.begin() + 5, after.end(), [](int id) { return id >= 10; }), 50);

    // Two shown before the current one and the current one itself leave.
    const std::string first = nameAt(order, 0);
    const std::string third = nameAt(order, 2);
    const std::string shown = nameAt(order, 4);
    const int following = order.pictureAt(5);
    outcome = sequence.applyChanges(removing({first, third, shown}), true);
    EXPECT_TRUE(outcome.currentLeft);
    EXPECT_EQ(sequence.cycle().position(), 1);
    EXPECT_EQ(sequence.nextPicture(), following);

    // Every later round plays each picture that is left exactly once.
    for (int round = 0; round < 3; ++round) {
        while (sequence.cycle().position() + 1 < order.count()) {
            sequence.cycle().next();
            sequence.cycle().beginTick();
            sequence.cycle().changeDone();
        }
        sequence.cycle().next();
        sequence.cycle().beginTick();
        sequence.cycle().changeDone();
        std::vector<int> ids = roundOf(order);
        std::set<std::string> paths;
        for (int id : ids)
            paths.insert(order.entry(id).path);
        EXPECT_EQ(paths.size(), 57u);
        EXPECT_FALSE(paths.contains(pathOf(shown)));
    }

    // On the last of the round, a picture that joins can only come next, never in its place.
    while (sequence.cycle().position() + 1 < order.count()) {
        sequence.cycle().next();
        sequence.cycle().beginTick();
        sequence.cycle().changeDone();
    }
    const int last = sequence.currentPicture();
    for (int i = 0; i < 30; ++i) {
        outcome = sequence.applyChanges(adding({"late"}), true);
        EXPECT_EQ(sequence.currentPicture(), last);
        EXPECT_EQ(sequence.nextPicture(), outcome.newIds.at(0));
        sequence.applyChanges(removing({"late"}), true);
    }
}
