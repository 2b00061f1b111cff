#include "search/sortedstringlist.h"

#include <QCollator>
#include <QCollatorSortKey>

#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

#include <stdexcept>
#include <string_view>
#include <unordered_set>

namespace {

// An entry with its collation key, computed once when the entry is added. Comparing two keys is
// a plain byte comparison, far cheaper than collating the two strings on every step of a search.
struct KeyedEntry
{
    QCollatorSortKey key;
    PathEntry entry;
};

// Collation order first; entries that collate equal (the same name in another case) fall back to
// the exact bytes of their paths, so that their order does not depend on the order of adding.
struct KeyedEntryLess
{
    bool operator()(const KeyedEntry& a, const KeyedEntry& b) const
    {
        const int order = a.key.compare(b.key);
        if (order != 0) {
            return order < 0;
        }
        return a.entry.path < b.entry.path;
    }
};

// A red-black tree that also knows the size of every subtree, so that both adding and finding the
// entry at an index take O(log n).
using EntryTree =
    __gnu_pbds::tree<KeyedEntry, __gnu_pbds::null_type, KeyedEntryLess, __gnu_pbds::rb_tree_tag,
                     __gnu_pbds::tree_order_statistics_node_update>;

QCollator makeCollator(const QLocale& locale)
{
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

struct SortedStringList::Impl
{
    explicit Impl(const QLocale& locale)
        : collator(makeCollator(locale)), foldCase(locale.language() == QLocale::C)
    {}

    QCollator collator;
    // Qt's collator for the "C" locale makes its sort keys from the exact code points, ignoring
    // the case setting. Folding the case first keeps the list case-insensitive there too.
    bool foldCase = false;
    EntryTree tree;
    // The paths held, viewing the strings stored in the tree's nodes (which never move), so that a
    // path added twice is recognised without collating it.
    std::unordered_set<std::string_view> paths;
};

SortedStringList::SortedStringList(const QLocale& locale) : m_impl(std::make_unique<Impl>(locale))
{}

SortedStringList::~SortedStringList() = default;

bool SortedStringList::add(const QString& display, const std::string& path)
{
    if (m_impl->paths.contains(path)) {
        return false;
    }
    KeyedEntry keyed{m_impl->collator.sortKey(m_impl->foldCase ? display.toCaseFolded() : display),
                     PathEntry{display, path}};
    const auto [node, inserted] = m_impl->tree.insert(std::move(keyed));
    if (!inserted) {
        return false;
    }
    try {
        m_impl->paths.insert(std::string_view(node->entry.path));
    } catch (...) {
        // Keep the tree and the set of paths in step if the set cannot grow.
        m_impl->tree.erase(node);
        throw;
    }
    return true;
}

std::size_t SortedStringList::count() const
{
    return m_impl->tree.size();
}

const PathEntry& SortedStringList::at(std::size_t i) const
{
    if (i >= m_impl->tree.size()) {
        throw std::out_of_range("SortedStringList: index " + std::to_string(i) +
                                " is out of range (the list holds " +
                                std::to_string(m_impl->tree.size()) + " entries)");
    }
    return m_impl->tree.find_by_order(i)->entry;
}

std::optional<PathEntry> SortedStringList::last() const
{
    if (m_impl->tree.empty()) {
        return std::nullopt;
    }
    // The tree's header points straight at its greatest node, so stepping back from the end is
    // O(1).
    auto it = m_impl->tree.end();
    --it;
    return it->entry;
}
