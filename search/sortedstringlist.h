#pragma once

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

    std::size_t count() const;
    // The entry at index i, 0 <= i < count(); throws std::out_of_range with a clear text otherwise.
    const PathEntry& at(std::size_t i) const;
    // The entry that sorts last, or none when the list is empty. O(1).
    std::optional<PathEntry> last() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
