#include "search/hasextension.h"

#include <gtest/gtest.h>

namespace {

TEST(HasExtension, TakesPictureExtensionsInAnyCase)
{
    EXPECT_TRUE(hasExtension("a.jpg", ".jpg"));
    EXPECT_TRUE(hasExtension("IMG_0001.JPG", ".jpg"));
    EXPECT_TRUE(hasExtension("x.Jpeg", ".jpeg"));
    EXPECT_TRUE(hasExtension("a.BMP", ".bmp"));
    EXPECT_TRUE(hasExtension("song.Mid", ".MID"));
    // A name that is nothing but the extension still has it.
    EXPECT_TRUE(hasExtension(".jpg", ".jpg"));
    EXPECT_TRUE(hasExtension("写真.JPG", ".jpg"));
}

TEST(HasExtension, RejectsNearMisses)
{
    for (const char* name : {"a.jpe", "a.jfif", "a.png", "a.gif", "a.tif", "a.jpg.bak", "a.jpgx",
                             "a_jpg", "jpg", "a.jp g", "a.", ""}) {
        EXPECT_FALSE(hasExtension(name, ".jpg")) << name;
    }
    EXPECT_FALSE(hasExtension("a.jpeg", ".jpg"));
    EXPECT_FALSE(hasExtension("a.jpg", ".jpeg"));
    // A full-width dot is not a dot.
    EXPECT_FALSE(hasExtension("a．jpg", ".jpg"));
}

TEST(HasExtension, OnlySlashEndsTheExtension)
{
    // A dot inside a folder name is not the file's extension.
    EXPECT_FALSE(hasExtension("/photos/holiday.jpg/readme", ".jpg"));
    EXPECT_FALSE(hasExtension("/photos/holiday.jpg/", ".jpg"));
    EXPECT_TRUE(hasExtension("/photos/holiday.v2/a.jpg", ".jpg"));
    // ":" and "\" are ordinary characters of a Linux file name.
    EXPECT_TRUE(hasExtension("12:30:00.jpg", ".jpg"));
    EXPECT_FALSE(hasExtension("a.jpg:1", ".jpg"));
    EXPECT_TRUE(hasExtension("a\\b.jpg", ".jpg"));
}

TEST(HasExtension, NoExtensionMatchesOnlyTheEmptyExtension)
{
    EXPECT_TRUE(hasExtension("README", ""));
    EXPECT_FALSE(hasExtension("README", ".jpg"));
    EXPECT_FALSE(hasExtension("a.jpg", ""));
}

} // namespace
