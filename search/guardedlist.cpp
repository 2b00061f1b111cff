#include "search/guardedlist.h"

GuardedList::GuardedList(const QLocale& locale) : m_list(locale) {}

bool GuardedList::add(const QString& display, const std::string& path)
{
    const std::lock_guard lock(m_mutex);
    return m_list.add(display, path);
}

GuardedList::Progress GuardedList::progress() const
{
    const std::lock_guard lock(m_mutex);
    return Progress{m_list.count(), m_list.last()};
}
