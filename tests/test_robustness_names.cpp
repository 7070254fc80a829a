// Names typed into the three confirmation dialogs: as long as the field takes, device names,
// trailing dots and blanks, and double-byte names. A name is refused in the dialog, used, or
// ends in the failure message; nothing of ours stays behind.
#include "common/texts.h"
#include "tests/support/robustness.h"

using namespace rig;
namespace text = dl::text;

namespace {

// One confirmation dialog and how to fill the clipboard for it.
struct Dialog {
    const char* caption;
    std::function<bool()> put;
};

class NamesRobustnessTest : public RobustnessTest {
protected:
    void SetUp() override
    {
        RobustnessTest::SetUp();
        SetConfirmations(1);
        WriteDword("DLAttachFileSeparately", 0);
        file_ = File("a.txt", "A");
        dialogs_ = {
            {kTextCaption, [] { return PutText("text"); }},
            {kImageCaption, [] { return PutBitmap(MakePatternBitmap(4, 4)); }},
            {kFileCaption, [this] { return PutFiles({file_}); }},
        };
    }

    // Types the name and presses OK: the file is attached under it, or the failure message is
    // shown and nothing attached. Nothing of ours stays in the host's folder either way.
    void ExpectNamed(const Dialog& dialog, const std::string& name, bool attached)
    {
        ASSERT_TRUE(dialog.put());
        Run([&](Robot& r) {
            NameInDialog(dialog.caption, name)(r);
            if (!attached) r.DismissMessageBox();
        });
        ExpectHostTemp();
        if (attached) {
            ExpectOnlyBoxes({});
            EXPECT_EQ(AttachedPaths(), Paths{hostTemp_ + name});
            EXPECT_FALSE(AttachedBytes().empty());
        } else {
            ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
            EXPECT_TRUE(host::Attachments().empty());
        }
    }

    std::string file_;
    std::vector<Dialog> dialogs_;
};

TEST_F(NamesRobustnessTest, UnusableNamesAreRefusedInEachDialog)
{
    for (const Dialog& dialog : dialogs_) {
        SCOPED_TRACE(dialog.caption);
        ASSERT_TRUE(dialog.put());
        std::vector<std::string> shown;
        HWND window = nullptr;
        Run(InDialog(dialog.caption, [&](Robot& r, HWND d) {
            window = d;
            for (const char* name : {"con", "NUL.txt", "com1.png", "LPT9.zip", "aux .zip", "prn.", "memo.zip.",
                                     "memo.zip ", ".", "..", "   "}) {
                r.SetText(d, kNameField, name);
                r.Click(d, IDOK);
                shown.push_back(r.DismissMessageBox());
                EXPECT_TRUE(IsWindowVisible(d)) << name;
            }
        }, IDCANCEL));
        EXPECT_EQ(shown, std::vector<std::string>(11, text::kInvalidFileName));
        EXPECT_EQ(RecordedBoxes().size(), 11u);
        EXPECT_EQ(RecordedBoxes().front().owner, window);
        EXPECT_TRUE(host::Attachments().empty());
        ExpectHostTemp();
    }
}

TEST_F(NamesRobustnessTest, DoubleByteNamesAreUsedAsTyped)
{
    const char* names[] = {"表.txt", "ソース予定.png", "能力ポ－ト.zip"};
    for (size_t i = 0; i < dialogs_.size(); ++i) {
        SCOPED_TRACE(dialogs_[i].caption);
        ExpectNamed(dialogs_[i], names[i], true);
    }
}

TEST_F(NamesRobustnessTest, DoubleByteNamesLongerThanTheBufferAreRefused)
{
    // The field takes 259 characters, the name's buffer 259 bytes: 259 double-byte characters
    // would come back cut in the middle of one. 129 of them fit.
    std::string tooLong, fits;
    for (int i = 0; i < 259; ++i) tooLong += "表";
    for (int i = 0; i < 129; ++i) fits += "表";
    for (const Dialog& dialog : dialogs_) {
        SCOPED_TRACE(dialog.caption);
        ASSERT_TRUE(dialog.put());
        std::string shown;
        Run(InDialog(dialog.caption, [&](Robot& r, HWND d) {
            HWND field = GetDlgItem(d, kNameField);
            r.Send(field, EM_SETSEL, 0, -1);
            r.Send(field, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(tooLong.c_str()));
            r.Click(d, IDOK);
            shown = r.DismissMessageBox();
            EXPECT_TRUE(IsWindowVisible(d));
        }, IDCANCEL));
        EXPECT_EQ(shown, text::kInvalidFileName);
        EXPECT_TRUE(host::Attachments().empty());
        ExpectHostTemp();
    }
    ExpectNamed(dialogs_.front(), fits, true);
}

TEST_F(NamesRobustnessTest, NamesTooLongForTheFolderFail)
{
    // The field takes 259 characters; with the host's folder before it, no such path exists.
    for (const Dialog& dialog : dialogs_) {
        SCOPED_TRACE(dialog.caption);
        ExpectNoGrowth([&] { ExpectNamed(dialog, std::string(259, 'n'), false); });
    }
}

// The one archive is used under the name as typed, with no extension added. The shell's handler
// opens an archive by its extension, so a name without ".zip" ends in the failure message, and
// nothing of the packing stays.
TEST_F(NamesRobustnessTest, OneArchiveNamedWithoutZipCannotBeOpenedByTheHandler)
{
    ExpectNamed(dialogs_.back(), "memo", false);
}

}  // namespace
