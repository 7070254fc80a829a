// File lists as any program may put them on the clipboard: malformed, empty, very long, in
// UTF-16, naming roots, relative or climbing paths, missing or overlong ones, duplicates and
// double-byte names. Plain files in the separate mode need no packing.
#include "attach/drop_list.h"
#include "common/texts.h"
#include "common/win.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/robustness.h"
#include "tests/support/source_tree.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

using namespace rig;
namespace text = dl::text;

namespace {

constexpr int kShowPaths = 1011, kList = 1024;

std::string Utf16Bytes(const std::wstring& text) { return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2); }

bool WellFormed(const ClipboardBlock& block) { return dl::IsWellFormedDropList(block.bytes.data(), block.bytes.size()); }

TEST(DropListTest, TheListMustStartAndEndInsideTheBlock)
{
    const std::string ansi("C:\\a.txt\0D:\\b\0\0", 16);
    EXPECT_TRUE(WellFormed(DropBlock(ansi)));
    EXPECT_TRUE(WellFormed(DropBlock(Utf16Bytes(std::wstring(L"C:\\a.txt\0\0", 10)), sizeof(DROPFILES), true)));
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

// Names beyond code page 932, as file managers put them on the clipboard (in UTF-16), and the
// names they are attached under: alone (separately), and among the others in one folder or one
// archive, where résumé.txt meets the resume.txt beside it. Best fit alone would have attached
// resume.txt for résumé.txt, and left out the rest.
struct NameCase {
    const wchar_t* name;
    const char* alone;
    const char* amongOthers;
};
const NameCase kNames[] = {
    {L"resume.txt", "resume.txt", "resume.txt"},
    {L"résumé.txt", "resume.txt", "resume (2).txt"},
    {L"说明书.txt", "_明_.txt", "_明_.txt"},
    {L"한글.txt", "__.txt", "__.txt"},
    {L"😀.txt", "_.txt", "_.txt"},
    {L"𠮷野家.txt", "_野家.txt", "_野家.txt"},
    {L"価格¥100.txt", "価格_100.txt", "価格_100.txt"},  // best fit gives a backslash
};

using Contents = std::vector<std::pair<std::string, std::string>>;

// Every entry of the archive with its bytes, sorted by name.
Contents ArchiveContents(const std::string& archiveBytes)
{
    const dropline::test::ZipReader archive = ReadArchive(archiveBytes);
    Contents contents;
    for (const dropline::test::ZipEntry& entry : archive.entries()) {
        std::string bytes, error;
        if (!entry.isFolder()) {
            EXPECT_TRUE(archive.Extract(entry, &bytes, &error)) << entry.name << error;
        }
        contents.emplace_back(entry.name, bytes);
    }
    std::sort(contents.begin(), contents.end());
    return contents;
}

TEST_F(FilesRobustnessTest, NamesBeyondTheCodePageAreAttachedWithTheirOwnBytes)
{
    // Each file by itself in the user's folder, and all of them in 资料 (whose own name is beyond
    // the code page too) with one more below.
    const std::wstring work = Wide(work_), folder = work + L"资料";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    const std::wstring below = folder + L"\\sub\\😀.txt";
    ASSERT_TRUE(WriteBytes(below, "below"));
    std::vector<std::wstring> files;
    Contents inFolder{{"_料/", ""}, {"_料/sub/", ""}, {"_料/sub/_.txt", "below"}}, atTop;
    for (const NameCase& c : kNames) {
        const std::string bytes = "file " + std::to_string(files.size());
        files.push_back(work + c.name);
        ASSERT_TRUE(WriteBytes(files.back(), bytes));
        ASSERT_TRUE(WriteBytes(folder + L"\\" + c.name, bytes));
        inFolder.emplace_back(std::string("_料/") + c.amongOthers, bytes);
        atTop.emplace_back(c.amongOthers, bytes);
    }
    // Two files of one name from different folders: one archive cannot hold both under it.
    Folder("別の課");
    const Paths quotes = {File("見積書.txt", "quote 1"), File("別の課\\見積書.TXT", "quote 2")};
    std::vector<std::wstring> list = files;
    list.push_back(folder);
    for (const std::string& quote : quotes) list.push_back(Wide(quote));
    const auto before = Snapshot(work_);

    // Separately: a file whose path the code page holds goes from where it lies, any other as a
    // copy under its nearest name; the folder as an archive named after its nearest name.
    ASSERT_TRUE(PutWideFiles(list));
    Run();
    const std::vector<host::Attachment> attachments = host::Attachments();
    ASSERT_EQ(attachments.size(), std::size(kNames) + 3);
    for (size_t i = 0; i < std::size(kNames); ++i) {
        const bool exact = i == 0;
        EXPECT_EQ(attachments[i].path, (exact ? work_ : hostTemp_) + kNames[i].alone);
        EXPECT_EQ(attachments[i].bytes, atTop[i].second) << kNames[i].alone;
    }
    EXPECT_EQ(attachments[std::size(kNames)].path, hostTemp_ + "_料.zip");
    Contents sorted = inFolder;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(ArchiveContents(attachments[std::size(kNames)].bytes), sorted);
    EXPECT_EQ(attachments.back().path, quotes.back());
    ExpectOnlyBoxes({});
    ExpectHostTemp();

    // One archive: the names among each other at its top, the folder and the two quotes as well.
    WriteDword("DLAttachFileSeparately", 0);
    ASSERT_TRUE(PutWideFiles(list));
    Run();
    Contents all = inFolder;
    all.insert(all.end(), atTop.begin(), atTop.end());
    all.insert(all.end(), {{"見積書.txt", "quote 1"}, {"見積書 (2).TXT", "quote 2"}});
    std::sort(all.begin(), all.end());
    EXPECT_EQ(AttachedPaths(), Paths{hostTemp_ + "Files1.zip"});
    EXPECT_EQ(ArchiveContents(AttachedBytes()), all);
    ExpectOnlyBoxes({});
    ExpectHostTemp();
    EXPECT_EQ(Snapshot(work_), before);

    // A copy that cannot be made (the file is open for writing elsewhere) ends in the one message,
    // with the files before it attached and no copy left behind.
    WriteDword("DLAttachFileSeparately", 1);
    const dl::UniqueFile writer(
        CreateFileW(files[2].c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    ASSERT_TRUE(PutWideFiles({files[0], files[1], files[2], files[3]}));
    Run(DismissBox);
    EXPECT_EQ(AttachedPaths(), (Paths{work_ + "resume.txt", hostTemp_ + "resume.txt"}));
    ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
    ExpectHostTemp();
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
    // 259 characters are the most a path of the ANSI functions holds; one more names nothing here.
    const std::string longest = File(std::string(MAX_PATH - 1 - work_.size(), 'x'));
    const std::string tooLong = longest + "y";
    // Deep folders of Japanese names pass 260 bytes long before 260 characters: this path has 286
    // bytes and 166 characters when the user's folder has 30, and the ANSI functions open it.
    const std::string level = "営業部の共有資料です営業部の共有資料です営業部の共有資料です営業部の共有資料です";
    const std::string folders = level + "\\" + level + "\\" + level;
    Folder(level);
    Folder(level + "\\" + level);
    Folder(folders);
    const size_t filler = work_.size() < 39 ? 39 - work_.size() : 1;
    const std::string deep = File(folders + "\\" + std::string(filler, 'd') + ".txt", "deep");
    ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
    // A file of the same name in the current folder: a relative path would name it.
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, current);
    const std::string beside = std::string(current) + "\\relative-name.txt";
    ASSERT_TRUE(WriteBytes(beside, "not the user's"));
    const auto before = Snapshot(work_);

    ASSERT_TRUE(PutFiles({"C:\\", "Z:", "C:\\.", work_ + "..", a, work_ + "missing.txt", "relative-name.txt",
                          "C:relative-name.txt", dbcs, longest, tooLong, deep, a}));
    ExpectNoGrowth([&] {
        Run();
        EXPECT_EQ(AttachedPaths(), (Paths{a, dbcs, longest, deep, a}));
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    });
    EXPECT_EQ(Snapshot(work_), before);
    DeleteFileA(beside.c_str());
}

// Each entry under the name it goes in as (in one archive, names that meet numbered, a name beyond
// the code page as its nearest), double-byte names whole, and each path as far as the list shows it.
TEST_F(FilesRobustnessTest, DialogListsEntriesUnderTheNamesTheyGoInAs)
{
    WriteDword("DLConfirmFile", 1);
    WriteDword("DLAttachFileSeparately", 0);
    Folder("ソース");
    const Paths files = {File("ソース\\表.txt", "1"), File("能力予定ポ", "2"), File("表.txt", "3")};
    std::vector<std::wstring> list;
    for (const std::string& file : files) list.push_back(Wide(file));
    list.push_back(Wide(work_) + L"résumé.txt");
    ASSERT_TRUE(WriteBytes(list.back(), "4"));
    ASSERT_TRUE(PutWideFiles(list));
    const auto texts = [](Robot& r, HWND dialog) {
        Paths shown;
        for (int i = 0; i < 4; ++i) {
            char text[MAX_PATH] = {};
            LVITEMA item{};
            item.pszText = text;
            item.cchTextMax = MAX_PATH;
            r.Send(GetDlgItem(dialog, kList), LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
            shown.push_back(text);
        }
        return shown;
    };
    Paths names, paths;
    Run(InDialog(kFileCaption, [&](Robot& r, HWND dialog) {
        names = texts(r, dialog);
        r.Click(dialog, kShowPaths);
        paths = texts(r, dialog);
    }));
    EXPECT_EQ(names, (Paths{"表.txt", "能力予定ポ", "表 (2).txt", "resume.txt"}));
    EXPECT_EQ(paths, (Paths{files[0], files[1], files[2], work_ + "resume.txt"}));
    Contents expected{{"表.txt", "1"}, {"能力予定ポ", "2"}, {"表 (2).txt", "3"}, {"resume.txt", "4"}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ArchiveContents(AttachedBytes()), expected);
}

}  // namespace
