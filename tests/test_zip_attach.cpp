// Folders attached through the command as archives, packed by the stand-in for the shell's ZIP
// handler: what the host receives, what is left behind, and the one failure message; with the
// host's UI thread in each apartment and the Shell class of either threading model.
#include "common/texts.h"
#include "common/win.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/com_setup.h"
#include "tests/support/source_tree.h"

#include "registration.h"

using namespace rig;
namespace text = dl::text;

namespace {

constexpr char kCaption[] = "Orvel!ドロップラインプラグイン - 添付するファイル・フォルダを確認してください";
constexpr int kName = 1012;

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

    void ExpectOneFailureMessage()
    {
        const std::vector<RecordedBox> boxes = RecordedBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, compose_);
        EXPECT_EQ(boxes[0].text, text::kAttachFailed);
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

TEST_P(ZipAttachTest, HandlerThatFailsAtOnceGivesOneFailureMessageAndReleasesTheFolder)
{
    for (const char* mode : {"nofolder", "copyfail"}) {
        SCOPED_TRACE(mode);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", mode);
        EXPECT_TRUE(Attach({docs_}, [](Robot& r) { r.DismissMessageBox(); }).empty());
        ExpectOneFailureMessage();
        EXPECT_TRUE(TreeCanBeWritten());
    }
}

// Whenever the handler packs: before CopyHere returns, on the caller's thread, on a thread that
// was there before, after calling back into the caller's apartment, beside idle threads of its own.
TEST_P(ZipAttachTest, HandlerOfEveryKindHasTheWholeArchiveAttached)
{
    const rig::HandlerRelease release;
    for (const char* mode : {"fast", "sync", "pooled", "callback", "twelve"}) {
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
