// The attach command: which path the clipboard's formats choose, what the user is told when
// nothing fits or a path fails, and the file-name test the confirmation dialogs share.
#include "names/file_name.h"
#include "common/texts.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/attach_checks.h"

#include <algorithm>

using namespace rig;
using dl::IsValidFileName;

namespace {

constexpr char kTextDialogCaption[] = "Orvel!ドロップラインプラグイン - 添付するテキストを確認してください";

TEST(FileNameTest, RefusesNullEmptyAndEachOfTheNineCharactersAnywhere)
{
    EXPECT_FALSE(IsValidFileName(nullptr));
    EXPECT_FALSE(IsValidFileName(""));
    for (const char refused : std::string("\\/:*?\"<>|")) {
        for (const std::string& name : {std::string(1, refused) + "a.txt", "a" + std::string(1, refused) + "b.txt",
                                        "a.txt" + std::string(1, refused)}) {
            EXPECT_FALSE(IsValidFileName(name.c_str())) << name;
        }
    }
}

TEST(FileNameTest, DoubleByteCharactersAreWhole)
{
    // Trail bytes 0x5C (表 ソ 能 予 十 申) and 0x7C (ポ －) are no separators.
    for (const char* name : {"表.png", "ソース.txt", "能力.txt", "予定表", "十申", "ポ－ト.log"}) {
        EXPECT_TRUE(IsValidFileName(name)) << name;
    }
    // A real separator after a double-byte character still counts.
    for (const char* name : {"表\\.png", "ソ/ース.txt", "ポ|.txt", "表:"}) EXPECT_FALSE(IsValidFileName(name)) << name;
}

TEST(FileNameTest, RefusesNamesThatWindowsMapsToADevice)
{
    for (const char* name : {"con", "CON", "Prn", "aux", "nul", "com1", "COM9", "lpt1", "LPT9", "Lpt1.log", "con.",
                             "con...", "nul ", "con .txt", "aux. .txt", "com3.tar.gz"}) {
        EXPECT_FALSE(IsValidFileName(name)) << name;
    }
    for (const char* name : {"con1", "console.txt", "com0", "com10", "lpt", "xnul", " con", "nul_.txt", "icon.png"}) {
        EXPECT_TRUE(IsValidFileName(name)) << name;
    }
}

TEST(FileNameTest, NoOtherRule)
{
    for (const std::string& name : {std::string(" leading blank.txt"), std::string("ends with a dot."),
                                    std::string(259, 'x'), std::string("no extension"), std::string("a.b.c")}) {
        EXPECT_TRUE(IsValidFileName(name.c_str())) << name;
    }
}

class AttachCommandTest : public PluginTest {
protected:
    // Only formats that no path takes.
    bool PutOtherFormatsOnly()
    {
        if (!OpenClipboard(main_)) return false;
        EmptyClipboard();
        const UINT custom = RegisterClipboardFormatA("Dropline test format");
        bool ok = true;
        for (const UINT format : {custom, static_cast<UINT>(CF_LOCALE)}) {
            HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
            ok = ok && block && SetClipboardData(format, block);
        }
        CloseClipboard();
        return ok;
    }

    // Runs the command, answers the one message box it must show, and checks that box.
    void RunExpectingOnly(const char* text, UINT icon)
    {
        ClearRecordedBoxes();
        PressCtrlShiftV([](Robot& r) { r.DismissMessageBox(); });
        ExpectRobotClean();
        ExpectOnlyBoxes({{compose_, text, icon}});
        EXPECT_TRUE(host::Attachments().empty());
    }

    bool TextDialogOpened() const
    {
        const auto& seen = robot_.unexpected();
        return std::any_of(seen.begin(), seen.end(),
                           [](const std::string& window) { return window.rfind(kTextDialogCaption, 0) == 0; });
    }

    bool TextAttached() const
    {
        for (const host::Attachment& attachment : host::Attachments()) {
            if (attachment.path == hostTemp_ + "Text1.txt") return true;
        }
        return false;
    }
};

TEST_F(AttachCommandTest, NothingAttachableGivesTheInformationMessage)
{
    const std::function<bool()> clipboards[] = {[] { return ClearClipboard(); },
                                                 [this] { return PutOtherFormatsOnly(); }};
    for (const auto& put : clipboards) {
        ASSERT_TRUE(put());
        RunExpectingOnly(dl::text::kNothingToAttach, MB_ICONINFORMATION);
    }
}

TEST_F(AttachCommandTest, TextThatTheSystemMakesFromUnicodeTextCounts)
{
    WriteDword("DLConfirmText", 0);
    ASSERT_TRUE(PutUnicodeText(L"ユニコードのテキスト"));
    PressCtrlShiftV();
    ExpectRobotClean();
    ExpectOnlyAttachment(compose_, hostTemp_, "Text1.txt", "ユニコードのテキスト");
    ExpectOnlyBoxes({});
}

TEST_F(AttachCommandTest, ComposeMenuItemRunsTheSameCommand)
{
    WriteDword("DLConfirmText", 0);
    ASSERT_TRUE(PutText("from the menu"));
    const auto commands = host::Commands();
    const auto attach = std::find_if(commands.begin(), commands.end(),
                                     [](const host::Command& c) { return c.target == dl::kMenuTypeCompose; });
    ASSERT_NE(attach, commands.end());
    robot_.Run([&] { host::RunCommand(compose_, attach->id); }, nullptr);
    ExpectRobotClean();
    ExpectOnlyAttachment(compose_, hostTemp_, "Text1.txt", "from the menu");
}

TEST_F(AttachCommandTest, ImageAndFileListWinOverText)
{
    // The text dialog would show if text were chosen; the other paths are told to attach quietly.
    WriteDword("DLConfirmImage", 0);
    WriteDword("DLConfirmFile", 0);
    ASSERT_TRUE(WriteBytes(work_ + "list.txt", "a file"));
    const std::function<bool()> clipboards[] = {
        [] { return PutTextAndBitmap("text", MakePatternBitmap(8, 8)); },
        [this] { return PutTextAndFiles("text", {work_ + "list.txt"}); },
    };
    for (const auto& put : clipboards) {
        host::ClearAttachments();
        ASSERT_TRUE(put());
        PressCtrlShiftV();
        EXPECT_FALSE(TextDialogOpened());
        EXPECT_FALSE(TextAttached());
    }
}

TEST_F(AttachCommandTest, FailuresAndExceptionsEndInExactlyOneMessage)
{
    WriteDword("DLConfirmText", 0);
    ASSERT_TRUE(PutText("abc"));

    // The staging file cannot be created: the host's folder is gone.
    DeleteTree(hostTemp_);
    RunExpectingOnly(dl::text::kAttachFailed, MB_ICONERROR);

    // Memory runs out after the dialog: the exception leaves nothing of the plug-in's behind.
    // Counted from here only: the runtime keeps per-thread state from its first exception on.
    host::SetTempFolder(hostTemp_);
    WriteDword("DLConfirmText", 1);
    ASSERT_TRUE(InstallAllocationFaults(plugin_));
    ClearRecordedBoxes();
    StartCountingAllocations();
    PressCtrlShiftV([](Robot& r) {
        HWND dialog = r.WaitDialog(kTextDialogCaption);
        FailNextAllocation();
        r.Click(dialog, IDOK);
        r.DismissMessageBox();
    });
    ExpectRobotClean();
    ExpectOnlyBoxes({{compose_, dl::text::kAttachFailed, MB_ICONERROR}});
    EXPECT_EQ(LiveAllocations(), 0u);
    EXPECT_TRUE(host::Attachments().empty());
    EXPECT_TRUE(List(hostTemp_).empty());
}

}  // namespace
