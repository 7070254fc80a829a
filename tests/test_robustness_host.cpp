// The host's temporary folder as it may be: gone, not writable, so deep that the staging paths
// pass MAX_PATH, or already holding a file or folder of the name a path wants.
#include "common/texts.h"
#include "common/win.h"
#include "tests/rig/import_hook.h"
#include "tests/support/clipboard_blocks.h"
#include "tests/support/robustness.h"
#include "tests/support/source_tree.h"

using namespace rig;
namespace text = dl::text;

namespace {

// A folder nobody may create files in, not even an administrator: the kernel's process table.
constexpr char kUnwritableFolder[] = "Z:\\proc\\";

// Bytes as they are, or for an archive its entries as "name: content".
std::string Content(const std::string& bytes)
{
    if (bytes.rfind("PK", 0) != 0) return bytes;
    const dropline::test::ZipReader archive = ReadArchive(bytes);
    std::string entries;
    for (const auto& entry : archive.entries()) {
        std::string data, error;
        entries += entry.name + ": " + (archive.Extract(entry, &data, &error) ? data : error);
    }
    return entries;
}

// Creates every folder of a path that ends with a backslash.
bool CreateFolders(const std::string& path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
    }
    return Exists(path);
}

// What the paths could have left in the host's folder: their files, the host's staging names
// for images ("ov00001.png") and packing folders.
Paths OursIn(const std::string& folder)
{
    Paths ours;
    for (const std::string& name : List(folder)) {
        const bool staged = name.rfind("ov", 0) == 0 && name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0;
        if (name == "Text1.txt" || name == "Image1.png" || name == "docs.zip" || staged || name.front() == '{') {
            ours.push_back(name);
        }
    }
    return ours;
}

// A folder below `base` whose path, with its trailing backslash, is exactly `length` bytes long.
std::string FolderOfLength(const std::string& base, size_t length)
{
    std::string path = base;
    while (path.size() < length) {
        const size_t part = std::min<size_t>(100, length - path.size() - 1);
        path += std::string(part, 'd') + "\\";
    }
    return path;
}

// Faults of the plug-in's own file calls that no folder set-up gives reliably.
enum class Fault { kNone, kWriteFails, kShortWrite, kCloseFails };
Fault g_fault = Fault::kNone;

using WriteFileFn = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
WriteFileFn g_writeFile = nullptr;
CloseHandleFn g_closeHandle = nullptr;

BOOL WINAPI FaultyWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (g_fault == Fault::kWriteFails) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return g_writeFile(file, data, g_fault == Fault::kShortWrite ? size / 2 : size, written, overlapped);
}

// Closed, but reported as failed, as when the last data cannot be flushed.
BOOL WINAPI FaultyCloseHandle(HANDLE handle)
{
    const BOOL closed = g_closeHandle(handle);
    return g_fault == Fault::kCloseFails ? FALSE : closed;
}

// The first calls of one of the plug-in's imports fail, as while another program holds the file.
FARPROC g_real[6] = {};
int g_scanned = -1, g_scannerCalls = 0;  // the import whose calls fail, and how many more

template <int kImport, typename Result, Result kFailed, typename... Args>
Result WINAPI Scanned(Args... args)
{
    using Real = Result(WINAPI*)(Args...);
    if (g_scanned != kImport || g_scannerCalls == 0) return reinterpret_cast<Real>(g_real[kImport])(args...);
    --g_scannerCalls;
    SetLastError(ERROR_SHARING_VIOLATION);
    return kFailed;
}

class HostRobustnessTest : public RobustnessTest {
protected:
    void SetUp() override
    {
        RobustnessTest::SetUp();
        file_ = File("a.txt", "A");
        docs_ = Folder("docs");
        File("docs\\b.txt", "B");
    }

    // Every path against the host folder as it is now: text and image fail with the message and
    // leave nothing; plain files need no staging and go; a folder fails after the files before it.
    void ExpectEveryPathToCopeWithTheFolder(const std::string& folder)
    {
        const auto before = Snapshot(work_);
        const std::function<bool()> clipboards[] = {[] { return PutText("text"); },
                                                     [] { return PutBitmap(MakePatternBitmap(4, 4)); }};
        for (const auto& put : clipboards) {
            ASSERT_TRUE(put());
            RunExpectingMessage(text::kAttachFailed, MB_ICONERROR);
        }
        ASSERT_TRUE(PutFiles({file_}));
        Run();
        EXPECT_EQ(AttachedPaths(), Paths{file_});
        ExpectOnlyBoxes({});

        ASSERT_TRUE(PutFiles({file_, docs_}));
        Run(DismissBox);
        EXPECT_EQ(AttachedPaths(), Paths{file_});
        ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});

        EXPECT_EQ(OursIn(folder), Paths{});
        EXPECT_EQ(Snapshot(work_), before);
    }

    std::string file_;
    std::string docs_;
};

TEST_F(HostRobustnessTest, FolderMissing)
{
    DeleteTree(hostTemp_);
    ExpectEveryPathToCopeWithTheFolder(hostTemp_);
    EXPECT_FALSE(Exists(hostTemp_)) << "the plug-in does not create the host's folder";
}

TEST_F(HostRobustnessTest, FolderNotWritable)
{
    const HANDLE probe = CreateFileA((std::string(kUnwritableFolder) + "probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
    host::SetTempFolder(kUnwritableFolder);
    ExpectEveryPathToCopeWithTheFolder(kUnwritableFolder);
}

TEST_F(HostRobustnessTest, FolderSoDeepThatStagingPathsPassMaxPath)
{
    // "Text1.txt", "Image1.png", the host's "ov00001.png" and "docs.zip" no longer fit.
    const std::string deep = FolderOfLength(hostTemp_, MAX_PATH - 4);
    ASSERT_TRUE(CreateFolders(deep));
    host::SetTempFolder(deep);
    ExpectEveryPathToCopeWithTheFolder(deep);
}

TEST_F(HostRobustnessTest, FolderDeepEnoughThatOnlyThePackingCopyPassesTheLimit)
{
    // The archive's path and the packing folder's fit, the packing copy's (the folder, a GUID, a
    // backslash, "docs") passes 258 bytes.
    const std::string deep = FolderOfLength(hostTemp_, 220);
    ASSERT_TRUE(CreateFolders(deep));
    host::SetTempFolder(deep);

    ASSERT_TRUE(PutText("text"));
    Run();
    EXPECT_EQ(AttachedBytes(), "text");
    ASSERT_TRUE(PutFiles({docs_}));
    Run(DismissBox);
    ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
    // A failed packing leaves nothing: neither the archive nor the packing folder.
    EXPECT_TRUE(List(deep).empty());
}

// A staging file that cannot be written whole or closed fails with the message and is removed
// again.
TEST_F(HostRobustnessTest, StagingFileThatCannotBeWrittenOrClosed)
{
    const auto hook = [this](const char* function, FARPROC replacement) {
        return ReplaceImport(plugin_, "kernel32.dll", function, replacement);
    };
    g_writeFile = reinterpret_cast<WriteFileFn>(hook("WriteFile", reinterpret_cast<FARPROC>(FaultyWriteFile)));
    g_closeHandle = reinterpret_cast<CloseHandleFn>(hook("CloseHandle", reinterpret_cast<FARPROC>(FaultyCloseHandle)));
    ASSERT_TRUE(g_writeFile && g_closeHandle);

    for (const Fault fault : {Fault::kWriteFails, Fault::kShortWrite, Fault::kCloseFails}) {
        SCOPED_TRACE(static_cast<int>(fault));
        g_fault = fault;
        ASSERT_TRUE(PutText("text"));
        RunExpectingMessage(text::kAttachFailed, MB_ICONERROR);
        g_fault = Fault::kNone;
        ExpectHostTemp();
    }
}

// Each step on a new file of the plug-in's own outlasts a scanner that holds the file for its first
// two tries: the attachment is made, and nothing is left behind. A file that cannot be deleted once
// the host took it stays in the host's folder, which the host cleans; the mail has the attachment,
// so nothing is said.
TEST_F(HostRobustnessTest, StepsOnNewFilesOutlastAScanner)
{
    const struct {
        const char* dll;
        const char* function;
        FARPROC hook;  // failing as the import does; GDI+ with Win32Error (7)
    } imports[] = {{"gdiplus.dll", "GdipSaveImageToFile", FARPROC(Scanned<0, int, 7, void*, void*, void*, void*>)},
                   {"kernel32.dll", "MoveFileA", FARPROC(Scanned<1, BOOL, FALSE, LPCSTR, LPCSTR>)},
                   {"kernel32.dll", "DeleteFileA", FARPROC(Scanned<2, BOOL, FALSE, LPCSTR>)},
                   {"kernel32.dll", "RemoveDirectoryA", FARPROC(Scanned<3, BOOL, FALSE, LPCSTR>)},
                   {"kernel32.dll", "DeleteFileW", FARPROC(Scanned<4, BOOL, FALSE, LPCWSTR>)},
                   {"kernel32.dll", "RemoveDirectoryW", FARPROC(Scanned<5, BOOL, FALSE, LPCWSTR>)}};
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(g_real[i] = ReplaceImport(plugin_, imports[i].dll, imports[i].function, imports[i].hook));
    }
    const std::function<bool()> text = [] { return PutText("text"); }, folder = [this] { return PutFiles({docs_}); },
                                image = [] { return PutBitmap(MakePatternBitmap(4, 4)); };
    const struct {
        int import, calls;  // that fail: two as a scanner's, or every one
        std::function<bool()> put;
        Paths left = {};
        bool hostsFile = false;  // the host's own file under the attachment's name
        Robot::Script cancel = nullptr;
    } steps[] = {
        {0, 2, image}, {1, 2, image}, {2, 2, text}, {2, 2, folder}, {3, 2, text, {"Text1.txt"}, true}, {4, 2, folder},
        {5, 2, folder}, {2, 2, image, {}, false, InDialog(kImageCaption, nullptr, IDCANCEL)},  // the staged picture
        {2, 1000, text, {"Text1.txt"}}, {2, 1000, image, {"Image1.png"}}, {2, 1000, folder, {"docs.zip"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(std::string(imports[step.import].function) + " in row " + std::to_string(&step - steps));
        if (step.hostsFile) { ASSERT_TRUE(WriteBytes(hostTemp_ + "Text1.txt", "the host's")); }
        ASSERT_TRUE(step.put());
        SetConfirmations(step.cancel ? 1 : 0);
        g_scanned = step.import;
        g_scannerCalls = step.calls;
        Run(step.cancel);
        if (step.calls == 2) { EXPECT_EQ(g_scannerCalls, 0); }
        g_scanned = -1;
        EXPECT_EQ(AttachedPaths().size(), step.cancel ? 0u : 1u);
        ExpectOnlyBoxes({});
        ExpectHostTemp(step.left);
        EmptyHostTemp();
    }
}

// A file or folder of the host's under an attachment's name stays as it was, the attachment made in
// a short folder of the command's own; also when a copy fails, its source held open unshared.
TEST_F(HostRobustnessTest, TheHostsFilesUnderTheNameOfAnAttachmentStayAsTheyAre)
{
    const std::wstring resume = Wide(work_) + L"résumé.txt";
    ASSERT_TRUE(WriteBytes(resume, "copied"));
    const struct {
        const char* name;
        std::function<bool()> put;
        DWORD separately;
        const char* bytes;  // what the attachment holds (see Content), when the test can tell
        bool sourceHeld;
    } paths[] = {
        {"Text1.txt", [] { return PutText("text"); }, 1, "text", false},
        {"Image1.png", [] { return PutBitmap(MakePatternBitmap(4, 4)); }, 1, nullptr, false},
        {"resume.txt", [&] { return PutWideFiles({resume}); }, 1, "copied", false},
        {"docs.zip", [this] { return PutFiles({docs_}); }, 1, nullptr, false},
        {"Files1.zip", [this] { return PutFiles({file_}); }, 0, "a.txt: A", false},
        {"resume.txt", [&] { return PutWideFiles({resume}); }, 1, nullptr, true},
    };
    const std::string hosts = "the host's own";
    for (const auto& path : paths) {
        WriteDword("DLAttachFileSeparately", path.separately);
        const std::string taken = hostTemp_ + path.name;
        for (const bool folder : {false, true}) {
            SCOPED_TRACE(std::string(path.name) + (folder ? " folder" : "") + (path.sourceHeld ? " held" : ""));
            ASSERT_TRUE(folder ? CreateDirectoryA(taken.c_str(), nullptr) : WriteBytes(taken, hosts));
            ASSERT_TRUE(path.put());
            const dl::UniqueFile holder(
                path.sourceHeld ? CreateFileW(resume.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                : INVALID_HANDLE_VALUE);
            if (path.sourceHeld) {
                RunExpectingMessage(text::kAttachFailed, MB_ICONERROR);
            } else {
                Run();
                Paths attached = AttachedPaths();
                ASSERT_EQ(attached.size(), 1u);
                EXPECT_EQ(attached[0].erase(hostTemp_.size(), 9), taken) << "less a folder of eight characters";
                const std::string bytes = AttachedBytes();
                if (path.bytes) { EXPECT_EQ(Content(bytes), path.bytes); }
                EXPECT_FALSE(bytes.empty());
            }
            ExpectHostTemp({path.name});
            std::string kept;
            EXPECT_TRUE(folder ? List(taken).empty() : ReadBytes(taken, kept) && kept == hosts) << kept;
            EXPECT_TRUE(folder ? RemoveDirectoryA(taken.c_str()) : DeleteFileA(taken.c_str()));
        }
    }
}

}  // namespace
