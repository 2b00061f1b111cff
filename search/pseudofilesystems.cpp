#include "search/pseudofilesystems.h"

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Not in <linux/magic.h>; the kernel defines them beside the file systems themselves.
constexpr unsigned long ConfigfsMagic = 0x62656570;
constexpr unsigned long FusectlMagic = 0x65735543;

// The devices of the devtmpfs mounts listed in /proc/self/mountinfo. Each line reads
// "id parent major:minor root mountpoint options [tags...] - type source superoptions".
std::vector<dev_t> readDevtmpfsDevices()
{
    std::vector<dev_t> devices;
    std::ifstream table("/proc/self/mountinfo");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers, field;
        fields >> id >> parent >> numbers;
        while (fields >> field && field != "-") {
        }
        std::string type;
        fields >> type;
        unsigned major = 0;
        unsigned minor = 0;
        char colon = 0;
        std::istringstream pair(numbers);
        if (type == "devtmpfs" && pair >> major >> colon >> minor && colon == ':')
            devices.push_back(makedev(major, minor));
    }
    return devices;
}

} // namespace

bool PseudoFileSystems::holds(int folderFd, dev_t device)
{
    struct statfs info;
    if (fstatfs(folderFd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case PSTOREFS_MAGIC:
    case BPF_FS_MAGIC:
    case ConfigfsMagic:
    case FusectlMagic:
        return true;
    case TMPFS_MAGIC:
        return isDevtmpfs(device);
    default:
        return false;
    }
}

bool PseudoFileSystems::isDevtmpfs(dev_t device)
{
    if (!m_devtmpfsDevices)
        m_devtmpfsDevices = readDevtmpfsDevices();
    return std::find(m_devtmpfsDevices->begin(), m_devtmpfsDevices->end(), device) !=
           m_devtmpfsDevices->end();
}
