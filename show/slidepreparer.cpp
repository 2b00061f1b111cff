#include "show/slidepreparer.h"

#include <algorithm>
#include <utility>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool contains(const std::vector<int>& indices, int index)
{
    return std::find(indices.begin(), indices.end(), index) != indices.end();
}

} // namespace

PreparedSlide prepareSlide(int index, const std::string& openPath, std::stop_token stop,
                           const TextureLayout& layout, bool furtherFormats)
{
    PreparedSlide prepared;
    prepared.index = index;
    try {
        auto slide = std::make_unique<SlideImage>(layout, furtherFormats);
        slide->prepare(openPath, std::move(stop));
        prepared.slide = std::move(slide);
    } catch (...) {
        // The bitmap reader's error is raised on the owner's thread when the show reaches this
        // picture, with its text unchanged.
        prepared.error = std::current_exception();
    }
    return prepared;
}

SlidePreparer::SlidePreparer(std::vector<std::string> openPaths, std::function<void()> onReady,
                             const TextureLayout& layout, bool furtherFormats)
    : m_paths(std::move(openPaths)), m_onReady(std::move(onReady)), m_layout(layout),
      m_furtherFormats(furtherFormats), m_worker([this] { run(); })
{}

SlidePreparer::~SlidePreparer()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_makingStop.request_stop();
    }
    m_wake.notify_all();
    m_worker.join();
}

void SlidePreparer::setCurrent(int index, bool onScreen, Neighbours around)
{
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
        m_current = index;
        m_around = around;
        m_onScreen = onScreen;
        dropUnneededLocked();
        stopUnneededLocked();
    }
    m_wake.notify_all();
}

void SlidePreparer::addPaths(std::vector<std::string> openPaths)
{
    std::lock_guard lock(m_mutex);
    m_paths.insert(m_paths.end(), std::make_move_iterator(openPaths.begin()),
                   std::make_move_iterator(openPaths.end()));
}

std::optional<PreparedSlide> SlidePreparer::take(int index, PreparedSlide* shown, Neighbours around)
{
    std::optional<PreparedSlide> result;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_prepared.find(index);
        if (found == m_prepared.end())
            return result;
        result = std::move(found->second);
        m_prepared.erase(found);
        m_current = index;
        m_around = around;
        m_onScreen = true;
        m_held = true;
        dropUnneededLocked();
        stopUnneededLocked();
        if (shown != nullptr && result->slide)
            keepShownLocked(*shown);
    }
    return result;
}

const SlideImage* SlidePreparer::peek(int index) const
{
    // Only the UI thread's setCurrent() and take() remove finished pictures; the worker only
    // adds them, so what is found here stays put until the caller's next call.
    std::lock_guard lock(m_mutex);
    const auto found = m_prepared.find(index);
    return found == m_prepared.end() ? nullptr : found->second.slide.get();
}

void SlidePreparer::resume()
{
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
    }
    m_wake.notify_all();
}

void SlidePreparer::stopUnneededLocked()
{
    // Work on a picture that is no longer needed stops at its next check. While the show waits
    // for a picture, nothing else may hold up the worker.
    if (m_making < 0)
        return;
    if (!contains(neededLocked(), m_making) || (!m_onScreen && m_making != m_current))
        m_makingStop.request_stop();
}

void SlidePreparer::keepShownLocked(PreparedSlide& shown)
{
    if (!shown.slide || shown.index == m_current || m_prepared.contains(shown.index))
        return;
    if (!contains(neededLocked(), shown.index) || m_prepared.size() >= MaxPrepared)
        return;
    // The worker may have started on the same picture already; what it makes is not needed.
    if (shown.index == m_making)
        m_makingStop.request_stop();
    const int index = shown.index;
    m_prepared.emplace(index, std::move(shown));
}

bool SlidePreparer::isIdle() const
{
    std::lock_guard lock(m_mutex);
    return m_making < 0 && !nextJobLocked(true);
}

std::vector<int> SlidePreparer::preparedIndices() const
{
    std::lock_guard lock(m_mutex);
    std::vector<int> indices;
    for (const auto& entry : m_prepared)
        indices.push_back(entry.first);
    return indices;
}

void SlidePreparer::setWorkHookForTesting(std::function<void(int, std::stop_token)> hook)
{
    std::lock_guard lock(m_mutex);
    m_workHook = std::move(hook);
}

std::vector<int> SlidePreparer::neededLocked() const
{
    std::vector<int> needed;
    const int count = static_cast<int>(m_paths.size());
    if (count == 0 || m_current < 0 || m_current >= count)
        return needed;
    const auto add = [&](int index) {
        if (needed.size() < MaxPrepared && !contains(needed, index))
            needed.push_back(index);
    };
    if (!m_onScreen)
        add(m_current);
    const auto inList = [count](int index) { return index >= 0 && index < count; };
    add(inList(m_around.next) ? m_around.next : (m_current + 1) % count);
    add(inList(m_around.previous) ? m_around.previous : (m_current + count - 1) % count);
    return needed;
}

std::optional<int> SlidePreparer::nextJobLocked(bool evenWhenHeld) const
{
    if (m_quit || (m_held && !evenWhenHeld))
        return std::nullopt;
    for (int index : neededLocked()) {
        if (index != m_making && !m_prepared.contains(index))
            return index;
    }
    return std::nullopt;
}

void SlidePreparer::dropUnneededLocked()
{
    const std::vector<int> needed = neededLocked();
    std::erase_if(m_prepared, [&](const auto& entry) { return !contains(needed, entry.first); });
}

void SlidePreparer::run()
{
    // The worker gives way to the thread that draws the frames: a picture needed in a few seconds
    // must not make the frame due now late. (On Linux the nice value is the thread's own.)
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || nextJobLocked().has_value(); });
        if (m_quit)
            return;
        const int index = *nextJobLocked();
        m_making = index;
        m_makingStop = std::stop_source();
        const std::stop_token stop = m_makingStop.get_token();
        const std::function<void(int, std::stop_token)> hook = m_workHook;
        // A copy: more paths may come while the picture is made.
        const std::string path = m_paths[static_cast<std::size_t>(index)];
        lock.unlock();

        if (hook)
            hook(index, stop);
        PreparedSlide prepared;
        prepared.index = index;
        if (!stop.stop_requested())
            prepared = prepareSlide(index, path, stop, m_layout, m_furtherFormats);

        lock.lock();
        m_making = -1;
        const bool keep = !stop.stop_requested() && !m_quit && contains(neededLocked(), index);
        if (keep)
            m_prepared.emplace(index, std::move(prepared));
        if (keep && m_onReady) {
            lock.unlock();
            m_onReady();
            lock.lock();
        }
    }
}
