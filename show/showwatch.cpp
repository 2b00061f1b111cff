#include "show/showwatch.h"

#include <QMetaObject>

#include <cstdlib>
#include <utility>

ShowWatch::ShowWatch(std::string folder, std::vector<std::string> knownPaths,
                     FolderWatcher::Settings settings, Apply apply, QObject* parent)
    : QObject(parent), m_apply(std::move(apply))
{
    // Queued calls to this object are dropped once it is gone, and it outlives the watcher.
    m_watcher = std::make_unique<FolderWatcher>(
        std::move(folder), std::move(knownPaths), [this] { queueSlice(); }, std::move(settings));
}

ShowWatch::~ShowWatch()
{
    // The watcher's thread ends before the object its reports are queued to goes.
    m_watcher.reset();
}

void ShowWatch::applyEnvironment(FolderWatcher::Settings& settings)
{
    const char* value = std::getenv("LUMIVANE_WATCH_RESCAN_MS");
    if (value == nullptr || *value == '\0')
        return;
    char* end = nullptr;
    const long milliseconds = std::strtol(value, &end, 10);
    if (*end != '\0' || milliseconds < 1)
        return;
    settings.eventsOff = true;
    settings.minRescanInterval = std::chrono::milliseconds(milliseconds);
}

void ShowWatch::queueSlice()
{
    QMetaObject::invokeMethod(
        this, [this] { takeSlice(); }, Qt::QueuedConnection);
}

void ShowWatch::takeSlice()
{
    FolderWatcher::Batch batch = m_watcher->takeChanges(SliceSize);
    // The rest waits behind the events already queued, frames among them.
    if (batch.more)
        queueSlice();
    ListChanges changes{std::move(batch.added), std::move(batch.removed)};
    if (!changes.empty())
        m_apply(std::move(changes));
}
