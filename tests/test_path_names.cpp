// The path rules of the file attachment, as pure functions. In code page 932 the second byte
// of 表 (95 5C) and of ソ (83 5C) is the backslash's code.
#include "attach/path_names.h"

#include <gtest/gtest.h>

using namespace dl;

namespace {

TEST(LastPathComponent, GivesTheTextAfterTheLastSeparatingBackslashKeepingDoubleByteCharactersWhole)
{
    const struct {
        const char* path;
        const char* last;
    } cases[] = {
        {"D:\\work\\docs", "docs"},
        {"D:\\work\\docs\\", "docs\\"},
        {"docs", "docs"},
        {"\\\\server\\share", "share"},
        {"\\", "\\"},
        {"", ""},
        {"ソフト", "ソフト"},
        {"D:\\docs\\表示", "表示"},
        {"D:\\表\\ソフト", "ソフト"},
        {"D:\\ソ\\表\\", "表\\"},
        {"D:\\work\\表", "表"},
    };
    for (const auto& c : cases) EXPECT_STREQ(LastPathComponent(c.path), c.last) << c.path;

    const char* path = "D:\\work\\a.txt";
    EXPECT_EQ(LastPathComponent(path), path + 8) << "points into the path, no copy";
}

TEST(IsDriveRoot, IsTrueForADriveLetterWithAtMostOneMoreCharacter)
{
    for (const char* root : {"C:", "C:\\", "d:/"}) EXPECT_TRUE(IsDriveRoot(root)) << root;
    for (const char* path : {"C:\\a", "C:\\work", "work", "\\\\server\\share", ""}) {
        EXPECT_FALSE(IsDriveRoot(path)) << path;
    }
}

TEST(IsFullPath, TakesADriveWithItsRootOrAShare)
{
    for (const char* full : {"C:\\", "z:\\work\\a.txt", "\\\\server\\share\\a", "\\\\?\\C:\\a"}) {
        EXPECT_TRUE(IsFullPath(full)) << full;
    }
    for (const char* relative : {"a.txt", "work\\a.txt", "C:a.txt", "C:", "\\work\\a.txt", "1:\\a", "表\\a", ""}) {
        EXPECT_FALSE(IsFullPath(relative)) << relative;
    }
}

TEST(HasRelativeComponent, FindsDotAndDotDotBetweenSeparators)
{
    for (const char* climbing :
         {"C:\\work\\..", "C:\\work\\..\\x", "C:\\.\\x", "work/../x", "..", ".\\a", "C:\\a\\."}) {
        EXPECT_TRUE(HasRelativeComponent(climbing)) << climbing;
    }
    for (const char* plain : {"C:\\work\\...", "C:\\work\\.hidden", "C:\\a..b\\c", "C:\\work\\x.", "C:\\ソ..",
                              "C:\\表..\\x", "C:\\work"}) {
        EXPECT_FALSE(HasRelativeComponent(plain)) << plain;
    }
}

}  // namespace
