#include "search/sortedstringlist.h"

#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

#include <stdexcept>
#include <string_view>
#include <unordered_map>

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

} // namespace

PathCollation::PathCollation(const QLocale& locale)
    : m_collator(locale), m_foldCase(locale.language() == QLocale::C)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

KeyedPath PathCollation::keyed(const QString& display, const std::string& path) const
{
    return KeyedPath{m_collator.sortKey(m_foldCase ? display.toCaseFolded() : display),
                     PathEntry{display, path}};
}

struct SortedStringList::Impl
{
    explicit Impl(const QLocale& locale) : collation(locale) {}

    PathCollation collation;
    EntryTree tree;
    // The paths held, viewing the strings stored in the tree's nodes (which never move), so that a
    // path added twice is recognised without collating it, and an entry is found by its path.
    std::unordered_map<std::string_view, EntryTree::point_iterator> paths;
};

SortedStringList::SortedStringList(const QLocale& locale) : m_impl(std::make_unique<Impl>(locale))
{}

SortedStringList::~SortedStringList() = default;

bool SortedStringList::add(const QString& display, const std::string& path)
{
    if (m_impl->paths.contains(path)) {
        return false;
    }
    return add(m_impl->collation.keyed(display, path));
}

bool SortedStringList::add(KeyedPath keyed)
{
    if (m_impl->paths.contains(keyed.entry.path)) {
        return false;
    }
    const auto [node, inserted] =
        m_impl->tree.insert(KeyedEntry{std::move(keyed.key), std::move(keyed.entry)});
    if (!inserted) {
        return false;
    }
    try {
        m_impl->paths.emplace(std::string_view(node->entry.path), node);
    } catch (...) {
        // Keep the tree and the set of paths in step if the set cannot grow.
        m_impl->tree.erase(node);
        throw;
    }
    return true;
}

bool SortedStringList::remove(const std::string& path)
{
    const auto found = m_impl->paths.find(path);
    if (found == m_impl->paths.end()) {
        return false;
    }
    const EntryTree::point_iterator node = found->second;
    // The key views the node's string, so it goes before the node does.
    m_impl->paths.erase(found);
    m_impl->tree.erase(node);
    return true;
}

std::optional<std::size_t> SortedStringList::indexOf(const std::string& path) const
{
    const auto found = m_impl->paths.find(path);
    if (found == m_impl->paths.end()) {
        return std::nullopt;
    }
    return m_impl->tree.order_of_key(*found->second);
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
