// Loading into the host, the information record, the menus and the keystroke.
#include "common/texts.h"
#include "settings/settings_store.h"
#include "tests/rig/plugin_fixture.h"

#include <cstring>
#include <iterator>

using namespace rig;

namespace {

// ---- Loading -------------------------------------------------------------------------------

// Runs a variant of the stand-in host that only loads the plug-in; its exit code says whether it loaded.
DWORD LoadInHostVariant(const char* variant, const char* version)
{
    const std::string command = "\"" + BesideExecutable(std::string("load_probe_") + variant + ".exe") + "\" " +
                                version + " \"" + PluginPath() + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::string line = command;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return 99;
    }
    DWORD code = 98;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        CreateSettingsKey();
    }
    void TearDown() override { host::UnloadPlugin(); }
};

TEST_F(LoadTest, HostVersionRuleAndRequiredFunctions)
{
    constexpr DWORD kLoaded = 0, kRefused = 1;
    EXPECT_EQ(LoadInHostVariant("full", "2.00.06"), kLoaded);
    EXPECT_EQ(LoadInHostVariant("full", "2.10.00"), kLoaded);
    // A required function missing: no version helps.
    EXPECT_EQ(LoadInHostVariant("without_connect", "2.00.05"), kRefused);
    // Without OVA_SetStatus only versions before 2.00.06 (and at most 7 characters) may load.
    EXPECT_EQ(LoadInHostVariant("without_setstatus", "2.00.05"), kLoaded);
    EXPECT_EQ(LoadInHostVariant("without_setstatus", "2.00.06"), kRefused);
    EXPECT_EQ(LoadInHostVariant("without_setstatus", "2.01.00"), kRefused);
    EXPECT_EQ(LoadInHostVariant("without_setstatus", "2.00.055"), kRefused);
    EXPECT_EQ(LoadInHostVariant("without_setstatus", "1.99"), kLoaded);
}

TEST_F(LoadTest, RefusedWithoutTheHostSettingsKeyAndDoesNotCreateIt)
{
    DeleteSettingsKey();
    EXPECT_EQ(host::LoadPlugin(PluginPath()).module, nullptr);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST_F(LoadTest, FirstLoadCreatesTheFourSettingsAndLaterLoadsKeepThem)
{
    WriteDword("DLConfirmText", 0);
    WriteRaw("DLConfirmFile", REG_SZ, std::string("1\0", 2));
    WriteRaw("DLAttachFileSeparately", REG_BINARY, std::string(8, '\0'));
    ASSERT_NE(host::LoadPlugin(PluginPath()).module, nullptr);

    DWORD value = 0;
    ASSERT_TRUE(ReadDword("DLConfirmImage", value));
    EXPECT_EQ(value, 1u);
    ASSERT_TRUE(ReadDword("DLConfirmText", value));
    EXPECT_EQ(value, 0u);
    // Up to four bytes of any type stay as they are; longer data is replaced by the default.
    DWORD type = 0;
    std::string data;
    ASSERT_TRUE(ReadRaw("DLConfirmFile", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    ASSERT_TRUE(ReadDword("DLAttachFileSeparately", value));
    EXPECT_EQ(value, 1u);
}

// ---- The settings store itself ----------------------------------------------------------------

class SettingsStoreTest : public LoadTest {
protected:
    dl::SettingsStore store_{HKEY_CURRENT_USER, kSettingsKey};
};

TEST_F(SettingsStoreTest, ReadsBytesOfAnyTypeUpToFourAndZeroOtherwise)
{
    WriteRaw("DLConfirmImage", REG_SZ, std::string("1\0", 2));
    EXPECT_EQ(store_.ReadSetting("DLConfirmImage"), 49u);
    WriteDword("DLConfirmText", 7);
    EXPECT_EQ(store_.ReadSetting("DLConfirmText"), 7u);
    WriteRaw("DLConfirmFile", REG_BINARY, std::string(5, '\1'));
    EXPECT_EQ(store_.ReadSetting("DLConfirmFile"), 0u);
    EXPECT_EQ(store_.ReadSetting("DLAttachFileSeparately"), 0u);  // missing
    DeleteSettingsKey();
    EXPECT_EQ(store_.ReadSetting("DLConfirmText"), 0u);
}

TEST_F(SettingsStoreTest, WritesDwordsButNeverCreatesTheKey)
{
    EXPECT_EQ(store_.WriteSetting("DLConfirmImage", 0), S_OK);
    DWORD value = 9;
    ASSERT_TRUE(ReadDword("DLConfirmImage", value));
    EXPECT_EQ(value, 0u);

    DeleteSettingsKey();
    EXPECT_EQ(store_.WriteSetting("DLConfirmImage", 1), E_FAIL);
    EXPECT_EQ(store_.RegisterSetting("DLConfirmImage"), E_FAIL);
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
}

// ---- Callbacks ----------------------------------------------------------------------------------

class CallbackTest : public PluginTest {};

TEST_F(CallbackTest, InformationRecordWritesOnlyTheFourTextsAndTerminators)
{
    char record[600];
    std::memset(record, 0xCC, sizeof(record));
    EXPECT_EQ(host::Plugin().OnPlugInInfo(record), 0);

    const struct {
        size_t offset;
        const char* text;
    } fields[] = {{0, dl::text::kPluginName}, {80, dl::text::kVendor}, {160, dl::text::kVersion},
                  {240, dl::text::kDescription}};
    EXPECT_EQ(std::strlen(dl::text::kPluginName), 30u);
    EXPECT_EQ(std::strlen(dl::text::kDescription), 116u);
    std::string expected(sizeof(record), '\xCC');
    for (const auto& field : fields) expected.replace(field.offset, std::strlen(field.text) + 1, field.text, std::strlen(field.text) + 1);
    EXPECT_EQ(std::string(record, sizeof(record)), expected);
}

TEST_F(CallbackTest, CallbacksWithoutActionReturnZero)
{
    HMODULE module = host::Plugin().module;
    for (const char* name : {"OVC_OnStart", "OVC_OnExit", "OVC_OnEveryMinute"}) {
        auto proc = reinterpret_cast<int(WINAPI*)()>(GetProcAddress(module, name));
        ASSERT_NE(proc, nullptr) << name;
        EXPECT_EQ(proc(), 0) << name;
    }
    auto four = reinterpret_cast<int(WINAPI*)(LPARAM, LPARAM, LPARAM, LPARAM)>(GetProcAddress(module, "OVC_OnDragDrop"));
    EXPECT_EQ(four(1, 2, 3, 4), 0);
    EXPECT_TRUE(RecordedBoxes().empty());
}

// ---- Menus ----------------------------------------------------------------------------------------

HMENU MenuWithSubmenu(int index, int items)
{
    HMENU bar = CreateMenu();
    for (int i = 0; i <= index; ++i) {
        HMENU sub = CreatePopupMenu();
        for (int j = 0; i == index && j < items; ++j) AppendMenuA(sub, MF_STRING, 500 + j, "item");
        AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "menu");
    }
    return bar;
}

struct MenuItem {
    bool separator;
    UINT id;
    std::string text;
};

// Read as UTF-16 and converted here: GetMenuStringA's own conversion is wrong for Japanese in
// Wine's WoW64 mode.
MenuItem ItemAt(HMENU menu, int position)
{
    wchar_t wide[256] = {};
    GetMenuStringW(menu, position, wide, static_cast<int>(std::size(wide)), MF_BYPOSITION);
    char text[4 * std::size(wide)] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
    return {(GetMenuState(menu, position, MF_BYPOSITION) & MF_SEPARATOR) != 0, GetMenuItemID(menu, position), text};
}

TEST_F(CallbackTest, ToolsMenuGetsSeparatorAndSettingsItemAtPosition255)
{
    host::ClearAttachments();
    for (int items : {3, 300}) {
        HMENU bar = MenuWithSubmenu(4, items);
        const size_t commandsBefore = host::Commands().size();
        EXPECT_EQ(host::Plugin().OnMenuInit(main_, bar, 0), 0);
        HMENU tools = GetSubMenu(bar, 4);
        const auto commands = host::Commands();
        ASSERT_EQ(commands.size(), commandsBefore + 1);
        const host::Command& command = commands.back();
        EXPECT_EQ(command.comment, "ドロップラインを設定する");
        EXPECT_EQ(command.target, 0);
        ASSERT_NE(command.uiState, nullptr);
        EXPECT_EQ(command.uiState(main_, 0), 0);

        const int item = items < 255 ? items + 1 : 255, separator = items < 255 ? items : 256;
        EXPECT_EQ(GetMenuItemCount(tools), items + 2);
        EXPECT_TRUE(ItemAt(tools, separator).separator);
        EXPECT_EQ(ItemAt(tools, item).text, "ドロップラインを設定する(&C)...");
        EXPECT_EQ(ItemAt(tools, item).id, static_cast<UINT>(command.id));
        DestroyMenu(bar);
    }
}

TEST_F(CallbackTest, ComposeMenuGetsAttachItemAtPosition15EveryTime)
{
    for (int items : {3, 15, 20}) {
        HMENU bar = MenuWithSubmenu(0, items);
        HMENU file = GetSubMenu(bar, 0);
        EXPECT_EQ(host::Plugin().OnMenuInit(compose_, bar, 10), 0);
        EXPECT_EQ(host::Plugin().OnMenuInit(compose_, bar, 10), 0);
        const auto commands = host::Commands();
        const host::Command& second = commands.back();
        const host::Command& first = commands[commands.size() - 2];
        EXPECT_EQ(first.comment, "Dropline");
        EXPECT_EQ(second.target, 10);
        EXPECT_NE(first.id, second.id);
        EXPECT_EQ(GetMenuItemCount(file), items + 4);

        if (items < 15) {  // both calls append: separator, item, separator, item
            EXPECT_TRUE(ItemAt(file, items).separator);
            EXPECT_EQ(ItemAt(file, items + 1).id, static_cast<UINT>(first.id));
            EXPECT_TRUE(ItemAt(file, items + 2).separator);
            EXPECT_EQ(ItemAt(file, items + 3).id, static_cast<UINT>(second.id));
        } else {  // the later item lands above the earlier one, each with its separator below
            EXPECT_EQ(ItemAt(file, 15).id, static_cast<UINT>(second.id));
            EXPECT_TRUE(ItemAt(file, 16).separator);
            EXPECT_EQ(ItemAt(file, 17).id, static_cast<UINT>(first.id));
            EXPECT_TRUE(ItemAt(file, 18).separator);
        }
        EXPECT_EQ(ItemAt(file, items < 15 ? items + 1 : 15).text, "クリップボードを添付(&C)  Ctrl+Shift+V");
        DestroyMenu(bar);
    }
}

TEST_F(CallbackTest, OtherMenuTypesChangeNothing)
{
    HMENU bar = MenuWithSubmenu(4, 3);
    const size_t commandsBefore = host::Commands().size();
    for (int type : {1, 5, 9, 11, -1}) EXPECT_EQ(host::Plugin().OnMenuInit(main_, bar, type), 0);
    EXPECT_EQ(host::Commands().size(), commandsBefore);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(bar, 0)), 0);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(bar, 4)), 3);
    DestroyMenu(bar);
}

// ---- The keystroke ----------------------------------------------------------------------------------

// Class names are case-insensitive within one module; registering under another module's
// instance lets a differently spelt twin of the host's class exist beside it.
HWND WindowOfClass(const char* className)
{
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = host::Plugin().module;
    cls.lpszClassName = className;
    RegisterClassA(&cls);
    return CreateWindowExA(0, className, "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, cls.hInstance,
                           nullptr);
}

TEST_F(CallbackTest, KeystrokeRunsTheCommandOnlyForCtrlShiftVInAComposeWindow)
{
    // An empty clipboard makes the command show its information message: proof that it ran.
    int result = -1;
    robot_.Run([&] { result = host::Plugin().OnKeyDispatch(compose_, 86, 96); },
               [](Robot& r) { r.DismissMessageBox(); });
    ExpectRobotClean();
    EXPECT_EQ(result, 1);
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_EQ(RecordedBoxes()[0].owner, compose_);
    EXPECT_EQ(RecordedBoxes()[0].text, dl::text::kNothingToAttach);
    EXPECT_EQ(RecordedBoxes()[0].caption, dl::text::kPluginName);
    EXPECT_EQ(RecordedBoxes()[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));

    ClearRecordedBoxes();
    // Unattended: a box shown by mistake is closed by the robot and reported.
    robot_.Run([&] {
        for (UINT modifiers : {0u, 32u, 64u, 97u, 112u}) EXPECT_EQ(host::Plugin().OnKeyDispatch(compose_, 86, modifiers), 0);
        for (UINT key : {0u, 85u, 87u, 118u}) EXPECT_EQ(host::Plugin().OnKeyDispatch(compose_, key, 96), 0);
        for (const char* className : {"Orvel2ComposeFrameX", "ORVEL2COMPOSEFRAME", "Orvel2ComposeFram"}) {
            HWND window = WindowOfClass(className);
            ASSERT_NE(window, nullptr) << className;
            EXPECT_EQ(host::Plugin().OnKeyDispatch(window, 86, 96), 0) << className;
            DestroyWindow(window);
        }
        EXPECT_EQ(host::Plugin().OnKeyDispatch(main_, 86, 96), 0);
        EXPECT_EQ(host::Plugin().OnKeyDispatch(nullptr, 86, 96), 0);
    }, nullptr);
    ExpectRobotClean();
    EXPECT_TRUE(RecordedBoxes().empty());
}

TEST_F(CallbackTest, ComposeMenuItemRunsTheCommandForThatWindow)
{
    HWND second = host::CreateComposeWindow(3);
    const auto commands = host::Commands();
    const auto attach = std::find_if(commands.rbegin(), commands.rend(), [](const host::Command& c) {
        return c.target == 10;
    });
    ASSERT_NE(attach, commands.rend());
    robot_.Run([&] { SendMessageA(second, WM_COMMAND, attach->id, 0); }, [](Robot& r) { r.DismissMessageBox(); });
    ExpectRobotClean();
    ASSERT_EQ(RecordedBoxes().size(), 1u);
    EXPECT_EQ(RecordedBoxes()[0].owner, second);
    DestroyWindow(second);
}

}  // namespace
