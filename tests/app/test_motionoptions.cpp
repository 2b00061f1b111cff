// The keys of the [SHOW] section: the file, the command-line twins and their rules.
#include "app/commandline.h"
#include "app/showoptions.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

ShowOptions readFrom(const QTemporaryDir& dir, const QByteArray& contents,
                     const std::vector<std::string>& arguments,
                     std::vector<std::string>& complaints)
{
    QFile file(dir.filePath("lumivane.ini"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
    file.close();
    const CommandLine commandLine = parseCommandLine(arguments);
    EXPECT_EQ(commandLine.action, CommandLine::Action::Run);
    return readShowOptions(QFile::encodeName(file.fileName()).toStdString(), commandLine.show,
                           complaints);
}

} // namespace

TEST(MotionOptions, FileValuesTheirDefaultsAndTheCommandLineOverThem)
{
    QTemporaryDir dir;
    std::vector<std::string> complaints;
    ShowOptions options =
        readFrom(dir, "[show]\nmotion = Smooth\nSECONDS=\"2.25\"\n", {}, complaints);
    EXPECT_EQ(options.motion, SlideMotion::Smooth);
    EXPECT_EQ(options.seconds, 2.25);
    EXPECT_TRUE(complaints.empty());

    // Bad values keep the defaults, with one line each naming the file, the key and the value.
    options = readFrom(dir, "[SHOW]\nMOTION=fast\nSECONDS=4,5\n", {}, complaints);
    EXPECT_EQ(options, ShowOptions{});
    ASSERT_EQ(complaints.size(), 2u);
    EXPECT_NE(complaints[0].find("lumivane.ini: [SHOW] MOTION=fast"), std::string::npos);
    EXPECT_NE(complaints[1].find("SECONDS=4,5"), std::string::npos);
    EXPECT_NE(complaints[1].find("4.5 is used"), std::string::npos);

    // The twins win over the file; the limits are allowed.
    complaints.clear();
    options = readFrom(dir, "[SHOW]\nMOTION=SMOOTH\nSECONDS=10\n",
                       {"--motion=frames", "--seconds=3600"}, complaints);
    EXPECT_EQ(options.motion, SlideMotion::Frames);
    EXPECT_EQ(options.seconds, 3600);
    options = readFrom(dir, "", {"--seconds=1", "--motion=smooth"}, complaints);
    EXPECT_EQ(options.seconds, 1);
    EXPECT_EQ(options.motion, SlideMotion::Smooth);
    EXPECT_TRUE(complaints.empty());
}

TEST(MotionOptions, BadCommandLineValuesFailWithOneLine)
{
    for (const char* argument :
         {"--motion=fast", "--motion", "--motion=", "--seconds=0.99", "--seconds=3600.5",
          "--seconds=-2", "--seconds=1e3", "--seconds=.5", "--seconds=nan", "--seconds="}) {
        const CommandLine commandLine = parseCommandLine({argument, "folder"});
        EXPECT_EQ(commandLine.action, CommandLine::Action::Fail) << argument;
        EXPECT_EQ(commandLine.error.find('\n'), std::string::npos) << argument;
    }
    EXPECT_NE(parseCommandLine({"--seconds=0"}).error.find("from 1 to 3600"), std::string::npos);
}

TEST(MotionOptions, WatchIsOffUnlessTheFileOrABareSwitchTurnsItOn)
{
    QTemporaryDir dir;
    std::vector<std::string> complaints;
    EXPECT_FALSE(readFrom(dir, "", {}, complaints).watch);
    EXPECT_TRUE(readFrom(dir, "[SHOW]\nWATCH=on\n", {}, complaints).watch);
    EXPECT_TRUE(readFrom(dir, "", {"--watch", "folder"}, complaints).watch);
    EXPECT_FALSE(readFrom(dir, "[SHOW]\nWATCH=ON\n", {"--watch=off"}, complaints).watch);
    EXPECT_TRUE(complaints.empty());
    EXPECT_EQ(parseCommandLine({"--watch=sometimes"}).action, CommandLine::Action::Fail);
    EXPECT_EQ(parseCommandLine({"--Watch"}).action, CommandLine::Action::Fail);
}

// KEEP_AWAKE and AWAKE: on and at all hours by default; the twins win. A malformed schedule is
// one line naming the key and the value, and the show still starts without a schedule, also when
// it is given on the command line over a good one in the file.
TEST(MotionOptions, KeepAwakeAndTheAwakeHours)
{
    QTemporaryDir dir;
    std::vector<std::string> complaints;
    ShowOptions options = readFrom(dir, "", {}, complaints);
    EXPECT_TRUE(options.keepAwake);
    EXPECT_TRUE(options.awake.ranges().empty());

    options = readFrom(dir, "[SHOW]\nKEEP_AWAKE=off\nAWAKE=22:00-06:00\n", {}, complaints);
    EXPECT_FALSE(options.keepAwake);
    EXPECT_EQ(options.awake, AwakeSchedule::parse("22:00-06:00"));
    options = readFrom(dir, "[SHOW]\nKEEP_AWAKE=OFF\nAWAKE=22:00-06:00\n",
                       {"--keep-awake=on", "--awake=07:00-09:00,17:00-23:00"}, complaints);
    EXPECT_TRUE(options.keepAwake);
    EXPECT_EQ(options.awake.ranges().size(), 2u);
    EXPECT_TRUE(complaints.empty());

    options = readFrom(dir, "[SHOW]\nAWAKE=25:00\n", {}, complaints);
    EXPECT_EQ(options, ShowOptions{});
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_NE(complaints[0].find("lumivane.ini: [SHOW] AWAKE=25:00 is not hours such as "),
              std::string::npos);
    EXPECT_NE(complaints[0].find("; the schedule is off"), std::string::npos);

    complaints.clear();
    options = readFrom(dir, "[SHOW]\nAWAKE=07:00-23:00\n", {"--awake=7-9", "folder"}, complaints);
    EXPECT_EQ(options, ShowOptions{});
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_EQ(complaints[0].find('\n'), std::string::npos);
    EXPECT_EQ(complaints[0].find("invalid value '7-9' for --awake"), 0u);
    EXPECT_NE(complaints[0].find("; the schedule is off"), std::string::npos);

    // The other mistakes end the program as for every key.
    for (const char* bad : {"--keep-awake=maybe", "--keep-awake", "--keep_awake=on", "--awake"})
        EXPECT_EQ(parseCommandLine({bad}).action, CommandLine::Action::Fail) << bad;
    EXPECT_EQ(parseCommandLine({"--keep-awake=maybe"}).error,
              "invalid value 'maybe' for --keep-awake (use on or off; see 'lumivane --help')");
}
