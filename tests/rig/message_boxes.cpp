#include "tests/rig/message_boxes.h"

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
    auto* base = reinterpret_cast<BYTE*>(plugin);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const FARPROC real = GetProcAddress(GetModuleHandleA("user32.dll"), "MessageBoxA");

    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name;
         ++entry) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), "user32.dll") != 0) continue;
        for (auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk); thunk->u1.Function;
             ++thunk) {
            if (reinterpret_cast<FARPROC>(thunk->u1.Function) != real) continue;
            DWORD oldProtection = 0;
            VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), PAGE_READWRITE, &oldProtection);
            thunk->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordingMessageBoxA);
            VirtualProtect(&thunk->u1.Function, sizeof(thunk->u1.Function), oldProtection, &oldProtection);
            return true;
        }
    }
    return false;
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
