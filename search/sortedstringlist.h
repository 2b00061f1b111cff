#pragma once

#include <QCollator>
#include <QCollatorSortKey>
#include <QLocale>
#include <QString>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

// One entry of ImageList or MusicList. `display` is the spelling that is sorted and shown: the
// folder as found followed by the file name lower-cased. `path` is the path exactly as found on
// disk (raw bytes), which is what gets opened: on a case-sensitive file system the lower-cased
// spelling may name no file at all.
struct PathEntry
{
    QString display;
    std::string path;
};

// A picture's entry with its collation key, made ahead (on any thread, by that thread's own
// PathCollation), so that adding it to a SortedStringList costs no collation.
struct KeyedPath
{
    QCollatorSortKey key;
    PathEntry entry;
};

// The collation of the sorted string list: the user's locale with case ignored. Not thread-safe;
// one per thread.
class PathCollation
{
public:
    explicit PathCollation(const QLocale& locale = QLocale());
    KeyedPath keyed(const QString& display, const std::string& path) const;

private:
    QCollator m_collator;
    // Qt's collator for the "C" locale makes its sort keys from the exact code points, ignoring
    // the case setting. Folding the case first keeps the list case-insensitive there too.
    bool m_foldCase = false;
};

// The sorted string list behind ImageList and MusicList. Entries stay in ascending order of the
// user's locale collation with case ignored; entries that collate equal are ordered by their exact
// paths. Adding an entry whose exact path is already held changes nothing: the first one stays.
// Adds cost O(log n). Not thread-safe by itself: see GuardedList for sharing with the search
// thread.
class SortedStringList
{
public:
    explicit SortedStringList(const QLocale& locale = QLocale());
    ~SortedStringList();
    SortedStringList(const SortedStringList&) = delete;
    SortedStringList& operator=(const SortedStringList&) = delete;

    // Returns false when the exact path was already held (nothing is added).
    bool add(const QString& display, const std::string& path);
    // The same with the key made ahead by a PathCollation of the same locale.
    bool add(KeyedPath keyed);
    // Removes the entry whose exact path is `path`; false when there is none.
    bool remove(const std::string& path);
    // The index of the entry whose exact path is `path`, or none. O(log n).
    std::optional<std::size_t> indexOf(const std::string& path) const;

    std::size_t count() const;
    // The entry at index i, 0 <= i < count(); throws std::out_of_range with a clear text otherwise.
    const PathEntry& at(std::size_t i) const;
    // The entry that sorts last, or none when the list is empty. O(1).
    std::optional<PathEntry> last() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
