#include "tests/support/robustness.h"

#include "registration.h"

#include <algorithm>
#include <string>

namespace rig {

namespace {

// A leak grows the count on every run. The system's caches (Wine's DC cache, the theme's bitmaps
// of each button state a robot's timing happens to show) stop after a few; more runs cost nothing
// where nothing grows, as the first run that does not grow ends the loop.
constexpr int kMeasuredRuns = 8;

// The counts once two looks 50 ms apart agree on the objects (at most a second): what a command
// lets go of late, on another thread, has gone by then. Without this, the system's objects that
// come and go hid a leaked brush a run in one run of six.
ResourceCounts SettledCounts()
{
    ResourceCounts last = CountResources();
    for (int look = 0; look < 20; ++look) {
        Sleep(50);
        const ResourceCounts now = CountResources();
        if (SameObjectCounts(now, last)) return now;
        last = now;
    }
    return last;
}

}  // namespace

Robot::Script InDialog(const char* caption, const std::function<void(Robot&, HWND)>& steps, int ending,
                       DWORD timeoutMs)
{
    return [=](Robot& r) {
        HWND dialog = r.WaitDialog(caption, timeoutMs);
        if (steps) steps(r, dialog);
        r.Click(dialog, ending);
        r.WaitGone(dialog);
    };
}

Robot::Script NameInDialog(const char* caption, const std::string& name)
{
    return InDialog(caption, [name](Robot& r, HWND dialog) { r.SetText(dialog, kNameField, name); });
}

void DismissBox(Robot& r) { r.DismissMessageBox(); }

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void RobustnessTest::SetUpTestSuite()
{
    ASSERT_TRUE(RegisterZipStandIn(BesideExecutable("zipfolder_standin.dll").c_str()));
}

void RobustnessTest::TearDownTestSuite() { UnregisterZipStandIn(); }

void RobustnessTest::SetUp()
{
    PluginTest::SetUp();
    SetConfirmations(0);
}

void RobustnessTest::SetConfirmations(DWORD value)
{
    for (const char* name : {"DLConfirmImage", "DLConfirmText", "DLConfirmFile"}) WriteDword(name, value);
}

std::string RobustnessTest::File(const std::string& name, const std::string& bytes)
{
    const std::string path = work_ + name;
    EXPECT_TRUE(WriteBytes(path, bytes)) << path;
    return path;
}

std::string RobustnessTest::Folder(const std::string& name)
{
    const std::string path = work_ + name;
    EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
    return path;
}

void RobustnessTest::Run(const Robot::Script& script)
{
    host::ClearAttachments();
    ClearRecordedBoxes();
    PressCtrlShiftV(script);
    ExpectRobotClean();
}

void RobustnessTest::RunExpectingMessage(const char* text, UINT icon, const Robot::Script& before)
{
    Run([before](Robot& r) {
        if (before) before(r);
        r.DismissMessageBox();
    });
    ExpectOnlyBoxes({{compose_, text, icon}});
    EXPECT_TRUE(host::Attachments().empty());
}

Paths RobustnessTest::AttachedPaths() const
{
    Paths paths;
    for (const host::Attachment& attachment : host::Attachments()) {
        EXPECT_EQ(attachment.window, compose_);
        paths.push_back(attachment.path);
    }
    return paths;
}

std::string RobustnessTest::AttachedBytes() const
{
    const auto attachments = host::Attachments();
    EXPECT_EQ(attachments.size(), 1u);
    if (attachments.size() != 1) return {};
    EXPECT_TRUE(attachments[0].readable);
    return attachments[0].bytes;
}

void RobustnessTest::ExpectHostTemp(const Paths& names) const { EXPECT_EQ(List(hostTemp_), names); }

void RobustnessTest::EmptyHostTemp() const
{
    DeleteTree(hostTemp_);
    host::SetTempFolder(hostTemp_);
}

void RobustnessTest::ExpectNoGrowth(const std::function<void()>& command)
{
    command();
    struct Growing {
        const CounterProof* proof;
        std::string rises;
    };
    std::vector<Growing> growing;
    for (const CounterProof& proof : CounterProofs()) {
        if (proof.counter == Counter::kPrivateBytes) continue;  // the soak has it
        // A counter that does not see ten new objects would never see a leak either.
        EXPECT_TRUE(proof.proven()) << proof.name << " rose by " << proof.rise << " for " << proof.expected;
        growing.push_back({&proof, {}});
    }
    for (int run = 0; run < kMeasuredRuns && !growing.empty(); ++run) {
        const ResourceCounts before = SettledCounts();
        command();
        const ResourceCounts after = SettledCounts();
        const auto stopped = [&](Growing& g) {
            const long long rise = after[g.proof->counter] - before[g.proof->counter];
            g.rises += " +" + std::to_string(rise);
            return rise <= 0;
        };
        growing.erase(std::remove_if(growing.begin(), growing.end(), stopped), growing.end());
    }
    for (const Growing& g : growing) {
        ADD_FAILURE() << g.proof->name << " grew on each of " << kMeasuredRuns << " runs, by" << g.rises;
    }
}

}  // namespace rig
