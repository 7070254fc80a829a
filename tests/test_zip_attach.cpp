// Folders attached through the command as archives, packed by the stand-in for the shell's ZIP
// handler: what the host receives, what is left behind, and the one failure message; with the
// host's UI thread in each apartment and the Shell class of either threading model.
#include "common/texts.h"
#include "common/win.h"
#include "tests/rig/import_hook.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/com_setup.h"
#include "tests/support/source_tree.h"

#include "registration.h"

#include <atomic>

using namespace rig;
namespace text = dl::text;

namespace {

constexpr char kCaption[] = "Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください";
constexpr int kName = 1012;

// The plug-in's clock, `g_pace` times as fast as real time (0: it stands still), so that its bounds
// are crossed, or not, without waiting for them.
std::atomic<ULONGLONG> g_pace{1};
ULONGLONG WINAPI PacedClock()
{
    static const ULONGLONG start = GetTickCount64();
    return start + (GetTickCount64() - start) * g_pace;
}

// The host's thread joins its apartment before the plug-in loads and leaves it after it is gone.
class ZipAttachTest : public PluginTest, public ::testing::WithParamInterface<ComSetUp> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(RegisterZipStandIn(BesideExecutable("zipfolder_standin.dll").c_str()));
    }
    static void TearDownTestSuite() { UnregisterZipStandIn(); }

    void SetUp() override
    {
        ASSERT_TRUE(RegisterZipStandIn(BesideExecutable("zipfolder_standin.dll").c_str(), GetParam().threading));
        PluginTest::SetUp();
        docs_ = work_ + "docs";
        WriteDword("DLConfirmFile", 0);
        ASSERT_TRUE(WriteBytes(work_ + "a.txt", "file a"));
        ASSERT_TRUE(WriteBytes(work_ + "b.txt", "file b"));
        CreateDirectoryA(docs_.c_str(), nullptr);
        tree_ = MakeSourceTree(docs_);
    }

    void TearDown() override
    {
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", nullptr);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", nullptr);
        PluginTest::TearDown();
        UnregisterZipStandIn();
    }

    // Runs the command over the file list; what the host received, all for our window.
    std::vector<host::Attachment> Attach(const std::vector<std::string>& files, const Robot::Script& script = nullptr)
    {
        host::ClearAttachments();
        ClearRecordedBoxes();
        EXPECT_TRUE(PutFiles(files));
        PressCtrlShiftV(script);
        ExpectRobotClean();
        const std::vector<host::Attachment> attachments = host::Attachments();
        for (const host::Attachment& attachment : attachments) EXPECT_EQ(attachment.window, compose_);
        return attachments;
    }

    void PaceClock(ULONGLONG pace)
    {
        g_pace = pace;
        ASSERT_TRUE(ReplaceImport(plugin_, "kernel32.dll", "GetTickCount64", reinterpret_cast<FARPROC>(PacedClock)));
    }

    void ExpectOneFailureMessage(const char* message = text::kAttachFailed)
    {
        const std::vector<RecordedBox> boxes = RecordedBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, compose_);
        EXPECT_EQ(boxes[0].text, message);
        EXPECT_EQ(boxes[0].caption, text::kPluginName);
        EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    }

    bool TreeCanBeWritten() const
    {
        for (const SourceFile& file : tree_.files) {
            const dl::UniqueFile handle(CreateFileA((docs_ + "\\" + file.relativePath).c_str(), GENERIC_WRITE, 0,
                                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!handle) return false;
        }
        return true;
    }

    ApartmentScope apartment_{GetParam().apartment};
    // A hung command cannot be cut short on the host's own thread.
    Watchdog watchdog_{90000, "attaching with " + Describe(GetParam())};
    std::string docs_;
    SourceTree tree_;
};

INSTANTIATE_TEST_SUITE_P(
    ComSetUps, ZipAttachTest,
    ::testing::Values(ComSetUp{ZipStandInThreading::kBoth, Apartment::kNone},
                      ComSetUp{ZipStandInThreading::kBoth, Apartment::kSingleThreaded},
                      ComSetUp{ZipStandInThreading::kBoth, Apartment::kMultithreaded},
                      ComSetUp{ZipStandInThreading::kApartment, Apartment::kNone},
                      ComSetUp{ZipStandInThreading::kApartment, Apartment::kSingleThreaded},
                      ComSetUp{ZipStandInThreading::kApartment, Apartment::kMultithreaded}),
    [](const ::testing::TestParamInfo<ComSetUp>& info) { return Describe(info.param); });

TEST_P(ZipAttachTest, SeparateModeAttachesFilesWhereTheyLieAndTheFolderAsItsArchive)
{
    const auto before = Snapshot(work_);
    const auto attachments = Attach({work_ + "a.txt", docs_, work_ + "b.txt"});

    ASSERT_EQ(attachments.size(), 3u);
    EXPECT_EQ(attachments[0].path, work_ + "a.txt");
    EXPECT_EQ(attachments[1].path, hostTemp_ + "docs.zip");
    EXPECT_EQ(attachments[2].path, work_ + "b.txt");
    ASSERT_TRUE(attachments[1].readable);
    const auto archive = ReadArchive(attachments[1].bytes);
    EXPECT_EQ(archive.names().size(), 1 + tree_.folders.size() + tree_.files.size());
    ExpectTreeInArchive(archive, "docs", tree_);

    EXPECT_TRUE(RecordedBoxes().empty());
    EXPECT_TRUE(List(hostTemp_).empty()) << "neither the archive nor the packing copy is left behind";
    EXPECT_EQ(Snapshot(work_), before);
    EXPECT_TRUE(TreeCanBeWritten());
}

TEST_P(ZipAttachTest, OneArchiveModePacksEverythingUnderTheNameFromTheDialog)
{
    WriteDword("DLConfirmFile", 1);
    WriteDword("DLAttachFileSeparately", 0);
    const auto attachments = Attach({work_ + "a.txt", docs_}, [](Robot& r) {
        HWND dialog = r.WaitDialog(kCaption);
        r.SetText(dialog, kName, "まとめ.zip");
        r.Click(dialog, IDOK);
    });

    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(attachments[0].path, hostTemp_ + "まとめ.zip");
    const auto archive = ReadArchive(attachments[0].bytes);
    ASSERT_FALSE(archive.entries().empty());
    EXPECT_EQ(archive.names()[0], "a.txt");
    EXPECT_EQ(archive.names().size(), 2 + tree_.folders.size() + tree_.files.size());
    ExpectTreeInArchive(archive, "docs", tree_);
    EXPECT_TRUE(List(hostTemp_).empty());
}

TEST_P(ZipAttachTest, FolderWhoseArchiveCannotBeCreatedStopsWithTheFilesBeforeItAttached)
{
    // A host folder that takes no new file: the kernel's process table.
    host::SetTempFolder("Z:\\proc\\");
    const auto attachments = Attach({work_ + "a.txt", docs_, work_ + "b.txt"}, [](Robot& r) { r.DismissMessageBox(); });

    ASSERT_EQ(attachments.size(), 1u);
    EXPECT_EQ(attachments[0].path, work_ + "a.txt");
    ExpectOneFailureMessage();
}

// With the plug-in's clock standing still: none of them may wait for a bound. An archive that
// vanishes once the handler's thread has ended is a failure at once.
TEST_P(ZipAttachTest, HandlerThatFailsAtOnceGivesOneFailureMessageAndReleasesTheFolder)
{
    PaceClock(0);
    const std::pair<const char*, const char*> cases[] = {
        {"nofolder", text::kNoZipFolder}, {"copyfail", text::kAttachFailed}, {"vanish", text::kAttachFailed}};
    for (const auto& [mode, message] : cases) {
        SCOPED_TRACE(mode);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", mode);
        EXPECT_TRUE(Attach({docs_}, [](Robot& r) { r.DismissMessageBox(); }).empty());
        ExpectOneFailureMessage(message);
        EXPECT_TRUE(TreeCanBeWritten());
        EXPECT_TRUE(List(hostTemp_).empty());
    }
}

// Whenever the handler packs: before CopyHere returns, on the caller's thread, on a thread that
// was there before (also after 15 s of silence, by the plug-in's clock), after calling back into
// the caller's apartment, beside idle threads of its own, on a thread started after CopyHere
// returned, with the archive held open by its folder until that is released.
TEST_P(ZipAttachTest, HandlerOfEveryKindHasTheWholeArchiveAttached)
{
    const rig::HandlerRelease release;
    PaceClock(10);
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", "1500");
    for (const char* mode : {"fast", "sync", "pooled", "callback", "twelve", "holdopen", "quiet", "handoff"}) {
        SCOPED_TRACE(mode);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", mode);
        const auto attachments = Attach({docs_});
        ASSERT_EQ(attachments.size(), 1u);
        EXPECT_EQ(attachments[0].path, hostTemp_ + "docs.zip");
        ExpectTreeInArchive(ReadArchive(attachments[0].bytes), "docs", tree_);
        EXPECT_TRUE(RecordedBoxes().empty());
        EXPECT_TRUE(List(hostTemp_).empty());
        EXPECT_TRUE(TreeCanBeWritten());
    }
}

}  // namespace
