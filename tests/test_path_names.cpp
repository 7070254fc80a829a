// The rules for copied paths and the names they are attached under, as pure functions.
#include "names/file_name.h"
#include "names/nearest_names.h"
#include "names/path_names.h"

#include <gtest/gtest.h>

using namespace dl;

namespace {

TEST(LastPathComponent, GivesTheTextAfterTheLastSeparatingBackslash)
{
    const struct {
        const wchar_t* path;
        const wchar_t* last;
    } cases[] = {
        {L"D:\\work\\docs", L"docs"},
        {L"D:\\work\\docs\\", L"docs\\"},
        {L"docs", L"docs"},
        {L"\\\\server\\share", L"share"},
        {L"\\", L"\\"},
        {L"", L""},
        {L"D:\\表\\ソフト", L"ソフト"},
        {L"D:\\资料\\😀.txt", L"😀.txt"},
    };
    for (const auto& c : cases) EXPECT_STREQ(LastPathComponent(c.path), c.last) << c.path;

    const wchar_t* path = L"D:\\work\\a.txt";
    EXPECT_EQ(LastPathComponent(path), path + 8) << "points into the path, no copy";
}

TEST(IsDriveRoot, IsTrueForADriveLetterWithAtMostOneMoreCharacter)
{
    for (const wchar_t* root : {L"C:", L"C:\\", L"d:/"}) EXPECT_TRUE(IsDriveRoot(root)) << root;
    for (const wchar_t* path : {L"C:\\a", L"C:\\work", L"work", L"\\\\server\\share", L""}) {
        EXPECT_FALSE(IsDriveRoot(path)) << path;
    }
}

TEST(IsShareOrVolumeRoot, IsTrueForAShareOrAVolumeWithNothingBelow)
{
    for (const wchar_t* root : {L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\server\\共有\\", L"\\\\server",
                                L"\\\\?\\UNC\\server\\share\\", L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\",
                                L"\\\\?\\C:\\", L"\\\\.\\C:"}) {
        EXPECT_TRUE(IsShareOrVolumeRoot(root)) << root;
    }
    for (const wchar_t* path : {L"\\\\server\\share\\a", L"\\\\?\\UNC\\server\\share\\a", L"\\\\?\\C:\\work",
                                L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\a", L"C:\\", L"C:\\work"}) {
        EXPECT_FALSE(IsShareOrVolumeRoot(path)) << path;
    }
}

TEST(IsFullPath, TakesADriveWithItsRootOrAShare)
{
    for (const wchar_t* full : {L"C:\\", L"z:\\work\\a.txt", L"\\\\server\\share\\a", L"\\\\?\\C:\\a"}) {
        EXPECT_TRUE(IsFullPath(full)) << full;
    }
    for (const wchar_t* relative :
         {L"a.txt", L"work\\a.txt", L"C:a.txt", L"C:", L"\\work\\a.txt", L"1:\\a", L"Ａ:\\a", L"表\\a", L""}) {
        EXPECT_FALSE(IsFullPath(relative)) << relative;
    }
}

TEST(HasRelativeComponent, FindsDotAndDotDotBetweenSeparators)
{
    for (const wchar_t* climbing :
         {L"C:\\work\\..", L"C:\\work\\..\\x", L"C:\\.\\x", L"work/../x", L"..", L".\\a", L"C:\\a\\."}) {
        EXPECT_TRUE(HasRelativeComponent(climbing)) << climbing;
    }
    for (const wchar_t* plain :
         {L"C:\\work\\...", L"C:\\work\\.hidden", L"C:\\a..b\\c", L"C:\\work\\x.", L"C:\\ソ..", L"C:\\work"}) {
        EXPECT_FALSE(HasRelativeComponent(plain)) << plain;
    }
}

// Best fit as Windows has it for code page 932; '_' where it has nothing or gives a character no
// file name may hold.
TEST(NearestName, IsTheBestFitWithUnderscoresAndAlwaysAValidFileName)
{
    const struct {
        const wchar_t* name;
        const char* nearest;
    } cases[] = {
        {L"résumé.txt", "resume.txt"},
        {L"说明书.txt", "_明_.txt"},
        {L"한글.txt", "__.txt"},
        {L"𠮷野家.txt", "_野家.txt"},
        {L"😀", "_"},
        {L"価格¥100 ¦ 税¿.txt", "価格_100 _ 税_.txt"},
        {L"a\xD800z", "a_z"},  // half a surrogate pair
        {L"cön.txt", "_con.txt"},  // a device name, as its best fit has it
        {L"表ソ十.txt", "表ソ十.txt"},
    };
    for (const auto& c : cases) {
        const std::string nearest = NearestName(c.name);
        EXPECT_EQ(nearest, c.nearest) << c.name;
        EXPECT_TRUE(IsValidFileName(nearest.c_str())) << c.name;
    }
}

TEST(ToExactAnsi, HoldsOnlyWhatTheCodePageHoldsWithoutBestFit)
{
    std::string ansi = "untouched";
    for (const wchar_t* changed : {L"résumé", L"¥", L"Müller", L"𠮷", L"한"}) {
        EXPECT_FALSE(ToExactAnsi(changed, ansi)) << changed;
        EXPECT_EQ(ansi, "untouched");
    }
    EXPECT_TRUE(ToExactAnsi(L"山﨑様 ① 表\\ｱ", ansi));
    EXPECT_EQ(ansi, "山﨑様 ① 表\\ｱ");
}

// Exact names are given out first, then in order; the case does not keep names apart.
TEST(DistinctNames, NumbersNamesThatMeetAsWindowsNamesCopies)
{
    const struct {
        std::vector<SiblingName> siblings;
        std::vector<std::string> names;
    } cases[] = {
        {{{"見積書.txt", true, false}, {"見積書.TXT", true, false}, {"見積書.txt", true, false}},
         {"見積書.txt", "見積書 (2).TXT", "見積書 (3).txt"}},
        {{{"resume.txt", false, false}, {"resume.txt", true, false}, {"Resume (2).txt", true, false}},
         {"resume (3).txt", "resume.txt", "Resume (2).txt"}},
        {{{"v1.2", true, true}, {"V1.2", true, true}, {".profile", true, false}, {".PROFILE", true, false}},
         {"v1.2", "V1.2 (2)", ".profile", ".PROFILE (2)"}},
        {{{"a.tar.gz", true, false}, {"a.tar.gz", false, false}, {"b", true, false}, {"b", false, false}},
         {"a.tar.gz", "a.tar (2).gz", "b", "b (2)"}},
    };
    for (const auto& c : cases) EXPECT_EQ(DistinctNames(c.siblings), c.names) << c.names.front();
}

}  // namespace
