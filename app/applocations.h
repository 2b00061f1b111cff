#pragma once

#include <stdexcept>
#include <string>

// Where the program finds its settings file and its music, and which folder it searches when it
// is given none. A program run from its build folder, or from a folder of its own that it was
// unpacked into, keeps everything beside its executable. An installed program (its executable in
// the install prefix's bin folder) keeps them in the user's own folders instead: nobody puts
// music into /usr/bin, and a program started from the desktop menu should show the user's
// pictures, not search /usr/bin.
//
// Every path is a byte string, exactly as the file system stores it: Linux file names need not
// be valid UTF-8, and a name decoded to text and encoded again may no longer name the file.
class AppLocations
{
public:
    enum class Layout
    {
        // Everything beside the executable.
        ProgramFolder,
        // The user's folders, following the XDG base directories.
        Installed,
    };

    // A folder, a home folder or the program itself that cannot be found.
    class Error : public std::runtime_error
    {
    public:
        using std::runtime_error::runtime_error;
    };

    // Everything in programFolder, which must not be empty.
    static AppLocations besideProgram(const std::string& programFolder);

    // The user's folders:
    // - settings: $XDG_CONFIG_HOME/lumivane/lumivane.ini, by default ~/.config/lumivane/;
    // - music: $XDG_DATA_HOME/lumivane/music/, by default ~/.local/share/lumivane/music/;
    // - the default search folder: the user's Pictures folder, or the home folder when that
    //   does not exist.
    // The home folder is $HOME, or the user's entry in the password database when HOME is unset.
    // Throws Error when there is no home folder at all.
    static AppLocations inUserFolders();

    // The locations of a program whose executable lies in programFolder: the user's folders when
    // that is installedBinFolder (the install prefix's bin folder, fixed when the program was
    // built), everything beside the executable otherwise.
    static AppLocations forProgram(const std::string& programFolder,
                                   const std::string& installedBinFolder);
    static AppLocations forProgram(const std::string& programFolder);

    Layout layout() const { return m_layout; }
    const std::string& settingsFile() const { return m_settingsFile; }
    // Ends with "/".
    const std::string& musicFolder() const { return m_musicFolder; }
    // Ends with "/".
    const std::string& defaultSearchFolder() const { return m_defaultSearchFolder; }

private:
    Layout m_layout = Layout::ProgramFolder;
    std::string m_settingsFile;
    std::string m_musicFolder;
    std::string m_defaultSearchFolder;
};

// The folder part of an executable's path, ending with "/". Throws AppLocations::Error for a
// path with no folder part, since guessing one (the root, the working folder) would search and
// read the wrong place.
std::string folderOfExecutable(const std::string& executablePath);

// The folder of the running executable, read as bytes from /proc/self/exe, ending with "/".
// Throws AppLocations::Error when the kernel does not tell it.
std::string runningProgramFolder();

// Whether path names an existing folder (following links).
bool isExistingFolder(const std::string& path);

// path with a "/" at its end. An empty path stays empty: it names no folder, least of all the
// root.
std::string withTrailingSlash(std::string path);
