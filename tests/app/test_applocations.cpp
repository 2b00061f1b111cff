#include "app/applocations.h"
#include "app/commandline.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

namespace {

// Sets or unsets environment variables for one test and puts them back afterwards.
class ScopedEnvironment
{
public:
    ~ScopedEnvironment()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    void set(const char* name, const std::optional<std::string>& value)
    {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

class AppLocationsTest : public ::testing::Test
{
protected:
    // QTemporaryDir cannot remove names that are not valid UTF-8; the file system's bytes can.
    void TearDown() override { std::filesystem::remove_all(m_root); }

    std::string folder(const std::string& name) const
    {
        const std::string path = m_root + "/" + name;
        EXPECT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
        return path;
    }

    QTemporaryDir m_dir;
    const std::string m_root = QFile::encodeName(m_dir.path()).toStdString();
    ScopedEnvironment m_environment;
};

TEST_F(AppLocationsTest, ProgramRunFromItsOwnFolderKeepsEverythingBesideIt)
{
    // A folder name that is not valid UTF-8 keeps its bytes all the way.
    const std::string program = folder("b\xfcild");
    const std::string bin = folder("bin");
    for (const std::string& given : {program, program + "/"}) {
        const AppLocations locations = AppLocations::forProgram(given, bin);
        EXPECT_EQ(locations.layout(), AppLocations::Layout::ProgramFolder);
        EXPECT_EQ(locations.settingsFile(), program + "/lumivane.ini");
        EXPECT_EQ(locations.musicFolder(), program + "/");
        EXPECT_EQ(locations.defaultSearchFolder(), program + "/");
    }
    // An unknown folder is an error, never the root.
    EXPECT_THROW(AppLocations::forProgram("", bin), AppLocations::Error);
    EXPECT_THROW(AppLocations::besideProgram(""), AppLocations::Error);
    EXPECT_EQ(withTrailingSlash(""), "");

    EXPECT_EQ(folderOfExecutable("/opt/ph\xf6to/lumivane"), "/opt/ph\xf6to/");
    EXPECT_THROW(folderOfExecutable(""), AppLocations::Error);
    EXPECT_THROW(folderOfExecutable("lumivane"), AppLocations::Error);
    // The running test program is found where it lies.
    struct stat info
    {
    };
    EXPECT_EQ(::stat((runningProgramFolder() + "test_applocations").c_str(), &info), 0);
}

TEST_F(AppLocationsTest, InstalledProgramUsesTheXdgFoldersWhenSet)
{
    const std::string bin = folder("bin");
    const std::string home = folder("h\xf4me");
    folder("h\xf4me/Pictures");
    m_environment.set("HOME", home);
    m_environment.set("XDG_CONFIG_HOME", m_root + "/conf\xe9");
    m_environment.set("XDG_DATA_HOME", m_root + "/data/");
    // The install folder may be written with a trailing slash or through a link.
    ASSERT_EQ(::symlink(bin.c_str(), (m_root + "/linked-bin").c_str()), 0);
    for (const std::string& installed : {bin, bin + "/", m_root + "/linked-bin"}) {
        const AppLocations locations = AppLocations::forProgram(bin, installed);
        EXPECT_EQ(locations.layout(), AppLocations::Layout::Installed);
        EXPECT_EQ(locations.settingsFile(), m_root + "/conf\xe9/lumivane/lumivane.ini");
        EXPECT_EQ(locations.musicFolder(), m_root + "/data/lumivane/music/");
    }
    // The Pictures folder below a home whose name is not UTF-8 is still found.
    EXPECT_EQ(AppLocations::forProgram(bin, bin).defaultSearchFolder(), home + "/Pictures/");
}

TEST_F(AppLocationsTest, InstalledProgramFallsBackToTheHomeFolder)
{
    const std::string bin = folder("bin");
    const std::string home = folder("home");
    m_environment.set("HOME", home);
    m_environment.set("XDG_CONFIG_HOME", std::nullopt);
    // A relative value is invalid and ignored.
    m_environment.set("XDG_DATA_HOME", "relative/data");

    AppLocations locations = AppLocations::forProgram(bin, bin);
    EXPECT_EQ(locations.settingsFile(), home + "/.config/lumivane/lumivane.ini");
    EXPECT_EQ(locations.musicFolder(), home + "/.local/share/lumivane/music/");
    // No Pictures folder: the home folder is searched.
    EXPECT_EQ(locations.defaultSearchFolder(), home + "/");
    folder("home/Pictures");
    locations = AppLocations::forProgram(bin, bin);
    EXPECT_EQ(locations.defaultSearchFolder(), home + "/Pictures/");

    // Without HOME, the password database names the home folder; never the root.
    m_environment.set("HOME", std::nullopt);
    locations = AppLocations::forProgram(bin, bin);
    EXPECT_NE(locations.settingsFile().rfind("/.config/lumivane/lumivane.ini"), std::string::npos);
    EXPECT_NE(locations.settingsFile(), "/.config/lumivane/lumivane.ini");
}

TEST(CommandLine, OptionsAndTheFolderArgument)
{
    using Action = CommandLine::Action;
    EXPECT_EQ(parseCommandLine({}).action, Action::Run);
    EXPECT_EQ(parseCommandLine({}).folder, "");

    // The first plain argument is the folder, bytes as given; later ones are ignored.
    CommandLine line = parseCommandLine({"/photos/\xe9t\xe9", "second"});
    EXPECT_EQ(line.action, Action::Run);
    EXPECT_EQ(line.folder, "/photos/\xe9t\xe9");
    // After "--" everything is a plain argument; "-" alone is one anyway.
    EXPECT_EQ(parseCommandLine({"--", "--help"}).folder, "--help");
    EXPECT_EQ(parseCommandLine({"--", "-x", "y"}).folder, "-x");
    EXPECT_EQ(parseCommandLine({"-"}).folder, "-");
    EXPECT_EQ(parseCommandLine({"a", "--", "b"}).folder, "a");

    EXPECT_EQ(parseCommandLine({"--help"}).action, Action::ShowHelp);
    EXPECT_EQ(parseCommandLine({"photos", "--version"}).action, Action::ShowVersion);

    // Anything else that starts with "-" fails, Qt's own options included, with one line that
    // cannot upset the terminal.
    for (const std::string bad : {"-x", "--helpme", "-platform", "-display", "-h", "--\x1b[2J"}) {
        line = parseCommandLine({bad, "photos"});
        EXPECT_EQ(line.action, Action::Fail) << bad;
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
        EXPECT_EQ(line.error.find('\x1b'), std::string::npos);
    }
    EXPECT_NE(parseCommandLine({"--bogus"}).error.find("'--bogus'"), std::string::npos);
}

} // namespace
