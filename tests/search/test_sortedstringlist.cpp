#include "search/guardedlist.h"
#include "search/sortedstringlist.h"

#include <QCollator>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

std::vector<QString> displays(const SortedStringList& list)
{
    std::vector<QString> result;
    for (std::size_t i = 0; i < list.count(); ++i) {
        result.push_back(list.at(i).display);
    }
    return result;
}

std::vector<std::string> paths(const SortedStringList& list)
{
    std::vector<std::string> result;
    for (std::size_t i = 0; i < list.count(); ++i) {
        result.push_back(list.at(i).path);
    }
    return result;
}

TEST(SortedStringList, KeepsCollationOrderWhateverTheOrderOfAdding)
{
    std::vector<QString> names = {"/p/a.bmp",   "/p/Trip/img_0001.jpg", "/p/Old/x.jpeg",
                                  "/p/été.jpg", "/p/fin.jpg",           "/p/eau.jpg",
                                  "/p/B.jpg"};
    std::sort(names.begin(), names.end());
    do {
        SortedStringList list(kEnglish);
        for (const QString& name : names) {
            EXPECT_TRUE(list.add(name, name.toStdString()));
        }
        // Case is ignored and accents sort with their letters, unlike a code-point order.
        EXPECT_THAT(displays(list),
                    testing::ElementsAre("/p/a.bmp", "/p/B.jpg", "/p/eau.jpg", "/p/été.jpg",
                                         "/p/fin.jpg", "/p/Old/x.jpeg", "/p/Trip/img_0001.jpg"));
    } while (std::next_permutation(names.begin(), names.end()));
}

TEST(SortedStringList, IgnoresCaseInTheCLocaleToo)
{
    SortedStringList list(QLocale::c());
    for (const char* name : {"b", "C", "a", "B2"}) {
        list.add(name, name);
    }
    EXPECT_THAT(displays(list), testing::ElementsAre("a", "b", "B2", "C"));
}

TEST(SortedStringList, KeepsNamesThatDifferOnlyInCaseOrderedByExactPath)
{
    for (bool lowerFirst : {false, true}) {
        SortedStringList list(kEnglish);
        list.add("/p/z.jpg", "/p/z.jpg");
        EXPECT_TRUE(list.add("/p/beach.jpg", lowerFirst ? "/p/beach.jpg" : "/p/Beach.JPG"));
        EXPECT_TRUE(list.add("/p/beach.jpg", lowerFirst ? "/p/Beach.JPG" : "/p/beach.jpg"));
        EXPECT_THAT(paths(list), testing::ElementsAre("/p/Beach.JPG", "/p/beach.jpg", "/p/z.jpg"));
    }
}

TEST(SortedStringList, DropsAnExactPathAlreadyHeldAndKeepsTheFirst)
{
    SortedStringList list(kEnglish);
    EXPECT_TRUE(list.add("/p/first", "/p/same"));
    EXPECT_TRUE(list.add("/p/other", "/p/other"));
    EXPECT_FALSE(list.add("/p/second", "/p/same"));
    EXPECT_FALSE(list.add("/p/first", "/p/same"));
    ASSERT_EQ(list.count(), 2u);
    EXPECT_EQ(list.at(0).display, "/p/first");
    EXPECT_EQ(list.at(0).path, "/p/same");
}

TEST(SortedStringList, RefusesIndicesOutsideTheList)
{
    SortedStringList list(kEnglish);
    EXPECT_EQ(list.count(), 0u);
    EXPECT_FALSE(list.last().has_value());
    EXPECT_THROW(list.at(0), std::out_of_range);
    list.add("a", "a");
    list.add("b", "b");
    EXPECT_NO_THROW(list.at(1));
    try {
        list.at(2);
        FAIL() << "at(2) of a list of two did not throw";
    } catch (const std::out_of_range& error) {
        EXPECT_THAT(error.what(), testing::HasSubstr("index 2"));
        EXPECT_THAT(error.what(), testing::HasSubstr("2 entries"));
    }
    EXPECT_THROW(list.at(static_cast<std::size_t>(-1)), std::out_of_range);
}

// Checks the tree against a plain sorted vector built with the collator's own comparison, over
// many random adds with duplicates and case twins, after every add.
TEST(SortedStringList, AgreesWithCollatorComparisonOverRandomAdds)
{
    QCollator collator(kEnglish);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    auto less = [&](const PathEntry& a, const PathEntry& b) {
        const int order = collator.compare(a.display, b.display);
        return order != 0 ? order < 0 : a.path < b.path;
    };

    std::mt19937 random(12345);
    const QString alphabet = "aAbBéÉ_-. /0";
    SortedStringList list(kEnglish);
    std::vector<PathEntry> reference;
    for (int n = 0; n < 1500; ++n) {
        QString path;
        const int length = 1 + static_cast<int>(random() % 5);
        for (int i = 0; i < length; ++i) {
            path += alphabet[static_cast<qsizetype>(random() % alphabet.size())];
        }
        const PathEntry entry{path.toLower(), path.toStdString()};
        const bool held = std::any_of(reference.begin(), reference.end(),
                                      [&](const PathEntry& e) { return e.path == entry.path; });
        EXPECT_EQ(list.add(entry.display, entry.path), !held);
        if (!held) {
            reference.insert(std::upper_bound(reference.begin(), reference.end(), entry, less),
                             entry);
        }
        ASSERT_EQ(list.count(), reference.size());
        EXPECT_EQ(list.last()->path, reference.back().path);
    }
    for (std::size_t i = 0; i < reference.size(); ++i) {
        EXPECT_EQ(list.at(i).path, reference[i].path) << "at index " << i;
    }
}

} // namespace

// The search screen shows the entry that sorts last so far, not the one found most recently.
TEST(GuardedList, ProgressShowsTheEntryThatSortsLast)
{
    GuardedList list(QLocale(QLocale::English));
    EXPECT_EQ(list.progress().count, 0u);
    EXPECT_FALSE(list.progress().last.has_value());
    list.add(QStringLiteral("/p/b.jpg"), "/p/b.jpg");
    list.add(QStringLiteral("/p/a.jpg"), "/p/a.jpg");
    const GuardedList::Progress progress = list.progress();
    EXPECT_EQ(progress.count, 2u);
    ASSERT_TRUE(progress.last.has_value());
    EXPECT_EQ(progress.last->path, "/p/b.jpg");
}
