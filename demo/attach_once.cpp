// The shipped i686 module run for real once (./dev demo runs this under Wine's WoW64 mode): it
// loads into the stand-in host, and its attach command takes text from the clipboard to the
// host with the confirmation off. Prints what happened, or where it stopped; exit code 0 when
// the host received the text.
#include "common/texts.h"
#include "standins/host/host.h"
#include "tests/rig/plugin_fixture.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kSample[] = "Dropline i686";

int Stop(const std::string& why)
{
    std::printf("i686 module: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main()
{
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    rig::DeleteSettingsKey();
    rig::CreateSettingsKey();
    host::SetTempFolder(rig::FreshFolder("orvel-attach-once"));
    const host::PluginExports plugin = host::LoadPlugin(rig::PluginPath());
    if (!plugin.module) return Stop("refused to load (error " + std::to_string(GetLastError()) + ")");
    std::printf("i686 module: loaded into a %d-bit process%s\n", static_cast<int>(8 * sizeof(void*)),
                wow64 ? " under WoW64" : "");

    rig::WriteDword("DLConfirmText", 0);
    HWND compose = host::CreateComposeWindow();
    host::PumpMessages();
    if (!rig::PutText(kSample)) return Stop("the clipboard could not be set");
    const int handled = plugin.OnKeyDispatch(compose, host::kKeyV, host::kModifierCtrl | host::kModifierShift);
    const auto attachments = host::Attachments();
    DestroyWindow(compose);
    host::UnloadPlugin();
    if (!handled) return Stop("Ctrl+Shift+V was not taken");
    if (attachments.size() != 1) return Stop("the host received " + std::to_string(attachments.size()) + " files");
    const host::Attachment& got = attachments.front();
    const std::string name = got.path.substr(got.path.find_last_of('\\') + 1);
    if (name != dl::text::kDefaultTextName || got.bytes != kSample) {
        return Stop("the host received " + name + " holding \"" + got.bytes + "\"");
    }
    std::printf("i686 module: the attach command ran once: text -> %s (%zu bytes), confirmation off\n",
                name.c_str(), got.bytes.size());
    return 0;
}
