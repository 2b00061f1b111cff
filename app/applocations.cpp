#include "app/applocations.h"

#include "app/translation.h"

#include <QFile>
#include <QStandardPaths>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef LUMIVANE_INSTALL_BINDIR
#error "LUMIVANE_INSTALL_BINDIR names the folder the executable is installed into"
#endif

namespace {

constexpr const char* SettingsFileName = "lumivane.ini";

// An environment variable as bytes, or empty when unset.
std::string environmentVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// The user's home folder: $HOME, else the password database.
std::string homeFolder()
{
    std::string home = environmentVariable("HOME");
    if (!home.empty() && home.front() == '/')
        return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return found->pw_dir;
    throw AppLocations::Error(Console::tr("cannot find the home folder: HOME is not set and the "
                                          "user has no entry in the password database")
                                  .toStdString());
}

// An XDG base folder: the variable's value when it is an absolute path (relative values are
// invalid and ignored), otherwise the fallback below the home folder.
std::string baseFolder(const char* variable, const std::string& home, const char* fallback)
{
    std::string value = environmentVariable(variable);
    if (!value.empty() && value.front() == '/')
        return withTrailingSlash(std::move(value));
    return withTrailingSlash(home) + fallback;
}

// The user's Pictures folder as the desktop names it (user-dirs.dirs, else ~/Pictures), or the
// home folder when that folder does not exist.
std::string picturesFolder(const std::string& home)
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty()) {
        // Qt answers in text. A home folder whose name is not valid UTF-8 does not survive the
        // round trip, so the part below the home folder is appended to the home folder's bytes.
        const QString homeText = QFile::decodeName(QByteArray::fromStdString(home)) + u'/';
        const std::string bytes =
            pictures.startsWith(homeText)
                ? withTrailingSlash(home) +
                      QFile::encodeName(pictures.mid(homeText.size())).toStdString()
                : QFile::encodeName(pictures).toStdString();
        if (isExistingFolder(bytes))
            return withTrailingSlash(bytes);
    }
    return withTrailingSlash(home);
}

// path without the trailing slashes a folder may be written with; the root stays "/".
std::string withoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// The folder with links and "." or ".." resolved, when it exists; otherwise as given.
std::string canonicalFolder(const std::string& folder)
{
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) != nullptr)
        return resolved;
    return withoutTrailingSlash(folder);
}

} // namespace

AppLocations AppLocations::besideProgram(const std::string& programFolder)
{
    if (programFolder.empty())
        throw Error(Console::tr("the program's own folder is unknown").toStdString());
    AppLocations locations;
    locations.m_layout = Layout::ProgramFolder;
    const std::string folder = withTrailingSlash(programFolder);
    locations.m_settingsFile = folder + SettingsFileName;
    locations.m_musicFolder = folder;
    locations.m_defaultSearchFolder = folder;
    return locations;
}

AppLocations AppLocations::inUserFolders()
{
    const std::string home = homeFolder();
    AppLocations locations;
    locations.m_layout = Layout::Installed;
    locations.m_settingsFile =
        baseFolder("XDG_CONFIG_HOME", home, ".config/") + "lumivane/" + SettingsFileName;
    locations.m_musicFolder =
        baseFolder("XDG_DATA_HOME", home, ".local/share/") + "lumivane/music/";
    locations.m_defaultSearchFolder = picturesFolder(home);
    return locations;
}

AppLocations AppLocations::forProgram(const std::string& programFolder,
                                      const std::string& installedBinFolder)
{
    if (programFolder.empty())
        throw Error(Console::tr("the program's own folder is unknown").toStdString());
    // The running executable's folder comes resolved from the kernel; the install folder is
    // resolved too, so that a link such as /bin -> usr/bin does not hide the match.
    const bool installed = !installedBinFolder.empty() &&
                           canonicalFolder(programFolder) == canonicalFolder(installedBinFolder);
    return installed ? inUserFolders() : besideProgram(programFolder);
}

AppLocations AppLocations::forProgram(const std::string& programFolder)
{
    return forProgram(programFolder, LUMIVANE_INSTALL_BINDIR);
}

std::string folderOfExecutable(const std::string& executablePath)
{
    const std::size_t slash = executablePath.rfind('/');
    if (executablePath.empty() || executablePath.front() != '/' || slash == std::string::npos)
        throw AppLocations::Error(
            Console::fill(Console::tr("the program's own folder is unknown (its path is \"%1\")"),
                          {executablePath}));
    return executablePath.substr(0, slash + 1);
}

std::string runningProgramFolder()
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throw AppLocations::Error(
                Console::fill(Console::tr("cannot find the program's own folder: %1: %2"),
                              {"/proc/self/exe", std::strerror(errno)}));
        if (std::size_t(length) < buffer.size())
            return folderOfExecutable(std::string(buffer.data(), std::size_t(length)));
        // The path filled the buffer and may have been cut: try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

bool isExistingFolder(const std::string& path)
{
    struct stat info
    {
    };
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string withTrailingSlash(std::string path)
{
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}
