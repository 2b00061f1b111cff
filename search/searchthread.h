#pragma once

#include "search/guardedlist.h"
#include "search/picturenames.h"

#include <atomic>
#include <stop_token>
#include <string>
#include <thread>

// The background search for pictures. It walks a folder and all the folders below it, depth-first,
// and adds every picture file of the given formats (see isPictureName; ".jpg", ".jpeg" and ".bmp"
// by default) to the list it is given: the display spelling is
// the folder as found followed by the file name lower-cased, the path is the one found on disk.
// Links to folders are followed, but each folder (device and inode) is walked once per search,
// under the first path that reaches it.
// When the walk has ended it raises scanDone(). The walk starts as soon as the object is built;
// destroying the object asks the walk to stop and waits for the thread to end, so the list is never
// touched afterwards.
class SearchThread
{
public:
    // rootFolder ends with "/". Throws std::runtime_error with the text "スレッド作成エラー：" and
    // the system's reason when no thread can be started.
    SearchThread(GuardedList& list, std::string rootFolder,
                 PictureFormats formats = PictureFormats::Design);
    ~SearchThread();
    SearchThread(const SearchThread&) = delete;
    SearchThread& operator=(const SearchThread&) = delete;

    // True once the whole tree has been walked. Every add made by the walk is visible to a thread
    // that has seen it true. It stays false when the walk was stopped or failed.
    bool scanDone() const { return m_scanDone.load(std::memory_order_acquire); }

    // Asks the walk to end early; it checks between folder entries. Does not wait.
    void requestStop() { m_thread.request_stop(); }

private:
    void run(std::stop_token stop);

    GuardedList& m_list;
    const std::string m_rootFolder;
    const PictureFormats m_formats;
    std::atomic<bool> m_scanDone = false;
    // Declared last: it starts once the fields above are set and is joined before they go away.
    std::jthread m_thread;
};
