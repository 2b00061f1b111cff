#pragma once

#include <sys/types.h>

#include <optional>
#include <vector>

// Tells the kernel's own file systems apart from those that hold files: proc, sysfs, devtmpfs,
// devpts, the cgroup hierarchies, debugfs, tracefs, securityfs, pstore, bpf, configfs and fusectl.
// They hold no pictures, and their links lead back into the whole tree (every /proc/<pid>/root
// is the root folder again), so the search does not go into them.
class PseudoFileSystems
{
public:
    // Whether the open folder folderFd, whose device is device, lies on one of them. A folder
    // whose file system cannot be asked about counts as an ordinary one.
    bool holds(int folderFd, dev_t device);

private:
    bool isDevtmpfs(dev_t device);

    // devtmpfs reports itself as tmpfs; its mounts are told apart by their devices, read from
    // the mount table the first time a tmpfs folder is met.
    std::optional<std::vector<dev_t>> m_devtmpfsDevices;
};
