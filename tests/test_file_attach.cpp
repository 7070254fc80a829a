// Files and folders copied in a file manager, attached through the command, and their
// confirmation dialog.
#include "common/texts.h"
#include "common/win.h"
#include "tests/rig/plugin_fixture.h"

#include <commctrl.h>

using namespace rig;
namespace text = dl::text;

namespace {

constexpr char kCaption[] = "Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください";
constexpr int kShowPaths = 1011, kName = 1012, kList = 1024, kNote = 1026, kNameLabel = 1027;
constexpr LONG kReportStyle = 0x50000001, kIconStyle = 0x50000800;
constexpr LRESULT kSpacing80x80 = 0x500050;

using Paths = std::vector<std::string>;

void ExpectBoxes(HWND owner, const char* text, UINT icon, size_t count = 1)
{
    const auto boxes = RecordedBoxes();
    ASSERT_EQ(boxes.size(), count);
    for (const RecordedBox& box : boxes) {
        EXPECT_EQ(box.owner, owner);
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, text::kPluginName);
        EXPECT_EQ(box.type, MB_OK | icon);
    }
}

DWORD ConfirmFileSetting()
{
    DWORD value = 0xDEAD;
    ReadDword("DLConfirmFile", value);
    return value;
}

// What the list view shows, read from the robot's thread.
Paths ItemTexts(Robot& r, HWND dialog)
{
    HWND list = GetDlgItem(dialog, kList);
    Paths texts;
    const auto count = static_cast<int>(r.Send(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char buffer[MAX_PATH] = {};
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = i;
        item.pszText = buffer;
        item.cchTextMax = MAX_PATH;
        r.Send(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(item.iImage, i) << "item " << i << " shows its own icon";
        texts.push_back(buffer);
    }
    return texts;
}

void ExpectIconList(Robot& r, HWND dialog, int which, int size, int count)
{
    const auto list = reinterpret_cast<HIMAGELIST>(r.Send(GetDlgItem(dialog, kList), LVM_GETIMAGELIST, which, 0));
    ASSERT_NE(list, nullptr);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(list, &cx, &cy);
    EXPECT_EQ(cx, size);
    EXPECT_EQ(cy, size);
    EXPECT_EQ(ImageList_GetImageCount(list), count);
}

class FileAttachTest : public PluginTest {
protected:
    std::string File(const std::string& name, const std::string& bytes = "data")
    {
        const std::string path = work_ + name;
        EXPECT_TRUE(WriteBytes(path, bytes));
        return path;
    }
    std::string Folder(const std::string& name)
    {
        const std::string path = work_ + name;
        EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
        return path;
    }

    // Runs the command over this file list; the paths the host received, all for our window.
    Paths Attach(const Paths& files, const Robot::Script& script = nullptr)
    {
        host::ClearAttachments();
        ClearRecordedBoxes();
        EXPECT_TRUE(PutFiles(files));
        PressCtrlShiftV(script);
        ExpectRobotClean();
        Paths paths;
        for (const host::Attachment& attachment : host::Attachments()) {
            EXPECT_EQ(attachment.window, compose_);
            paths.push_back(attachment.path);
        }
        return paths;
    }

    // Opens dialog 107 over the files, runs `script` on it and then presses `ending`.
    Paths AttachThroughDialog(const Paths& files, const std::function<void(Robot&, HWND)>& script, int ending = IDOK)
    {
        return Attach(files, [&](Robot& r) {
            HWND dialog = r.WaitDialog(kCaption);
            script(r, dialog);
            r.Click(dialog, ending);
        });
    }
};

TEST_F(FileAttachTest, FilesGoFromWhereTheyLieInOrderAndUnusablePathsAreLeftOut)
{
    WriteDword("DLConfirmFile", 0);
    const std::string a = File("a.txt", "A"), b = File("b.txt", "B");
    Folder("sub");
    // DragQueryFileA cuts a long path to 259 characters: that shorter path names another file.
    const std::string longPath = work_ + std::string(300 - work_.size(), 'x');
    File(longPath.substr(work_.size(), MAX_PATH - 1 - work_.size()), "cut");
    const auto before = Snapshot(work_);

    const Paths attached =
        Attach({a, "C:\\", work_ + "missing.txt", b, a, work_ + "sub\\..\\a.txt", work_ + "sub\\.", longPath});

    EXPECT_EQ(attached, (Paths{a, b, a}));
    const auto attachments = host::Attachments();
    ASSERT_EQ(attachments.size(), 3u);
    EXPECT_EQ(attachments[0].bytes, "A");
    EXPECT_EQ(attachments[1].bytes, "B");
    EXPECT_TRUE(RecordedBoxes().empty());
    EXPECT_TRUE(List(hostTemp_).empty()) << "plain files need no staging";
    EXPECT_EQ(Snapshot(work_), before);
}

TEST_F(FileAttachTest, NothingUsableEndsSilentlyWithoutTheDialog)
{
    EXPECT_TRUE(Attach({"C:\\", work_ + "missing.txt", work_ + ".."}).empty());
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(FileAttachTest, DialogListsNamesWithIconsAndSwitchesToFullPathsAndBack)
{
    const Paths files = {File("a.txt"), Folder("docs"), File("表示.txt")};
    const Paths names = {"a.txt", "docs", "表示.txt"};
    const Paths attached = AttachThroughDialog(
        files,
        [&](Robot& r, HWND dialog) {
            HWND list = GetDlgItem(dialog, kList);
            EXPECT_EQ(ItemTexts(r, dialog), names);
            ExpectIconList(r, dialog, LVSIL_NORMAL, 32, 3);
            ExpectIconList(r, dialog, LVSIL_SMALL, 16, 3);
            EXPECT_EQ(r.Send(list, LVM_GETITEMSPACING, FALSE, 0), kSpacing80x80);
            EXPECT_EQ(r.Text(dialog, kNote), text::kNoteFoldersZipped);
            EXPECT_FALSE(r.IsVisible(dialog, kName));
            EXPECT_FALSE(r.IsVisible(dialog, kNameLabel));

            r.Click(dialog, kShowPaths);
            EXPECT_EQ(r.Style(dialog, kList), kReportStyle);
            EXPECT_EQ(ItemTexts(r, dialog), files);
            char header[32] = {};
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH;
            column.pszText = header;
            column.cchTextMax = sizeof(header);
            r.Send(list, LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
            EXPECT_STREQ(header, text::kListColumnName);
            EXPECT_EQ(column.cx, 450);

            r.Click(dialog, kShowPaths);
            EXPECT_EQ(r.Style(dialog, kList), kIconStyle);
            EXPECT_EQ(ItemTexts(r, dialog), names);
            EXPECT_EQ(r.Send(list, LVM_GETITEMSPACING, FALSE, 0), kSpacing80x80);
        },
        IDCANCEL);
    EXPECT_TRUE(attached.empty());
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(FileAttachTest, AnyNonzeroModeAttachesSeparately)
{
    WriteDword("DLAttachFileSeparately", 2);
    const Paths files = {File("a.txt"), File("b.txt")};
    EXPECT_EQ(AttachThroughDialog(files, [](Robot& r, HWND d) { EXPECT_FALSE(r.IsVisible(d, kName)); }), files);
    EXPECT_EQ(ConfirmFileSetting(), 1u);
}

TEST_F(FileAttachTest, OneArchiveModeOffersTheArchiveNameAndRefusesABadOne)
{
    WriteDword("DLAttachFileSeparately", 0);
    HWND dialog = nullptr;
    const Paths attached = AttachThroughDialog(
        {File("a.txt")},
        [&](Robot& r, HWND d) {
            dialog = d;
            EXPECT_EQ(r.Text(d, kNote), text::kNoteAllInOneArchive);
            EXPECT_TRUE(r.IsVisible(d, kName));
            EXPECT_TRUE(r.IsVisible(d, kNameLabel));
            EXPECT_EQ(r.Text(d, kName), "Files1.zip");
            r.SetText(d, kName, "a/b.zip");
            r.Click(d, IDOK);
            EXPECT_EQ(r.DismissMessageBox(), text::kInvalidFileName);
            EXPECT_TRUE(IsWindowVisible(d)) << "the dialog stays open";
        },
        IDCANCEL);
    EXPECT_TRUE(attached.empty());
    EXPECT_EQ(ConfirmFileSetting(), 1u);
    ExpectBoxes(dialog, text::kInvalidFileName, MB_ICONINFORMATION);
}

TEST_F(FileAttachTest, EntriesDeletedWhileTheDialogIsOpenAreLeftOut)
{
    const std::string a = File("a.txt"), b = File("b.txt"), c = File("c.txt");
    WriteRaw("DLConfirmFile", REG_SZ, std::string("1\0", 2));
    EXPECT_EQ(AttachThroughDialog({a, b, c}, [&](Robot&, HWND) { DeleteFileA(b.c_str()); }), (Paths{a, c}));
    EXPECT_EQ(ConfirmFileSetting(), 1u) << "OK with the box clear stores 1";

    // With every entry gone there is nothing to attach, not even an empty archive.
    WriteDword("DLAttachFileSeparately", 0);
    EXPECT_TRUE(AttachThroughDialog({a}, [&](Robot&, HWND) { DeleteFileA(a.c_str()); }).empty());
    EXPECT_TRUE(RecordedBoxes().empty());
    EXPECT_TRUE(List(hostTemp_).empty());
}

TEST_F(FileAttachTest, FailedPackingShowsOneFailureAndStopsThere)
{
    WriteDword("DLConfirmFile", 0);
    const std::string a = File("a.txt"), docs = Folder("docs"), b = File("b.txt");
    const std::string busy = File("docs\\busy.txt");
    const auto before = Snapshot(work_);
    {
        // Held open for writing by another program: the packing cannot read it.
        const dl::UniqueFile lock(
            CreateFileA(busy.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(lock);

        const auto dismiss = [](Robot& r) { r.DismissMessageBox(); };
        EXPECT_EQ(Attach({a, docs, b}, dismiss), Paths{a}) << "files before the folder stay attached";
        ExpectBoxes(compose_, text::kAttachFailed, MB_ICONERROR);

        WriteDword("DLAttachFileSeparately", 0);
        EXPECT_TRUE(Attach({busy, a}, dismiss).empty());  // the held file first: no handler is registered here
        ExpectBoxes(compose_, text::kAttachFailed, MB_ICONERROR);
    }
    EXPECT_EQ(Snapshot(work_), before);
}

}  // namespace
