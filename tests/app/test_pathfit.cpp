#include "app/pathfit.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <random>

namespace {

// Every character is 10 pixels wide; the texts measured are recorded.
struct FixedWidth
{
    QStringList* measured = nullptr;

    int operator()(const QString& text) const
    {
        if (measured)
            measured->append(text);
        return static_cast<int>(text.size()) * 10;
    }
};

int widthOf(const QString& text)
{
    return static_cast<int>(text.size()) * 10;
}

// The result of every pass when nothing but the bare name fits: the texts measured before the
// second and later passes, then the final result.
QStringList shrinkSteps(const QString& path, PathSyntax syntax)
{
    QStringList measured;
    const QString result = fitPathToWidth(path, FixedWidth{&measured}, 0, syntax);
    measured.removeFirst();
    measured.append(result);
    return measured;
}

} // namespace

TEST(FitPathToWidth, ShrinksTheWindowsWorkedExampleToTheBareName)
{
    EXPECT_EQ(shrinkSteps("C:\\Photos\\2004\\trip\\img001.jpg", PathSyntax::Windows),
              QStringList({"C:\\...\\2004\\trip\\img001.jpg", "C:\\...\\trip\\img001.jpg",
                           "C:\\...\\img001.jpg", "...\\img001.jpg", "img001.jpg"}));
}

TEST(FitPathToWidth, ShrinksANetworkPathWhoseFirstFolderIsEmpty)
{
    // The first pass drops the empty name between the two leading delimiters, which makes the
    // text three characters longer.
    EXPECT_EQ(shrinkSteps("\\\\server\\share\\pics\\a.jpg", PathSyntax::Windows),
              QStringList({"\\...\\server\\share\\pics\\a.jpg", "\\...\\share\\pics\\a.jpg",
                           "\\...\\pics\\a.jpg", "\\...\\a.jpg", "...\\a.jpg", "a.jpg"}));
}

TEST(FitPathToWidth, FolderStartingWithADotLosesFourCharacters)
{
    EXPECT_EQ(shrinkSteps("C:\\.a\\b\\c.jpg", PathSyntax::Windows),
              QStringList({"C:\\...\\c.jpg", "...\\c.jpg", "c.jpg"}));
    EXPECT_EQ(shrinkSteps("/.a/b/c.jpg", PathSyntax::Posix),
              QStringList({"/.../c.jpg", ".../c.jpg", "c.jpg"}));
}

TEST(FitPathToWidth, ShrinksLinuxPaths)
{
    EXPECT_EQ(shrinkSteps("/home/u/p/a.jpg", PathSyntax::Posix),
              QStringList({"/.../u/p/a.jpg", "/.../p/a.jpg", "/.../a.jpg", ".../a.jpg", "a.jpg"}));
    // A relative path has no root to keep.
    EXPECT_EQ(shrinkSteps("u/p/a.jpg", PathSyntax::Posix),
              QStringList({".../p/a.jpg", ".../a.jpg", "a.jpg"}));
    // On Linux ":" and "\" are ordinary characters of a name.
    EXPECT_EQ(shrinkSteps("/C:/x\\y/a:b.jpg", PathSyntax::Posix),
              QStringList({"/.../x\\y/a:b.jpg", "/.../a:b.jpg", ".../a:b.jpg", "a:b.jpg"}));
    EXPECT_EQ(shrinkSteps("/a.jpg", PathSyntax::Posix), QStringList({"a.jpg"}));
}

TEST(FitPathToWidth, WindowsDriveWithoutFolders)
{
    EXPECT_EQ(shrinkSteps("C:\\a.jpg", PathSyntax::Windows), QStringList({"C:a.jpg", "a.jpg"}));
    EXPECT_EQ(shrinkSteps("C:a.jpg", PathSyntax::Windows), QStringList({"a.jpg"}));
}

TEST(FitPathToWidth, StopsAtTheFirstResultThatFits)
{
    const QString path = "/home/user/pictures/holiday/img001.jpg";
    EXPECT_EQ(fitPathToWidth(path, FixedWidth{}, widthOf(path)), path);
    EXPECT_EQ(fitPathToWidth(path, FixedWidth{}, 10000), path);
    // "/.../pictures/holiday/img001.jpg" is 32 characters; one pixel less needs another pass.
    EXPECT_EQ(fitPathToWidth(path, FixedWidth{}, 320), "/.../pictures/holiday/img001.jpg");
    EXPECT_EQ(fitPathToWidth(path, FixedWidth{}, 319), "/.../holiday/img001.jpg");
    // The name is never cut, even when it alone is too wide.
    EXPECT_EQ(fitPathToWidth(path, FixedWidth{}, 5), "img001.jpg");
    EXPECT_EQ(fitPathToWidth("img001.jpg", FixedWidth{}, 5), "img001.jpg");
    EXPECT_EQ(fitPathToWidth("", FixedWidth{}, 0), "");
}

TEST(FitPathToWidth, MeasuresTheWholeTextOncePerPass)
{
    QStringList measured;
    EXPECT_EQ(fitPathToWidth("/home/u/p/a.jpg", FixedWidth{&measured}, 0), "a.jpg");
    // Three folder levels: five passes, each measuring the text it starts from; the bare name is
    // never measured.
    EXPECT_EQ(measured, QStringList({"/home/u/p/a.jpg", "/.../u/p/a.jpg", "/.../p/a.jpg",
                                     "/.../a.jpg", ".../a.jpg"}));

    measured.clear();
    fitPathToWidth("/home/u/p/a.jpg", FixedWidth{&measured}, 1000);
    EXPECT_EQ(measured.size(), 1);

    measured.clear();
    fitPathToWidth("a.jpg", FixedWidth{&measured}, 0);
    EXPECT_TRUE(measured.isEmpty());
}

TEST(FitPathToWidth, AlwaysEndsWithinTheMeasurementBoundOnArbitraryPaths)
{
    // Random paths over an alphabet rich in delimiters and dots; the shortening must end with the
    // bare name after at most one measurement per delimiter plus three.
    std::mt19937 random(12345);
    const QString alphabet = QStringLiteral("/\\:.ab");
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(alphabet.size()) - 1);
    for (int round = 0; round < 5000; ++round) {
        QString path;
        for (int i = length(random); i > 0; --i)
            path += alphabet[pick(random)];
        for (PathSyntax syntax : {PathSyntax::Posix, PathSyntax::Windows}) {
            QStringList measured;
            const QString result = fitPathToWidth(path, FixedWidth{&measured}, -1, syntax);
            const QChar delimiter = syntax == PathSyntax::Posix ? u'/' : u'\\';
            qsizetype split = path.size();
            while (split > 0 && path[split - 1] != delimiter &&
                   !(syntax == PathSyntax::Windows && path[split - 1] == u':'))
                --split;
            ASSERT_EQ(result, path.mid(split)) << path.toStdString();
            ASSERT_LE(measured.size(), path.count(delimiter) + path.count(u':') + 3)
                << path.toStdString();
        }
    }
}

TEST(DropFirstFolder, ReplacesTheFirstFolderKeepingTheRoot)
{
    EXPECT_EQ(dropFirstFolder("/"), "");
    EXPECT_EQ(dropFirstFolder("/a/"), "/.../");
    EXPECT_EQ(dropFirstFolder("/a/b/"), "/.../b/");
    EXPECT_EQ(dropFirstFolder("/.../b/c/"), "/.../c/");
    EXPECT_EQ(dropFirstFolder("a/"), ".../");
    EXPECT_EQ(dropFirstFolder(".../"), "");
    EXPECT_EQ(dropFirstFolder("abc"), "");
    EXPECT_EQ(dropFirstFolder("\\a\\b\\", PathSyntax::Windows), "\\...\\b\\");
    EXPECT_EQ(dropFirstFolder("\\", PathSyntax::Windows), "");
    // In Posix syntax "\" is no delimiter.
    EXPECT_EQ(dropFirstFolder("\\a\\b\\"), "");
}
