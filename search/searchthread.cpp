#include "search/searchthread.h"

#include "search/folderwalk.h"

#include <stdexcept>
#include <system_error>

SearchThread::SearchThread(GuardedList& list, std::string rootFolder, PictureFormats formats)
    : m_list(list), m_rootFolder(std::move(rootFolder)), m_formats(formats)
{
    try {
        m_thread = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
    } catch (const std::system_error& error) {
        throw std::runtime_error("スレッド作成エラー：" + error.code().message());
    }
}

SearchThread::~SearchThread()
{
    m_thread.request_stop();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SearchThread::run(std::stop_token stop)
{
    try {
        FolderWalk walk(
            m_formats, std::move(stop),
            [this](const QString& display, std::string path) { m_list.add(display, path); });
        if (walk.walkRoot(m_rootFolder)) {
            // Release: whoever sees the flag also sees every add made before it.
            m_scanDone.store(true, std::memory_order_release);
        }
    } catch (...) {
        // An error in the walk (memory exhausted while the list grows) ends the search without a
        // report; scanDone() stays false and the search screen waits for the user to stop it.
    }
}
