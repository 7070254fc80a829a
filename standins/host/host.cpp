#include "standins/host/host.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <sstream>

namespace host {

namespace {

std::mutex g_lock;  // the robot thread reads what the UI thread records
std::string g_version = "2.00.06";
std::string g_tempFolder;
std::vector<Attachment> g_attachments;
std::vector<Command> g_commands;
std::map<std::string, int> g_calls;
PluginExports g_plugin;
int g_nextCommandId = 40001;
int g_handledKeyDispatches = 0;
unsigned g_tempCounter = 0;

// Host strings stay valid until the next call of the same function, as a host's own buffers do.
std::string g_versionReturned;
std::string g_folderReturned;
std::string g_fileNameReturned;

void Count(const char* name)
{
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_calls[name];
}

std::string DefaultTempFolder()
{
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    std::string folder = std::string(base) + "OrvelStandIn\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

UINT ModifierState()
{
    UINT state = 0;
    if (GetKeyState(VK_SHIFT) < 0) state |= kModifierShift;
    if (GetKeyState(VK_CONTROL) < 0) state |= kModifierCtrl;
    if (GetKeyState(VK_MENU) < 0) state |= kModifierAlt;
    return state;
}

void PaintAttachments(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
    SetBkMode(dc, TRANSPARENT);
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    int y = 8;
    const char* heading = "添付ファイル (Ctrl+Shift+V でクリップボードを添付):";
    TextOutA(dc, 8, y, heading, lstrlenA(heading));
    for (const Attachment& attachment : Attachments()) {
        if (attachment.window != window) continue;
        y += 18;
        const size_t slash = attachment.path.find_last_of('\\');
        std::ostringstream line;
        line << "  " << attachment.path.substr(slash == std::string::npos ? 0 : slash + 1) << "  ("
             << attachment.bytes.size() << " bytes)";
        TextOutA(dc, 8, y, line.str().c_str(), static_cast<int>(line.str().size()));
    }
    EndPaint(window, &paint);
}

LRESULT OnCommand(HWND window, WPARAM wParam)
{
    const int id = LOWORD(wParam);
    if (RunCommand(window, id)) return 0;
    if (id == 100) CreateComposeWindow();
    if (id == 101 && g_plugin.OnPlugInSetup) g_plugin.OnPlugInSetup(window);
    return 0;
}

LRESULT CALLBACK ComposeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT:
        PaintAttachments(window);
        return 0;
    case WM_KEYDOWN:
        if (DispatchKey(window, static_cast<UINT>(wParam), ModifierState())) return 0;
        break;
    case kMsgKeyDispatch:
        DispatchKey(window, static_cast<UINT>(wParam), static_cast<UINT>(lParam));
        return 0;
    case WM_COMMAND:
        return OnCommand(window, wParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMMAND) return OnCommand(window, wParam);
    if (message == WM_DESTROY && GetPropA(window, "QuitOnClose")) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClasses()
{
    static bool registered = false;
    if (registered) return;
    WNDCLASSA compose{};
    compose.lpfnWndProc = ComposeProc;
    compose.hInstance = GetModuleHandleA(nullptr);
    compose.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    compose.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    compose.lpszClassName = kComposeClass;
    RegisterClassA(&compose);
    WNDCLASSA main = compose;
    main.lpfnWndProc = MainProc;
    main.lpszClassName = kMainClass;
    RegisterClassA(&main);
    registered = true;
}

HMENU Submenu(const char* const* items, int count)
{
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < count; ++i) AppendMenuA(menu, MF_STRING, 200 + i, items[i]);
    return menu;
}

HMENU BuildMainMenu()
{
    static const char* const file[] = {"新規メール作成(&N)", "プラグインの設定(&P)...", "終了(&X)"};
    static const char* const tools[] = {"オプション(&O)...", "アドレス帳(&A)..."};
    static const char* const other[] = {"(なし)"};
    HMENU bar = CreateMenu();
    HMENU fileMenu = CreatePopupMenu();
    AppendMenuA(fileMenu, MF_STRING, 100, file[0]);
    AppendMenuA(fileMenu, MF_STRING, 101, file[1]);
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), "ファイル(&F)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu(other, 1)), "編集(&E)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu(other, 1)), "表示(&V)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu(other, 1)), "メール(&M)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu(tools, 2)), "ツール(&T)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu(other, 1)), "ヘルプ(&H)");
    return bar;
}

HMENU BuildComposeMenu(int fileMenuItems)
{
    HMENU bar = CreateMenu();
    HMENU fileMenu = CreatePopupMenu();
    for (int i = 0; i < fileMenuItems; ++i) {
        char text[32];
        std::snprintf(text, sizeof(text), "項目 %d", i + 1);
        AppendMenuA(fileMenu, MF_STRING, 300 + i, text);
    }
    static const char* const edit[] = {"元に戻す(&U)"};
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(fileMenu), "ファイル(&F)");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu(edit, 1)), "編集(&E)");
    return bar;
}

HWND CreateHostWindow(const char* className, const char* title, HMENU menu, int type, int x, int y)
{
    RegisterClasses();
    HWND window = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, 520, 300, nullptr,
                                  menu, GetModuleHandleA(nullptr), nullptr);
    if (window && g_plugin.OnMenuInit) g_plugin.OnMenuInit(window, menu, type);
    DrawMenuBar(window);
    return window;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char chunk[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof(chunk), &read, nullptr) != FALSE) && read > 0) bytes.append(chunk, read);
    CloseHandle(file);
    return ok;
}

void SetVersion(const std::string& version)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_version = version;
}

void SetTempFolder(const std::string& folder)
{
    CreateDirectoryA(folder.c_str(), nullptr);
    std::lock_guard<std::mutex> guard(g_lock);
    g_tempFolder = folder;
}

std::string TempFolder()
{
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_tempFolder.empty()) return g_tempFolder;
    }
    SetTempFolder(DefaultTempFolder());
    return TempFolder();
}

std::vector<Attachment> Attachments()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_attachments;
}

void ClearAttachments()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_attachments.clear();
    g_calls.clear();
}

std::vector<Command> Commands()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_commands;
}

int CallCount(const char* functionName)
{
    std::lock_guard<std::mutex> guard(g_lock);
    const auto found = g_calls.find(functionName);
    return found == g_calls.end() ? 0 : found->second;
}

PluginExports LoadPlugin(const std::string& path)
{
    PluginExports plugin;
    plugin.module = LoadLibraryA(path.c_str());
    if (!plugin.module) return plugin;
    plugin.OnMenuInit = reinterpret_cast<decltype(plugin.OnMenuInit)>(GetProcAddress(plugin.module, "OVC_OnMenuInit"));
    plugin.OnKeyDispatch =
        reinterpret_cast<decltype(plugin.OnKeyDispatch)>(GetProcAddress(plugin.module, "OVC_OnKeyDispatch"));
    plugin.OnPlugInSetup =
        reinterpret_cast<decltype(plugin.OnPlugInSetup)>(GetProcAddress(plugin.module, "OVC_OnPlugInSetup"));
    plugin.OnPlugInInfo =
        reinterpret_cast<decltype(plugin.OnPlugInInfo)>(GetProcAddress(plugin.module, "OVC_OnPlugInInfo"));
    g_plugin = plugin;
    return plugin;
}

void UnloadPlugin()
{
    if (g_plugin.module) FreeLibrary(g_plugin.module);
    g_plugin = PluginExports{};
    std::lock_guard<std::mutex> guard(g_lock);
    g_commands.clear();
}

const PluginExports& Plugin() { return g_plugin; }

HWND CreateMainWindow()
{
    return CreateHostWindow(kMainClass, "Orvel (stand-in)", BuildMainMenu(), dl::kMenuTypeMain, 40, 40);
}

HWND CreateComposeWindow(int fileMenuItems)
{
    static int offset = 0;
    offset = (offset + 30) % 240;
    return CreateHostWindow(kComposeClass, "メール作成", BuildComposeMenu(fileMenuItems), dl::kMenuTypeCompose,
                            120 + offset, 120 + offset);
}

HMENU MenuOf(HWND window) { return GetMenu(window); }

bool RunCommand(HWND window, int commandId)
{
    for (const Command& command : Commands()) {
        if (command.id != commandId) continue;
        command.proc(window, 0);
        return true;
    }
    return false;
}

int DispatchKey(HWND window, UINT key, UINT modifiers)
{
    const int handled = g_plugin.OnKeyDispatch ? g_plugin.OnKeyDispatch(window, key, modifiers) : 0;
    std::lock_guard<std::mutex> guard(g_lock);
    if (handled) ++g_handledKeyDispatches;
    return handled;
}

int HandledKeyDispatches()
{
    std::lock_guard<std::mutex> guard(g_lock);
    return g_handledKeyDispatches;
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace host

// ---- The functions the host exports to plug-ins, by name from its executable. ----

#define HOST_EXPORT extern "C" __declspec(dllexport)

HOST_EXPORT const char* WINAPI OVA_GetVersion()
{
    host::Count("OVA_GetVersion");
    std::lock_guard<std::mutex> guard(host::g_lock);
    host::g_versionReturned = host::g_version;
    return host::g_versionReturned.c_str();
}

HOST_EXPORT int WINAPI OVA_RegisterCommand(const char* comment, int target, dl::HostCommandProc proc)
{
    host::Count("OVA_RegisterCommand");
    std::lock_guard<std::mutex> guard(host::g_lock);
    const int id = host::g_nextCommandId++;
    host::g_commands.push_back({id, comment ? comment : "", target, proc, nullptr});
    return id;
}

HOST_EXPORT int WINAPI OVA_RegisterUICallback(int commandId, dl::HostUIStateProc proc)
{
    host::Count("OVA_RegisterUICallback");
    std::lock_guard<std::mutex> guard(host::g_lock);
    for (host::Command& command : host::g_commands) {
        if (command.id == commandId) command.uiState = proc;
    }
    return 1;
}

HOST_EXPORT const char* WINAPI OVA_GetTempFolder()
{
    host::Count("OVA_GetTempFolder");
    const std::string folder = host::TempFolder();
    std::lock_guard<std::mutex> guard(host::g_lock);
    host::g_folderReturned = folder;
    return host::g_folderReturned.c_str();
}

HOST_EXPORT const char* WINAPI OVA_GetTempFileName(const char* extension)
{
    host::Count("OVA_GetTempFileName");
    const std::string folder = host::TempFolder();
    std::string path;
    do {
        char name[64];
        std::snprintf(name, sizeof(name), "ov%05u.%s", ++host::g_tempCounter, extension ? extension : "tmp");
        path = folder + name;
    } while (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    std::lock_guard<std::mutex> guard(host::g_lock);
    host::g_fileNameReturned = path;
    return host::g_fileNameReturned.c_str();
}

HOST_EXPORT int WINAPI OVA_CompAttachFile(HWND window, const char* path, const char* mimeType)
{
    host::Count("OVA_CompAttachFile");
    host::Attachment attachment{window, path ? path : "", false, {}};
    attachment.readable = path && host::ReadWholeFile(path, attachment.bytes);
    {
        std::lock_guard<std::mutex> guard(host::g_lock);
        host::g_attachments.push_back(attachment);
    }
    InvalidateRect(window, nullptr, TRUE);
    return attachment.readable ? 1 : 0;
}

// The rest of the interface: present so that a plug-in can bind it, never called by ours.
#define HOST_STUB(name) \
    HOST_EXPORT int WINAPI name() { return 0; }

HOST_STUB(OVA_Command)
HOST_STUB(OVA_GetWindowHandles)
HOST_STUB(OVA_GetDataFolder)
HOST_STUB(OVA_GetCurrentMailBox)
HOST_STUB(OVA_SetCurrentMailBox)
HOST_STUB(OVA_GetCurrentFolder)
HOST_STUB(OVA_SetCurrentFolder)
HOST_STUB(OVA_GetFolderDisplayName)
HOST_STUB(OVA_SetMessageText)
HOST_STUB(OVA_GetCurrentMail)
HOST_STUB(OVA_SetCurrentMail)
HOST_STUB(OVA_GetNextMail)
HOST_STUB(OVA_SetSel)
HOST_STUB(OVA_AppendMessage)
HOST_STUB(OVA_MoveSelectedMessages)
HOST_STUB(OVA_GetStatus)
HOST_STUB(OVA_ComposeMail)
HOST_STUB(OVA_GetCharSet)
HOST_STUB(OVA_GetSource)
HOST_STUB(OVA_SetSource)
HOST_STUB(OVA_GetHeader)
HOST_STUB(OVA_GetText)
HOST_STUB(OVA_SetText)
HOST_STUB(OVA_GetSpecifiedHeader)
HOST_STUB(OVA_SetSpecifiedHeader)
HOST_STUB(OVA_CompGetCharSet)
HOST_STUB(OVA_CompGetSource)
HOST_STUB(OVA_CompSetSource)
HOST_STUB(OVA_CompGetHeader)
HOST_STUB(OVA_CompGetSpecifiedHeader)
HOST_STUB(OVA_CompSetSpecifiedHeader)
HOST_STUB(OVA_CompGetText)
HOST_STUB(OVA_CompSetText)
HOST_STUB(OVA_Alloc)
HOST_STUB(OVA_ReAlloc)
HOST_STUB(OVA_Free)
HOST_STUB(OVA_ISO_2022_JP)
HOST_STUB(OVA_ISO_2022_KR)
HOST_STUB(OVA_HZ_GB2312)
HOST_STUB(OVA_ISO_8859_2)
HOST_STUB(OVA_EUC_JP)
HOST_STUB(OVA_UTF_7)
HOST_STUB(OVA_UTF_8)
HOST_STUB(OVA_B64Convert)
HOST_STUB(OVA_QPConvert)
HOST_STUB(OVA_MIMEHeader)
HOST_STUB(OVA_SerializeRcpts)
HOST_STUB(OVA_NextUnread)
HOST_STUB(OVA_ProcessMail)
HOST_STUB(OVA_GetSize)
// Variants of the host for the load rules: one lacks a required function, one the optional
// function that newer versions must have.
#ifndef STANDIN_WITHOUT_CONNECT
HOST_STUB(OVA_Connect)
#endif
#ifndef STANDIN_WITHOUT_SETSTATUS
HOST_STUB(OVA_SetStatus)
#endif
