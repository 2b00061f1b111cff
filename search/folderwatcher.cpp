#include "search/folderwatcher.h"

#include "search/folderwalk.h"

#include <QFile>

#include <linux/magic.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t WatchMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                    IN_CREATE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// How often files found by a walk are looked at again until they have settled, and how often a
// removed root is looked for.
constexpr auto SettleCheck = 250ms;

// The file systems whose changes made elsewhere (on the server, by another client) inotify never
// hears of. Not all are in <linux/magic.h>.
const char* networkFileSystem(int fd)
{
    struct statfs info;
    if (fstatfs(fd, &info) != 0)
        return nullptr;
    switch (static_cast<unsigned long>(info.f_type)) {
    case NFS_SUPER_MAGIC:
        return "nfs";
    case SMB_SUPER_MAGIC:
    case 0xFF534D42ul: // CIFS
    case 0xFE534D42ul: // SMB2
        return "smb";
    case 0x65735546ul: // FUSE
        return "fuse";
    case V9FS_MAGIC:
        return "9p";
    case 0x00C36400ul: // Ceph
        return "ceph";
    default:
        return nullptr;
    }
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool olderThan(const struct timespec& modified, std::chrono::milliseconds age)
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const auto elapsed = std::chrono::seconds(now.tv_sec - modified.tv_sec) +
                         std::chrono::nanoseconds(now.tv_nsec - modified.tv_nsec);
    return elapsed >= age;
}

} // namespace

FolderWatcher::FolderWatcher(std::string rootFolder, std::vector<std::string> knownPaths,
                             std::function<void()> onChanges, Settings settings)
    : m_root(std::move(rootFolder)), m_onChanges(std::move(onChanges)),
      m_settings(std::move(settings)), m_collation(m_settings.locale),
      m_known(std::make_move_iterator(knownPaths.begin()),
              std::make_move_iterator(knownPaths.end()))
{
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (!m_settings.eventsOff)
        m_inotify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (m_wake < 0)
        throw std::runtime_error("スレッド作成エラー：" + std::string(std::strerror(errno)));
    try {
        m_thread = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
    } catch (const std::system_error& error) {
        close(m_wake);
        if (m_inotify >= 0)
            close(m_inotify);
        throw std::runtime_error("スレッド作成エラー：" + error.code().message());
    }
}

FolderWatcher::~FolderWatcher()
{
    m_thread.request_stop();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(m_wake, &one, sizeof one);
    m_thread.join();
    close(m_wake);
    if (m_inotify >= 0)
        close(m_inotify);
}

FolderWatcher::Batch FolderWatcher::takeChanges(std::size_t most)
{
    Batch batch;
    const std::lock_guard lock(m_mutex);
    auto it = m_pending.begin();
    for (; it != m_pending.end() && most > 0; --most) {
        if (it->second.added)
            batch.added.push_back(std::move(*it->second.added));
        else
            batch.removed.push_back(it->first);
        it = m_pending.erase(it);
    }
    batch.more = !m_pending.empty();
    return batch;
}

bool FolderWatcher::ready() const
{
    const std::lock_guard lock(m_mutex);
    return m_ready;
}

void FolderWatcher::run(std::stop_token stop)
{
    // The watch gives way to the thread that draws the frames, as the picture preparer does.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    try {
        // The show holds what the search found; the first walk puts every folder under watch
        // and reports what changed between the search and the watch.
        if (m_settings.eventsOff || m_inotify < 0)
            addRescanRoot(m_root,
                          m_settings.eventsOff ? "events are off" : "inotify is not available");
        walkTree(stop);
        reportRescanRoots();
        {
            const std::lock_guard lock(m_mutex);
            m_ready = true;
        }
        for (RescanRoot& root : m_rescanRoots)
            root.due = Clock::now() + rescanInterval();

        while (!stop.stop_requested()) {
            int timeout = -1;
            if (const std::optional<Clock::time_point> deadline = nextDeadline()) {
                const auto wait =
                    std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
                timeout = int(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, 60000));
            }
            std::array<pollfd, 2> fds{{{m_wake, POLLIN, 0}, {m_inotify, POLLIN, 0}}};
            const int ready = poll(fds.data(), m_inotify >= 0 ? 2 : 1, timeout);
            if (ready < 0 && errno != EINTR)
                return;
            if (stop.stop_requested())
                return;
            if (m_inotify >= 0 && (fds[1].revents & POLLIN))
                readEvents(stop);
            if (m_walkAgain && !m_rootGone)
                walkTree(stop);
            if (m_rootGone)
                checkRootBack(stop);
            checkUnsettled();
            // A rescan may find folders whose watches ran out; they join the rescanned ones.
            for (std::size_t i = 0; i < m_rescanRoots.size() && !stop.stop_requested(); ++i) {
                if (Clock::now() >= m_rescanRoots[i].due)
                    rescan(i, stop);
            }
            reportRescanRoots();
        }
    } catch (...) {
        // Memory exhausted while the lists grow: the show goes on with what it has.
    }
}

std::optional<FolderWatcher::Clock::time_point> FolderWatcher::nextDeadline() const
{
    std::optional<Clock::time_point> deadline;
    if (!m_unsettled.empty() || m_rootGone)
        deadline = Clock::now() + SettleCheck;
    for (const RescanRoot& root : m_rescanRoots) {
        if (!deadline || root.due < *deadline)
            deadline = root.due;
    }
    return deadline;
}

void FolderWatcher::walk(const std::string& folder, bool mayBeFilling, std::stop_token stop)
{
    FolderWalk walk(
        m_settings.formats, std::move(stop),
        [this, mayBeFilling](const QString& display, std::string path) {
            consider(display, path, mayBeFilling);
        },
        [this](int fd, const std::string& rawFolder) { return enterFolder(fd, rawFolder); });
    walk.walkRoot(folder);
}

bool FolderWatcher::enterFolder(int fd, const std::string& rawFolder)
{
    if (rawFolder == m_root)
        m_rootEntered = true;
    // Inside a folder that is searched again: no watches there. Its ancestors are looked up, so
    // that thousands of such folders cost no more than a few lookups each.
    for (std::size_t slash = rawFolder.find('/'); slash != std::string::npos;
         slash = rawFolder.find('/', slash + 1)) {
        if (m_rescanFolders.contains(rawFolder.substr(0, slash + 1)))
            return true;
    }
    if (const char* type = networkFileSystem(fd)) {
        addRescanRoot(rawFolder, std::string("network file system, ") + type);
        return true;
    }
    const bool limitReached =
        m_settings.watchLimit > 0 && m_watches.size() >= m_settings.watchLimit;
    if (limitReached)
        errno = ENOSPC;
    const int watch =
        limitReached ? -1 : inotify_add_watch(m_inotify, rawFolder.c_str(), WatchMask);
    if (watch < 0) {
        if (errno == ENOSPC)
            addRescanRoot(rawFolder, "no inotify watches left, see fs.inotify.max_user_watches");
        // A folder that cannot be watched for another reason is still listed.
        return true;
    }
    const auto known = m_folders.find(watch);
    if (known != m_folders.end() && known->second != rawFolder) {
        // The watch is the folder's, whatever path leads to it. Where the path it was known by
        // still leads to it, this path is another way in (a link), and each folder is walked
        // once: a walk of part of the tree leaves it where it is. A walk of the whole tree that
        // meets it here first takes it here, since that walk will not enter it again. Where the
        // old path leads elsewhere, the folder was moved while its events were lost.
        const std::string other = known->second;
        const auto otherWatch = m_watches.find(other);
        struct stat here;
        struct stat there;
        if (m_seen == nullptr && otherWatch != m_watches.end() && otherWatch->second == watch &&
            fstat(fd, &here) == 0 && stat(other.c_str(), &there) == 0 &&
            here.st_dev == there.st_dev && here.st_ino == there.st_ino)
            return false;
        moveWatch(watch, other, rawFolder);
        return true;
    }
    m_folders[watch] = rawFolder;
    m_watches[rawFolder] = watch;
    return true;
}

void FolderWatcher::moveWatch(int watch, const std::string& oldFolder, const std::string& rawFolder)
{
    // The pictures known under the old path leave, and the watches below it go; the walk under
    // way finds them again under the new one.
    if (const auto old = m_watches.find(oldFolder); old != m_watches.end() && old->second == watch) {
        m_watches.erase(old);
        forgetFolder(oldFolder);
    }
    m_folders[watch] = rawFolder;
    m_watches[rawFolder] = watch;
}

void FolderWatcher::consider(const QString& display, const std::string& path, bool mayBeFilling)
{
    if (m_seen != nullptr)
        m_seen->insert(path);
    if (m_known.contains(path))
        return;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return;
    // What a walk finds may still be being written: it joins once it has settled. A folder
    // moved in holds finished files.
    if (mayBeFilling && !olderThan(info.st_mtim, m_settings.settleTime)) {
        m_unsettled[path] = Unsettled{display, info.st_mtim, info.st_size};
        return;
    }
    join(display, path);
}

void FolderWatcher::checkUnsettled()
{
    for (auto it = m_unsettled.begin(); it != m_unsettled.end();) {
        struct stat info;
        if (stat(it->first.c_str(), &info) != 0) {
            it = m_unsettled.erase(it);
            continue;
        }
        const bool same = info.st_size == it->second.size &&
                          info.st_mtim.tv_sec == it->second.modified.tv_sec &&
                          info.st_mtim.tv_nsec == it->second.modified.tv_nsec;
        if (same && olderThan(info.st_mtim, m_settings.settleTime)) {
            join(it->second.display, it->first);
            it = m_unsettled.erase(it);
            continue;
        }
        it->second.modified = info.st_mtim;
        it->second.size = info.st_size;
        ++it;
    }
}

void FolderWatcher::join(const QString& display, const std::string& path)
{
    m_known.insert(path);
    KeyedPath keyed = m_collation.keyed(display, path);
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        first = m_pending.empty();
        m_pending[path] = Pending{std::move(keyed)};
    }
    if (first && m_onChanges)
        m_onChanges();
}

void FolderWatcher::leave(const std::string& path)
{
    m_unsettled.erase(path);
    if (m_known.erase(path) == 0)
        return;
    bool first = false;
    {
        const std::lock_guard lock(m_mutex);
        first = m_pending.empty();
        m_pending[path] = Pending{};
    }
    if (first && m_onChanges)
        m_onChanges();
}

void FolderWatcher::forgetFolder(const std::string& folder)
{
    std::vector<std::string> leaving;
    for (auto it = m_known.lower_bound(folder); it != m_known.end() && startsWith(*it, folder);
         ++it)
        leaving.push_back(*it);
    for (const std::string& path : leaving)
        leave(path);
    for (auto it = m_unsettled.lower_bound(folder);
         it != m_unsettled.end() && startsWith(it->first, folder);)
        it = m_unsettled.erase(it);
    // Watches on a folder moved out would report a tree the show no longer holds.
    for (auto it = m_watches.lower_bound(folder);
         it != m_watches.end() && startsWith(it->first, folder);) {
        inotify_rm_watch(m_inotify, it->second);
        m_folders.erase(it->second);
        it = m_watches.erase(it);
    }
}

void FolderWatcher::readEvents(std::stop_token stop)
{
    alignas(inotify_event) std::array<char, 64 * 1024> buffer;
    for (;;) {
        const ssize_t length = read(m_inotify, buffer.data(), buffer.size());
        if (length <= 0)
            return;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            offset += ssize_t(sizeof(inotify_event) + event->len);
            handleEvent(*event, stop);
        }
    }
}

void FolderWatcher::handleEvent(const inotify_event& event, std::stop_token stop)
{
    if (event.mask & IN_Q_OVERFLOW) {
        // Events were lost: the whole tree is walked again and compared, once the events read
        // so far have been handled.
        m_walkAgain = true;
        return;
    }
    const auto watched = m_folders.find(event.wd);
    if (watched == m_folders.end())
        return;
    const std::string folder = watched->second;
    if (event.mask & IN_IGNORED) {
        if (const auto it = m_watches.find(folder); it != m_watches.end() && it->second == event.wd)
            m_watches.erase(it);
        m_folders.erase(watched);
        return;
    }
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        // The parent reports the same for every folder but the root.
        if (folder == m_root)
            rootGone();
        return;
    }
    if (event.len == 0)
        return;
    const std::string name = event.name;
    const std::string path = folder + name;
    if (event.mask & IN_ISDIR) {
        if (event.mask & (IN_CREATE | IN_MOVED_TO))
            // A folder moved in holds finished files; one just made may be filling.
            walk(path + '/', (event.mask & IN_CREATE) != 0, stop);
        else if (event.mask & (IN_DELETE | IN_MOVED_FROM))
            forgetFolder(path + '/');
        return;
    }
    if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
        leave(path);
        // A link to a folder that was walked through it: the folder's pictures go with the
        // link. Where the folder is still reached by another path, the walk finds it there.
        const std::string below = path + '/';
        const auto known = m_known.lower_bound(below);
        if (m_watches.contains(below) || (known != m_known.end() && startsWith(*known, below))) {
            forgetFolder(below);
            m_walkAgain = true;
        }
        return;
    }
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
        entryArrived(folder, name, (event.mask & IN_CREATE) != 0, stop);
        return;
    }
    if (event.mask & IN_CLOSE_WRITE)
        pictureComplete(folder, name);
}

void FolderWatcher::entryArrived(const std::string& folder, const std::string& name, bool made,
                                 std::stop_token stop)
{
    const std::string path = folder + name;
    struct stat entry;
    if (lstat(path.c_str(), &entry) != 0)
        return;
    if (!S_ISLNK(entry.st_mode)) {
        // A file just made is reported once it is closed after writing; one moved in is whole.
        // A hard link made to a file is never written through: it joins as a walk's find does.
        if (!made)
            pictureComplete(folder, name);
        else if (S_ISREG(entry.st_mode) && entry.st_nlink > 1)
            considerMade(folder, name, path);
        return;
    }
    // A link joins as what it leads to would; a dangling one is skipped, as by the search.
    struct stat target;
    if (stat(path.c_str(), &target) != 0)
        return;
    if (S_ISDIR(target.st_mode)) {
        walk(path + '/', true, stop);
        return;
    }
    if (S_ISREG(target.st_mode))
        considerMade(folder, name, path);
}

void FolderWatcher::considerMade(const std::string& folder, const std::string& name,
                                 const std::string& path)
{
    const QString decoded = QFile::decodeName(name.c_str());
    if (!isPictureName(decoded, m_settings.formats))
        return;
    // One made over a picture replaces it: it is read anew.
    m_known.erase(path);
    consider(QFile::decodeName(folder.c_str()) + decoded.toLower(), path, true);
}

void FolderWatcher::pictureComplete(const std::string& folder, const std::string& name)
{
    const QString decoded = QFile::decodeName(name.c_str());
    if (!isPictureName(decoded, m_settings.formats))
        return;
    const std::string path = folder + name;
    // Complete now: closed after writing, or moved in whole. One written again after it joined
    // is reported again, so that the show reads it anew.
    m_unsettled.erase(path);
    m_known.erase(path);
    join(QFile::decodeName(folder.c_str()) + decoded.toLower(), path);
}

void FolderWatcher::walkTree(std::stop_token stop)
{
    m_walkAgain = false;
    m_rootEntered = false;
    walkAndCompare(m_root, stop);
    // A root that could not be entered is gone (its own events may have been among those lost).
    if (!m_rootEntered && !stop.stop_requested() && m_inotify >= 0)
        rootGone();
}

void FolderWatcher::rootGone()
{
    // The root takes the whole show with it, and is looked for until it is back.
    forgetFolder(m_root);
    m_rootGone = true;
}

void FolderWatcher::checkRootBack(std::stop_token stop)
{
    struct stat info;
    if (stat(m_root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return;
    m_rootGone = false;
    walkTree(stop);
}

void FolderWatcher::walkAndCompare(const std::string& folder, std::stop_token stop)
{
    std::set<std::string> seen;
    m_seen = &seen;
    walk(folder, true, stop);
    m_seen = nullptr;
    // Those known below the folder that the walk did not see have left.
    std::vector<std::string> gone;
    for (auto it = m_known.lower_bound(folder); it != m_known.end() && startsWith(*it, folder);
         ++it) {
        if (!seen.contains(*it))
            gone.push_back(*it);
    }
    for (const std::string& path : gone)
        leave(path);
}

void FolderWatcher::rescan(std::size_t index, std::stop_token stop)
{
    const Clock::time_point start = Clock::now();
    // A copy: the walk may add roots, which moves the vector's elements.
    const std::string folder = m_rescanRoots[index].folder;
    walkAndCompare(folder, stop);
    m_lastRescan = Clock::now() - start;
    m_rescanRoots[index].due = Clock::now() + rescanInterval();
}

FolderWatcher::Clock::duration FolderWatcher::rescanInterval() const
{
    return std::max<Clock::duration>(
        m_settings.minRescanInterval,
        std::chrono::duration_cast<Clock::duration>(20 * m_lastRescan));
}

void FolderWatcher::addRescanRoot(const std::string& folder, const std::string& why)
{
    if (!m_rescanFolders.insert(folder).second)
        return;
    m_rescanRoots.push_back(RescanRoot{folder, Clock::now() + m_settings.minRescanInterval});
    m_unreported.emplace_back(folder, why);
}

void FolderWatcher::reportRescanRoots()
{
    if (m_unreported.empty())
        return;
    // One line for each reason, naming its folders.
    std::stable_sort(m_unreported.begin(), m_unreported.end(),
                     [](const auto& a, const auto& b) { return a.second < b.second; });
    const long seconds = long(std::chrono::ceil<std::chrono::seconds>(rescanInterval()).count());
    for (std::size_t i = 0; i < m_unreported.size();) {
        std::string folders;
        std::size_t j = i;
        // A tree that ran out of watches may leave thousands: the line names a few.
        constexpr std::size_t Named = 5;
        for (; j < m_unreported.size() && m_unreported[j].second == m_unreported[i].second; ++j) {
            if (j - i < Named) {
                if (!folders.empty())
                    folders += ", ";
                folders += m_unreported[j].first;
            }
        }
        if (j - i > Named)
            folders += " and " + std::to_string(j - i - Named) + " more";
        std::fprintf(stderr, "lumivane: %s searched again every %ld s (%s): %s\n",
                     j - i > 1 ? "folders" : "folder", seconds, m_unreported[i].second.c_str(),
                     folders.c_str());
        i = j;
    }
    m_unreported.clear();
}
