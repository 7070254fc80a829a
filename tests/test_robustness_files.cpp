// File lists as any program may put them on the clipboard: malformed, empty, very long, in
// UTF-16, naming roots, relative or climbing paths, missing or overlong ones, duplicates and
// double-byte names. Plain files in the separate mode need no packing.
#include "attach/drop_list.h"
#include "common/texts.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/robustness.h"

#include <commctrl.h>

using namespace rig;
namespace text = dl::text;

namespace {

constexpr int kList = 1024;

std::string Wide(const std::wstring& text) { return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2); }

bool WellFormed(const ClipboardBlock& block) { return dl::IsWellFormedDropList(block.bytes.data(), block.bytes.size()); }

TEST(DropListTest, TheListMustStartAndEndInsideTheBlock)
{
    const std::string ansi("C:\\a.txt\0D:\\b\0\0", 16);
    EXPECT_TRUE(WellFormed(DropBlock(ansi)));
    EXPECT_TRUE(WellFormed(DropBlock(Wide(std::wstring(L"C:\\a.txt\0\0", 10)), sizeof(DROPFILES), true)));
    EXPECT_TRUE(WellFormed(DropBlock(std::string(1, '\0')))) << "no paths at all";
    EXPECT_TRUE(WellFormed(DropBlock("junk" + ansi, sizeof(DROPFILES) + 4))) << "the list may start further on";

    EXPECT_FALSE(dl::IsWellFormedDropList(nullptr, 0));
    EXPECT_FALSE(dl::IsWellFormedDropList(ansi.data(), 4)) << "shorter than the header";
    EXPECT_FALSE(WellFormed(DropBlock(ansi, 0x7FFFFFF0))) << "the list starts beyond the block";
    EXPECT_FALSE(WellFormed(DropBlock(ansi, 4))) << "the list starts inside the header";
    EXPECT_FALSE(WellFormed(DropBlock("C:\\a.txt"))) << "no end";
    EXPECT_FALSE(WellFormed(DropBlock(std::string("C:\\a.txt\0", 9)))) << "no empty path closes it";
    EXPECT_FALSE(WellFormed(DropBlock(std::string("C\0:\0\0", 5), sizeof(DROPFILES), true))) << "half a character";
}

using FilesRobustnessTest = RobustnessTest;

TEST_F(FilesRobustnessTest, MalformedListsFailWithoutReadingBeyondTheBlock)
{
    const std::string file = File("a.txt");
    const std::string list = file + std::string("\0\0", 2);
    for (const ClipboardBlock& block : {DropBlock(list, 0x7FFFFFF0), DropBlock(file), ClipboardBlock{CF_HDROP, "1234"},
                                        DropBlock(list, sizeof(DROPFILES), true)}) {
        ASSERT_TRUE(PutBlocks({block}));
        ExpectNoGrowth([&] {
            RunExpectingMessage(text::kAttachFailed, MB_ICONERROR);
            ExpectHostTemp();
        });
    }
}

TEST_F(FilesRobustnessTest, EmptyListsEndSilently)
{
    for (const std::string& list : {std::string(1, '\0'), std::string(2, '\0')}) {
        ASSERT_TRUE(PutBlocks({DropBlock(list)}));
        Run();
        EXPECT_TRUE(host::Attachments().empty());
        ExpectOnlyBoxes({});
    }
}

TEST_F(FilesRobustnessTest, UnicodeListsAsFileManagersWriteThem)
{
    // A name code page 932 can hold arrives; one it cannot comes back altered and is left out.
    const std::string japanese = File("日本語の名前.txt", "J");
    wchar_t wideFolder[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, work_.c_str(), -1, wideFolder, MAX_PATH);
    const std::wstring korean = std::wstring(wideFolder) + L"한국어.txt";
    const std::wstring representable = std::wstring(wideFolder) + L"日本語の名前.txt";
    HANDLE other = CreateFileW(korean.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);

    ASSERT_TRUE(PutWideFiles({korean, representable}));
    Run();
    EXPECT_EQ(AttachedPaths(), Paths{japanese});
    ExpectOnlyBoxes({});

    ASSERT_TRUE(PutWideFiles({korean}));
    Run();
    EXPECT_TRUE(host::Attachments().empty());
    ExpectOnlyBoxes({});
}

TEST_F(FilesRobustnessTest, AThousandEntriesThroughTheDialog)
{
    WriteDword("DLConfirmFile", 1);
    Paths files;
    for (int i = 0; i < 1000; ++i) files.push_back(File("f" + std::to_string(i) + ".txt", std::to_string(i)));
    ASSERT_TRUE(PutFiles(files));
    LRESULT items = 0;
    Run([&](Robot& r) {
        HWND dialog = r.WaitDialog(kFileCaption, 60000);
        items = r.Send(GetDlgItem(dialog, kList), LVM_GETITEMCOUNT, 0, 0);
        r.Click(dialog, IDOK);
        r.WaitGone(dialog, 60000);
    });
    EXPECT_EQ(items, 1000);
    EXPECT_EQ(AttachedPaths(), files);
    ExpectOnlyBoxes({});
    ExpectHostTemp();
}

// Roots, relative and climbing paths, missing and overlong ones are left out; what is left is
// attached in the list's order, duplicates twice, double-byte names whole.
TEST_F(FilesRobustnessTest, OnlyFullPathsOfExistingFilesAreAttached)
{
    const std::string a = File("a.txt", "A");
    Folder("ソース");
    const std::string dbcs = File("ソース\\表.txt", "表");
    // 259 characters fit the reading buffer; one more does not.
    const std::string longest = File(std::string(MAX_PATH - 1 - work_.size(), 'x'));
    const std::string tooLong = longest + "y";
    // A file of the same name in the current folder: a relative path would name it.
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    const std::string beside = std::string(current) + "\\relative-name.txt";
    ASSERT_TRUE(WriteBytes(beside, "not the user's"));
    const auto before = Snapshot(work_);

    ASSERT_TRUE(PutFiles({"C:\\", "Z:", "C:\\.", work_ + "..", a, work_ + "missing.txt", "relative-name.txt",
                          "C:relative-name.txt", dbcs, longest, tooLong, a}));
    ExpectNoGrowth([&] {
        Run();
        EXPECT_EQ(AttachedPaths(), (Paths{a, dbcs, longest, a}));
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    });
    EXPECT_EQ(Snapshot(work_), before);
    DeleteFileA(beside.c_str());
}

TEST_F(FilesRobustnessTest, DialogShowsDoubleByteNamesWhole)
{
    WriteDword("DLConfirmFile", 1);
    Folder("ソース");
    const Paths files = {File("ソース\\表.txt"), File("能力予定ポ")};
    ASSERT_TRUE(PutFiles(files));
    Paths shown;
    Run(InDialog(kFileCaption, [&](Robot& r, HWND dialog) {
        for (int i = 0; i < 2; ++i) {
            char name[MAX_PATH] = {};
            LVITEMA item{};
            item.iSubItem = 0;
            item.pszText = name;
            item.cchTextMax = MAX_PATH;
            r.Send(GetDlgItem(dialog, kList), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            shown.push_back(name);
        }
    }));
    EXPECT_EQ(shown, (Paths{"表.txt", "能力予定ポ"}));
    EXPECT_EQ(AttachedPaths(), files);
}

}  // namespace
