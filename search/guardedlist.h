#pragma once

#include "search/sortedstringlist.h"

#include <QLocale>

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

// ImageList together with the one lock that guards it while the search thread fills it. The
// thread adds through add(); the main thread polls progress(). Once the search thread has been
// destroyed the list no longer changes, and the main thread reads it through unguarded().
class GuardedList
{
public:
    // What the search screen shows: the number of entries and the entry that sorts last.
    struct Progress
    {
        std::size_t count = 0;
        std::optional<PathEntry> last;
    };

    explicit GuardedList(const QLocale& locale = QLocale());
    GuardedList(const GuardedList&) = delete;
    GuardedList& operator=(const GuardedList&) = delete;

    // Adds under the lock; false when the exact path was already held.
    bool add(const QString& display, const std::string& path);

    // Reads the count and the last entry under one holding of the lock, so that the two agree.
    Progress progress() const;

    // The list itself, for reading without the lock once no search thread is left to add to it.
    const SortedStringList& unguarded() const { return m_list; }
    // The same, for a show that changes the list as its folder changes (no thread adds to it).
    SortedStringList& unguardedForChange() { return m_list; }

private:
    mutable std::mutex m_mutex;
    SortedStringList m_list;
};
