#include "tests/rig/message_boxes.h"

#include "tests/rig/import_hook.h"

#include <mutex>

namespace rig {

namespace {

std::mutex g_lock;
std::vector<RecordedBox> g_boxes;

int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_boxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    }
    return MessageBoxA(owner, text, caption, type);
}

}  // namespace

bool InstallMessageBoxRecorder(HMODULE plugin)
{
    return ReplaceImport(plugin, "user32.dll", "MessageBoxA", reinterpret_cast<FARPROC>(&RecordingMessageBoxA)) !=
           nullptr;
}

std::vector<RecordedBox> RecordedBoxes()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_boxes;
}

void ClearRecordedBoxes()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_boxes.clear();
}

}  // namespace rig
