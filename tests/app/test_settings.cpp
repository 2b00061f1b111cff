#include "app/commandline.h"
#include "app/settings.h"
#include "app/showoptions.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// The bytes of a string literal, zero bytes included, without its terminating zero.
template <std::size_t N> QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

class SettingsFileTest : public ::testing::Test
{
protected:
    // The path of a file in the test's folder, as the bytes the reader takes.
    std::string path(const char* name) const
    {
        return QFile::encodeName(m_dir.filePath(name)).toStdString();
    }

    std::string write(const QByteArray& contents, const char* name = "lumivane.ini")
    {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
        return path(name);
    }

    // The monitor chosen on a desktop with two monitors.
    int monitorFor(const QByteArray& contents)
    {
        return chooseMonitorIndex(readMonitorSetting(write(contents)), 2);
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST(ParseIniInteger, AcceptsDecimalWithBlanksAndOneSign)
{
    EXPECT_EQ(parseIniInteger("1"), 1);
    EXPECT_EQ(parseIniInteger(" +1"), 1);
    EXPECT_EQ(parseIniInteger("\t-1"), -1);
    EXPECT_EQ(parseIniInteger("1 "), 1);
    EXPECT_EQ(parseIniInteger("007"), 7);
    EXPECT_EQ(parseIniInteger("2147483647"), 2147483647);
    EXPECT_EQ(parseIniInteger("-2147483648"), -2147483647 - 1);
}

TEST(ParseIniInteger, AcceptsHexadecimalPrefixesAfterTheSign)
{
    EXPECT_EQ(parseIniInteger("0x1"), 1);
    EXPECT_EQ(parseIniInteger("0X1f"), 31);
    EXPECT_EQ(parseIniInteger("$1"), 1);
    EXPECT_EQ(parseIniInteger("$aB"), 171);
    EXPECT_EQ(parseIniInteger("-$10"), -16);
    EXPECT_EQ(parseIniInteger(" +0x7FFFFFFF"), 2147483647);
    EXPECT_EQ(parseIniInteger("-0x80000000"), -2147483647 - 1);
}

TEST(ParseIniInteger, GivesZeroForAnythingElse)
{
    for (const char* text :
         {"",           " ",           "abc",        "1a",        "1 2",
          "+",          "-",           "+-1",        "- 1",       "0x",
          "$",          "x1",          "1.5",        "0xg",       "$-1",
          "2147483648", "-2147483649", "0x80000000", "$FFFFFFFF", "99999999999999999999999999"})
        EXPECT_EQ(parseIniInteger(text), 0) << text;
}

TEST(ChooseMonitorIndex, ReplacesIndicesOutsideTheMonitorsByZero)
{
    EXPECT_EQ(chooseMonitorIndex(1, 2), 1);
    EXPECT_EQ(chooseMonitorIndex(0, 2), 0);
    EXPECT_EQ(chooseMonitorIndex(2, 2), 0);
    EXPECT_EQ(chooseMonitorIndex(-1, 2), 0);
    EXPECT_EQ(chooseMonitorIndex(0, 0), 0);
    EXPECT_EQ(chooseMonitorIndex(-2147483647 - 1, 1), 0);
}

TEST_F(SettingsFileTest, MissingFileSectionOrKeyGivesMonitorZero)
{
    EXPECT_EQ(readMonitorSetting(path("lumivane.ini")), 0);
    EXPECT_EQ(monitorFor("[OTHER]\nMONITOR=1\n"), 0);
    EXPECT_EQ(monitorFor("[DEF]\nSCREEN=1\n"), 0);
    EXPECT_EQ(monitorFor(""), 0);
    // A folder of that name is not a settings file.
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.ini"));
    EXPECT_EQ(readMonitorSetting(path("folder.ini")), 0);
    // Opening a FIFO would wait for a writer; it is not read at all.
    const QByteArray fifo = QFile::encodeName(m_dir.filePath("fifo.ini"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    EXPECT_EQ(readMonitorSetting(path("fifo.ini")), 0);
}

TEST_F(SettingsFileTest, ChoosesTheMonitorTheValueNames)
{
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR=1\n"), 1);
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR= +1\n"), 1);
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR=0x1\n"), 1);
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR=$1\n"), 1);
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR=-1\n"), 0);
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR=2\n"), 0);
    EXPECT_EQ(monitorFor("[DEF]\nMONITOR=abc\n"), 0);
}

TEST_F(SettingsFileTest, ReadsNamesAndValuesAsIniReadersDo)
{
    // Case-insensitive names, blanks around names and values, CR LF line ends.
    EXPECT_EQ(readMonitorSetting(write("[ def ]\r\n  monitor  =  3  \r\n")), 3);
    // Comments, other sections and keys before the wanted one.
    EXPECT_EQ(readMonitorSetting(write("; MONITOR=9\n[A]\nMONITOR=8\n[DEF]\n;MONITOR=7\nX=1\n"
                                       "MONITOR=4\n")),
              4);
    // The section ends at the next section header.
    EXPECT_EQ(readMonitorSetting(write("[DEF]\n[B]\nMONITOR=5\n")), 0);
    // The first occurrence counts.
    EXPECT_EQ(readMonitorSetting(write("[DEF]\nMONITOR=1\nMONITOR=2\n")), 1);
    // Quotes around the value are removed; unmatched ones are part of the value.
    EXPECT_EQ(readMonitorSetting(write("[DEF]\nMONITOR=\"6\"\n")), 6);
    EXPECT_EQ(readMonitorSetting(write("[DEF]\nMONITOR='6'\n")), 6);
    EXPECT_EQ(readMonitorSetting(write("[DEF]\nMONITOR=\"6\n")), 0);
    // A UTF-8 byte order mark and a missing final newline.
    EXPECT_EQ(readMonitorSetting(write("\xEF\xBB\xBF[DEF]\nMONITOR=1")), 1);
}

TEST_F(SettingsFileTest, HostileFilesGiveZeroOrTheirValueWithoutHarm)
{
    // Binary bytes, including zero bytes and invalid UTF-8, around a valid entry.
    const QByteArray binary = bytes("\x00\xff\xfe[\x80\n[DEF]\n\x00\x01\x02=\xff\nMONITOR=1\n");
    EXPECT_EQ(readMonitorSetting(write(binary)), 1);

    // A value longer than 2047 characters is cut: the number is then too long for an integer.
    EXPECT_EQ(readMonitorSetting(write("[DEF]\nMONITOR=" + QByteArray(3000, '1') + "\n")), 0);
    // A line far longer than any value, followed by the real entry.
    EXPECT_EQ(readMonitorSetting(write("[DEF]\nX=" + QByteArray(100000, 'x') + "\nMONITOR=1\n")),
              1);
    // One endless line with no newline.
    EXPECT_EQ(readMonitorSetting(write(QByteArray(300000, '['))), 0);
}

TEST_F(SettingsFileTest, StopsReadingAfterTheFirstMegabytes)
{
    // An entry after several megabytes of filler is not looked for.
    QByteArray big("[DEF]\n");
    const QByteArray filler = "; " + QByteArray(1021, '-') + "\n";
    while (big.size() < 5 * 1024 * 1024)
        big += filler;
    EXPECT_EQ(readMonitorSetting(write(big + "MONITOR=1\n")), 0);
}

// [SHOW]: the file's values, the command line's twins that win, a bad value in the file that
// falls back to the default with a line naming the file, the key and the value, and a bad value
// on the command line that ends the program.
TEST_F(SettingsFileTest, ShowOptionsFromTheFileAndTheCommandLine)
{
    std::vector<std::string> complaints;
    const std::string missing = path("none.ini");
    EXPECT_EQ(readShowOptions(missing, {}, complaints), ShowOptions{});

    // Sections and keys in any case, the first occurrence of a key counting; [DEF] keys and
    // unknown keys are not the show's.
    std::string ini = write("[DEF]\nFORMATS=ALL\n[show]\nformats = \"all\"\nORDER=Shuffle\n"
                            "FORMATS=DESIGN\nCOLOUR=RED\n");
    ShowOptions options = readShowOptions(ini, {}, complaints);
    EXPECT_EQ(options.formats, PictureFormats::All);
    EXPECT_EQ(options.order, ShowOrder::Shuffle);
    EXPECT_TRUE(complaints.empty());

    CommandLine line = parseCommandLine({"--order=sorted", "photos", "--formats=design"});
    ASSERT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.folder, "photos");
    options = readShowOptions(ini, line.show, complaints);
    EXPECT_EQ(options, ShowOptions{});

    // Control characters (DEL among them) show as "?", spaces as themselves.
    ini = write("[SHOW]\nFORMATS=EVERY THING\x1b\x7f\nORDER=SHUFFLE\n", "my settings.ini");
    options = readShowOptions(ini, {}, complaints);
    EXPECT_EQ(options.formats, PictureFormats::Design);
    EXPECT_EQ(options.order, ShowOrder::Shuffle);
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_NE(ini.find("my settings.ini"), std::string::npos);
    EXPECT_EQ(complaints[0],
              ini + ": [SHOW] FORMATS=EVERY THING?? is not DESIGN or ALL; DESIGN is used");
    EXPECT_NE(parseCommandLine({"--x\x7f\x1b y"}).error.find("--x?? y"), std::string::npos);

    for (const std::string bad : {"--order=random", "--formats", "--formats=", "--Order=sorted"}) {
        line = parseCommandLine({bad});
        EXPECT_EQ(line.action, CommandLine::Action::Fail) << bad;
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
    }
    EXPECT_EQ(parseCommandLine({"--order=random"}).error,
              "invalid value 'random' for --order (use sorted or shuffle; see 'lumivane --help')");
}

// [SHOW] QUALITY: the file's value in any case, the command line's twin that wins, a bad value in
// the file that keeps the default with one line naming the file, the key and the value, and a bad
// value on the command line that ends the program with a one-line message.
TEST_F(SettingsFileTest, QualityFromTheFileAndTheCommandLine)
{
    std::vector<std::string> complaints;
    EXPECT_EQ(readShowOptions(path("none.ini"), {}, complaints).quality, PictureQuality::Design);

    std::string ini = write("[DEF]\nQUALITY=HIGH\n[show]\nquality = \"high\"\nQUALITY=DESIGN\n");
    EXPECT_EQ(readShowOptions(ini, {}, complaints).quality, PictureQuality::High);
    EXPECT_TRUE(complaints.empty());

    CommandLine line = parseCommandLine({"--quality=design", "photos"});
    ASSERT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.folder, "photos");
    EXPECT_EQ(readShowOptions(ini, line.show, complaints).quality, PictureQuality::Design);
    line = parseCommandLine({"--quality=HIGH"});
    EXPECT_EQ(readShowOptions(path("none.ini"), line.show, complaints).quality,
              PictureQuality::High);

    ini = write("[SHOW]\nQUALITY=ultra\x1b\n");
    EXPECT_EQ(readShowOptions(ini, {}, complaints).quality, PictureQuality::Design);
    ASSERT_EQ(complaints.size(), 1u);
    EXPECT_EQ(complaints[0], ini + ": [SHOW] QUALITY=ultra? is not DESIGN or HIGH; DESIGN is used");

    for (const std::string bad : {"--quality=ultra", "--quality", "--quality=", "--Quality=high"}) {
        line = parseCommandLine({bad});
        EXPECT_EQ(line.action, CommandLine::Action::Fail) << bad;
        EXPECT_EQ(line.error.find('\n'), std::string::npos);
    }
    EXPECT_EQ(parseCommandLine({"--quality=ultra"}).error,
              "invalid value 'ultra' for --quality (use design or high; see 'lumivane --help')");
}
