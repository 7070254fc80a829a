// Settings values that the settings dialog never writes (missing, of another type, of eight
// bytes, other numbers) at load and while the host runs, and the settings key deleted under the
// running plug-in: each is read as the store reads it, and nothing fails or is created.
#include "common/texts.h"
#include "tests/support/robustness.h"

using namespace rig;

namespace {

constexpr char kConfirmText[] = "DLConfirmText";
constexpr char kSeparately[] = "DLAttachFileSeparately";

// A setting as it may stand in the registry; `data` empty with type 0: the value is missing.
struct StoredValue {
    const char* what;
    DWORD type;
    std::string data;
};

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof(value)); }

// A stored value and whether it turns its setting on: a confirmation shown, files attached separately.
struct ValueCase {
    StoredValue stored;
    bool on;
};

const StoredValue kMissing{"missing", 0, {}};
const StoredValue kTextOne{"REG_SZ \"1\"", REG_SZ, std::string("1\0", 2)};
const StoredValue kQword{"8 bytes", REG_QWORD, Dword(1) + Dword(0)};
const StoredValue kSeven{"7", REG_DWORD, Dword(7)};
const StoredValue kAllOnes{"0xFFFFFFFF", REG_DWORD, Dword(0xFFFFFFFF)};
const StoredValue kByteZero{"one byte 0", REG_BINARY, std::string(1, '\0')};

void Store(const char* name, const StoredValue& value)
{
    if (value.type == 0) DeleteValue(name);
    else WriteRaw(name, value.type, value.data);
}

bool KeyExists()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

class SettingsRobustnessTest : public RobustnessTest {
protected:
    // Loads the plug-in again, as the host does at its next start.
    void Reload()
    {
        host::UnloadPlugin();
        plugin_ = host::LoadPlugin(PluginPath()).module;
        ASSERT_NE(plugin_, nullptr);
        ASSERT_TRUE(InstallMessageBoxRecorder(plugin_));
    }

    // Runs the text path, confirming the dialog when one is expected; a dialog that is not
    // expected is closed by the robot and fails the test. The text is attached either way.
    void ExpectTextAttached(bool withDialog)
    {
        ASSERT_TRUE(PutText("text"));
        Run(withDialog ? InDialog(kTextCaption, nullptr) : Robot::Script());
        EXPECT_EQ(AttachedBytes(), "text");
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    }

    // Runs the file path over one file: the path the host got (the file itself when attached
    // separately, the one archive otherwise).
    std::string AttachedFor(const std::string& file)
    {
        EXPECT_TRUE(PutFiles({file}));
        Run();
        ExpectOnlyBoxes({});
        ExpectHostTemp();
        const Paths attached = AttachedPaths();
        return attached.size() == 1 ? attached[0] : "";
    }
};

TEST_F(SettingsRobustnessTest, OddValuesAtLoadAreKeptOrReplacedAndReadAsTheStoreReadsThem)
{
    const ValueCase cases[] = {{kMissing, true}, {kTextOne, true}, {kQword, true}, {kSeven, true}, {kByteZero, false}};
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.stored.what);
        Store(kConfirmText, c.stored);
        Reload();
        ExpectTextAttached(c.on);
    }
}

TEST_F(SettingsRobustnessTest, OddValuesWhileRunningTurnTheConfirmationOnOrOff)
{
    const ValueCase cases[] = {{kMissing, false}, {kTextOne, true}, {kQword, false},
                               {kSeven, true},    {kAllOnes, true}, {kByteZero, false}};
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.stored.what);
        Store(kConfirmText, c.stored);
        ExpectTextAttached(c.on);
        // Confirmed, the dialog stores a plain 1; without it nothing is written.
        DWORD type = 0;
        std::string data;
        const bool present = ReadRaw(kConfirmText, type, data);
        if (c.on) {
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(data, Dword(1));
        } else {
            EXPECT_EQ(present, c.stored.type != 0);
        }
    }
}

TEST_F(SettingsRobustnessTest, ModeValuesWhileRunning)
{
    const std::string file = File("a.txt", "A");
    const auto before = Snapshot(work_);
    // Whatever reads as nonzero attaches separately; what reads as 0 packs one archive.
    const ValueCase cases[] = {{kMissing, false}, {kTextOne, true}, {kQword, false}, {kSeven, true}, {kByteZero, false}};
    for (const ValueCase& c : cases) {
        SCOPED_TRACE(c.stored.what);
        Store(kSeparately, c.stored);
        EXPECT_EQ(AttachedFor(file), c.on ? file : hostTemp_ + "Files1.zip");
    }
    EXPECT_EQ(Snapshot(work_), before);
}

TEST_F(SettingsRobustnessTest, KeyDeletedWhileRunning)
{
    SetConfirmations(1);
    const std::string file = File("a.txt", "A");

    // Deleted while the dialog is open: OK cannot store its choice, and the text is attached.
    ASSERT_TRUE(PutText("text"));
    Run(InDialog(kTextCaption, [](Robot&, HWND) { DeleteSettingsKey(); }));
    EXPECT_EQ(AttachedBytes(), "text");
    ExpectOnlyBoxes({});
    EXPECT_FALSE(KeyExists());

    // Gone: every setting reads 0, so no dialog, and files go into one archive.
    ExpectNoGrowth([&] {
        ExpectTextAttached(false);
        EXPECT_EQ(AttachedFor(file), hostTemp_ + "Files1.zip");
    });
    EXPECT_FALSE(KeyExists()) << "the plug-in never creates the host's key";
}

}  // namespace
