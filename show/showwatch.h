#pragma once

#include "show/livingorder.h"
#include "search/folderwatcher.h"

#include <QObject>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The window's end of the watch on the show's folder (WATCH=ON). The watcher's thread finds the
// changes and makes their collation keys; each of its reports becomes a queued call on the UI
// thread that applies at most SliceSize changes and queues the next slice behind the events
// already waiting, so that a burst of thousands of pictures never holds up a frame.
class ShowWatch : public QObject
{
public:
    static constexpr std::size_t SliceSize = 256;

    using Apply = std::function<void(ListChanges)>;

    // Watches `folder`, whose pictures the show holds as `knownPaths`; `apply` runs on the UI
    // thread with each slice of changes.
    ShowWatch(std::string folder, std::vector<std::string> knownPaths,
              FolderWatcher::Settings settings, Apply apply, QObject* parent = nullptr);
    ~ShowWatch() override;

    const FolderWatcher& watcher() const { return *m_watcher; }

    // The developer's hook LUMIVANE_WATCH_RESCAN_MS=N: no events, the whole tree searched again
    // every N ms, as on a network share. Leaves `settings` as they are without it.
    static void applyEnvironment(FolderWatcher::Settings& settings);

private:
    void queueSlice();
    void takeSlice();

    Apply m_apply;
    std::unique_ptr<FolderWatcher> m_watcher;
};
