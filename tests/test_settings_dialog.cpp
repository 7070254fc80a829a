// The settings dialog, opened from the host's set-up request and from the Tools menu item.
#include "tests/rig/plugin_fixture.h"

#include <map>

using namespace rig;

namespace {

constexpr char kCaption[] = "ドロップラインの設定";
constexpr int kImage = 1028, kText = 1029, kFile = 1030, kSeparately = 1025, kOneArchive = 1026;
const char* const kNames[] = {"DLConfirmImage", "DLConfirmText", "DLConfirmFile", "DLAttachFileSeparately"};

// The names of the ticked boxes and the chosen mode, in the dialog's order.
using Shown = std::string;

Shown ReadDialog(Robot& r, HWND dialog)
{
    Shown shown;
    for (const auto& [id, name] : {std::pair<int, const char*>{kImage, "image "}, {kText, "text "}, {kFile, "file "},
                                   {kSeparately, "separately"}, {kOneArchive, "one archive"}}) {
        if (r.IsChecked(dialog, id)) shown += name;
    }
    return shown;
}

std::map<std::string, DWORD> Values()
{
    std::map<std::string, DWORD> values;
    for (const char* name : kNames) {
        DWORD value = 0xDEAD;
        ReadDword(name, value);
        values[name] = value;
    }
    return values;
}

class SettingsDialogTest : public PluginTest {
protected:
    // Opens the dialog through the host's set-up request and runs the script on it.
    int OpenBySetup(const std::function<void(Robot&, HWND)>& script)
    {
        int result = -1;
        robot_.Run([&] { result = host::Plugin().OnPlugInSetup(main_); },
                   [&](Robot& r) { script(r, r.WaitDialog(kCaption)); });
        ExpectRobotClean();
        return result;
    }
};

// Any nonzero mode shows as separately, and OK stores all four as 1.
TEST_F(SettingsDialogTest, ShowsDefaultsOrAnyNonzeroModeAndOkStoresOnes)
{
    const struct {
        const char* what;
        DWORD mode;  // 0: left as the load wrote it
    } rows[] = {{"defaults as loaded", 0}, {"mode 2", 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.mode) WriteDword("DLAttachFileSeparately", row.mode);
        Shown shown;
        EXPECT_EQ(OpenBySetup([&](Robot& r, HWND dialog) {
                      shown = ReadDialog(r, dialog);
                      r.Click(dialog, IDOK);
                  }),
                  1);
        EXPECT_EQ(shown, "image text file separately");
        for (auto& [name, value] : Values()) EXPECT_EQ(value, 1u) << name;
    }
}

TEST_F(SettingsDialogTest, ShowsStoredValuesAndWritesChangesAtOk)
{
    WriteDword("DLConfirmImage", 1);
    WriteDword("DLConfirmText", 0);
    WriteDword("DLConfirmFile", 1);
    WriteDword("DLAttachFileSeparately", 1);
    Shown shown;
    OpenBySetup([&](Robot& r, HWND dialog) {
        shown = ReadDialog(r, dialog);
        r.Click(dialog, kImage);        // off
        r.Click(dialog, kText);         // on
        r.Click(dialog, kOneArchive);   // one archive
        r.Click(dialog, IDOK);
    });
    EXPECT_EQ(shown, "image file separately");
    const auto values = Values();
    EXPECT_EQ(values.at("DLConfirmImage"), 0u);
    EXPECT_EQ(values.at("DLConfirmText"), 1u);
    EXPECT_EQ(values.at("DLConfirmFile"), 1u);
    EXPECT_EQ(values.at("DLAttachFileSeparately"), 0u);
}

TEST_F(SettingsDialogTest, CancelEscapeAndCloseBoxWriteNothing)
{
    // Values of another type show whether anything was rewritten: OK would store REG_DWORDs.
    WriteRaw("DLConfirmImage", REG_SZ, std::string("1\0", 2));
    WriteDword("DLConfirmText", 0);
    const std::function<void(Robot&, HWND)> endings[] = {
        [](Robot& r, HWND d) { r.Click(d, kText); r.Click(d, IDCANCEL); },
        [](Robot& r, HWND d) { r.Click(d, kText); r.PressEscape(d); },
        [](Robot& r, HWND d) { r.Click(d, kText); r.Close(d); },
    };
    for (const auto& ending : endings) {
        EXPECT_EQ(OpenBySetup(ending), 1);
        DWORD type = 0;
        std::string data;
        ASSERT_TRUE(ReadRaw("DLConfirmImage", type, data));
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(Values().at("DLConfirmText"), 0u);
    }
}

TEST_F(SettingsDialogTest, ConfirmationTurnedOffInItsOwnDialogIsTurnedBackOnHere)
{
    constexpr char kTextDialog[] = "Orvel!ドロップラインプラグイン - 添付するテキストを確認してください";
    ASSERT_TRUE(PutText("abc"));
    PressCtrlShiftV([&](Robot& r) {
        HWND dialog = r.WaitDialog(kTextDialog);
        r.Click(dialog, 1029);
        r.DismissMessageBox();
        r.Click(dialog, IDOK);
    });
    ExpectRobotClean();
    ASSERT_EQ(Values().at("DLConfirmText"), 0u);

    Shown shown;
    OpenBySetup([&](Robot& r, HWND dialog) {
        shown = ReadDialog(r, dialog);
        r.Click(dialog, kText);
        r.Click(dialog, IDOK);
    });
    EXPECT_EQ(shown, "image file separately");
    EXPECT_EQ(Values().at("DLConfirmText"), 1u);

    // The next text attachment asks again.
    bool asked = false;
    PressCtrlShiftV([&](Robot& r) {
        r.Click(r.WaitDialog(kTextDialog), IDOK);
        asked = true;
    });
    ExpectRobotClean();
    EXPECT_TRUE(asked);
    EXPECT_EQ(host::Attachments().size(), 2u);
}

TEST_F(SettingsDialogTest, ToolsMenuItemOpensItOwnedByTheMainWindow)
{
    const auto commands = host::Commands();
    const auto settings = std::find_if(commands.begin(), commands.end(), [](const host::Command& c) {
        return c.target == 0;
    });
    ASSERT_NE(settings, commands.end());
    HWND owner = nullptr;
    robot_.Run([&] { PostMessageA(main_, WM_COMMAND, settings->id, 0); host::PumpMessages(); },
               [&](Robot& r) {
                   HWND dialog = r.WaitDialog(kCaption);
                   owner = GetWindow(dialog, GW_OWNER);
                   r.Click(dialog, kFile);
                   r.Click(dialog, IDOK);
               });
    ExpectRobotClean();
    EXPECT_EQ(owner, main_);
    EXPECT_EQ(Values().at("DLConfirmFile"), 0u);
}

}  // namespace
