// Folders packed through the stand-in for the shell's ZIP handler under bad conditions: links
// that lead back up the tree, very many files, a handler that misbehaves in each of its ways, a
// source file held open elsewhere, a copy that fails half-way, the user's Cancel. The user's files
// never change, failures end in one message, and nothing of ours stays in the host's folder.
#include "common/texts.h"
#include "common/win.h"
#include "tests/rig/import_hook.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/folder_link.h"
#include "tests/support/robustness.h"
#include "tests/support/source_tree.h"
#include "tests/support/com_setup.h"

#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

using namespace rig;
namespace text = dl::text;

namespace {

using Clock = std::chrono::steady_clock;

// A relative path as Snapshot keys it.
std::wstring FromUtf8(const std::string& text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

// A packing folder: a GUID in registry form.
bool IsPackingFolder(const std::string& name)
{
    return name.size() == 38 && name.front() == '{' && name.back() == '}';
}

// Reparse points that Wine cannot make, as Windows lists them: the plug-in's folder listings
// give these names the attribute and the tag.
const struct {
    const char* name;
    DWORD tag;
} kTaggedNames[] = {
    {"cloud", IO_REPARSE_TAG_CLOUD},       // a cloud-synchronised folder
    {"dedup.txt", IO_REPARSE_TAG_DEDUP},   // a file on a deduplicated volume
    {"junction", IO_REPARSE_TAG_MOUNT_POINT},
};

using FindFirstFn = HANDLE(WINAPI*)(LPCWSTR, LPWIN32_FIND_DATAW);
using FindNextFn = BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAW);
FindFirstFn g_findFirst = nullptr;
FindNextFn g_findNext = nullptr;
// The packing copy's file copies, failing from the nth on.
int g_copies = 0;
int g_copyFailsFrom = 0;
// Once the progress dialog is up, the copy stops half-way in a file until this event is set.
HANDLE g_copyGoesOn = nullptr;
// How often the plug-in created the progress dialog.
int g_progressDialogs = 0;
// The plug-in's clock: it moves only as the test says, by a step at each reading.
std::atomic<ULONGLONG> g_clockMs{1000000};
std::atomic<ULONGLONG> g_clockStepMs{0};

// The file names of the tests are ASCII; the plug-in reads the user's folders in UTF-16.
std::string Ascii(const wchar_t* name) { return std::string(name, name + std::wcslen(name)); }

void TagListedEntry(WIN32_FIND_DATAW& entry)
{
    entry.dwReserved0 = 0;
    for (const auto& tagged : kTaggedNames) {
        if (Ascii(entry.cFileName) != tagged.name) continue;
        entry.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        entry.dwReserved0 = tagged.tag;
    }
}

HANDLE WINAPI TaggingFindFirst(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    const HANDLE find = g_findFirst(pattern, entry);
    if (find != INVALID_HANDLE_VALUE) TagListedEntry(*entry);
    return find;
}

BOOL WINAPI TaggingFindNext(HANDLE find, LPWIN32_FIND_DATAW entry)
{
    const BOOL found = g_findNext(find, entry);
    if (found) TagListedEntry(*entry);
    return found;
}

// As Windows copies a large file: it reports half-way (Wine never reports), and stops there when
// told to.
BOOL WINAPI CopyFileExAsConfigured(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE report, LPVOID data, LPBOOL cancel,
                                   DWORD flags)
{
    if (g_copyFailsFrom != 0 && ++g_copies >= g_copyFailsFrom) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    if (g_copyGoesOn && report && FindOurDialog(text::kProgressTitle)) {
        WIN32_FILE_ATTRIBUTE_DATA source{};
        GetFileAttributesExW(from, GetFileExInfoStandard, &source);
        LARGE_INTEGER size{}, half{};
        size.QuadPart = source.nFileSizeLow;
        half.QuadPart = size.QuadPart / 2;
        for (int reports = 0; reports < 2; ++reports) {
            if (report(size, half, size, half, 1, CALLBACK_CHUNK_FINISHED, nullptr, nullptr, data) ==
                PROGRESS_CANCEL) {
                SetLastError(ERROR_REQUEST_ABORTED);
                return FALSE;
            }
            if (reports == 0) WaitForSingleObject(g_copyGoesOn, 60000);
        }
    }
    return CopyFileExW(from, to, nullptr, nullptr, cancel, flags);
}

ULONGLONG WINAPI TestClock() { return g_clockMs += g_clockStepMs; }

// The texts of a dialog's controls, once they hold every one of `wanted`; fails with what they held.
void ExpectControlTexts(Robot& r, HWND dialog, const std::vector<std::string>& wanted)
{
    std::vector<std::string> texts;
    const auto holds = [&](const std::string& text) { return std::count(texts.begin(), texts.end(), text) != 0; };
    for (int i = 0; i < 400 && (texts.empty() || !std::all_of(wanted.begin(), wanted.end(), holds)); ++i) {
        if (i) r.Sleep(25);
        texts.clear();
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            texts.push_back(r.WindowText(child));
        }
    }
    std::string seen;
    for (const std::string& text : texts) seen += " [" + text + "]";
    EXPECT_TRUE(std::all_of(wanted.begin(), wanted.end(), holds)) << "the dialog showed" << seen;
}

HRESULT WINAPI CountingCoCreateInstance(REFCLSID id, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object)
{
    if (IsEqualCLSID(id, CLSID_ProgressDialog)) ++g_progressDialogs;
    return CoCreateInstance(id, outer, context, iid, object);
}

// Windows makes a folder created with a link as its template a link to the same place; Wine
// ignores the template. This does what Windows does, for the one link a test names.
std::string g_templateLink;
std::string g_templateTarget;

BOOL WINAPI CreateDirectoryExAsWindows(LPCWSTR templateFolder, LPCWSTR folder, LPSECURITY_ATTRIBUTES security)
{
    if (g_templateLink == Ascii(templateFolder)) return MakeFolderLink(Ascii(folder), g_templateTarget);
    return CreateDirectoryW(folder, security);
}

class ZipRobustnessTest : public RobustnessTest {
protected:
    void TearDown() override
    {
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", nullptr);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", nullptr);
        g_copies = g_copyFailsFrom = 0;
        g_clockStepMs = 0;
        RobustnessTest::TearDown();
    }

    void HookPackingCopy()
    {
        ASSERT_TRUE(ReplaceImport(plugin_, "kernel32.dll", "CopyFileExW",
                                  reinterpret_cast<FARPROC>(CopyFileExAsConfigured)));
    }

    // The one attachment is an archive of `tree` under "docs" and nothing else; nothing was said
    // and nothing is left.
    void ExpectOnlyTheTreeArchived(const SourceTree& tree) const
    {
        const auto archive = ReadArchive(AttachedBytes());
        ExpectTreeInArchive(archive, "docs", tree);
        EXPECT_EQ(archive.names().size(), 1 + tree.folders.size() + tree.files.size());
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    }

    // The names of the one attachment's archive.
    std::vector<std::string> ArchivedNames() const { return ReadArchive(AttachedBytes()).names(); }

    // Every file of the folder can be written again: no lock of ours is left on it.
    static bool Writable(const std::string& folder)
    {
        for (const auto& [relative, bytes] : Snapshot(folder)) {
            if (relative.back() == '\\') continue;
            const std::wstring path = Wide(folder) + L"\\" + FromUtf8(relative);
            const dl::UniqueFile file(
                CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) return false;
        }
        return true;
    }
};

TEST_F(ZipRobustnessTest, LinkBackUpTheTreeIsLeftOutOfTheArchive)
{
    const std::string docs = Folder("docs");
    File("docs\\a.txt", "A");
    Folder("docs\\sub");
    File("docs\\sub\\b.txt", "B");
    if (!MakeFolderLink(docs + "\\sub\\loop", docs)) GTEST_SKIP() << "no linked folders on this system";
    const auto before = Snapshot(work_);

    ASSERT_TRUE(PutFiles({docs}));
    ExpectNoGrowth([&] {
        Run();
        EXPECT_EQ(ArchivedNames(), (Paths{"docs/", "docs/a.txt", "docs/sub/", "docs/sub/b.txt"}));
        ExpectOnlyBoxes({});
        ExpectHostTemp();
    });
    EXPECT_EQ(Snapshot(work_), before);
    EXPECT_TRUE(RemoveFolderLink(docs + "\\sub\\loop"));
}

TEST_F(ZipRobustnessTest, FoldersWithReparsePointsThatAreNotLinksArePackedWhole)
{
    const std::string docs = Folder("docs");
    File("docs\\a.txt", "A");
    File("docs\\dedup.txt", "D");
    Folder("docs\\cloud");
    File("docs\\cloud\\c.txt", "C");
    Folder("docs\\cloud\\deep");
    File("docs\\cloud\\deep\\d.txt", "D");
    Folder("docs\\junction");
    File("docs\\junction\\elsewhere.txt", "E");
    const bool wineLink = MakeFolderLink(docs + "\\loop", docs);
    g_findFirst = reinterpret_cast<FindFirstFn>(
        ReplaceImport(plugin_, "kernel32.dll", "FindFirstFileW", reinterpret_cast<FARPROC>(TaggingFindFirst)));
    g_findNext = reinterpret_cast<FindNextFn>(
        ReplaceImport(plugin_, "kernel32.dll", "FindNextFileW", reinterpret_cast<FARPROC>(TaggingFindNext)));
    ASSERT_TRUE(g_findFirst && g_findNext);
    const auto before = Snapshot(work_);

    ASSERT_TRUE(PutFiles({docs}));
    Run();
    Paths names = ArchivedNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Paths{"docs/", "docs/a.txt", "docs/cloud/", "docs/cloud/c.txt", "docs/cloud/deep/",
                            "docs/cloud/deep/d.txt", "docs/dedup.txt"}))
        << "the junction and the link are left out, everything else is packed";
    ExpectOnlyBoxes({});
    ExpectHostTemp();
    EXPECT_EQ(Snapshot(work_), before);
    if (wineLink) {
        EXPECT_TRUE(RemoveFolderLink(docs + "\\loop"));
    }
}

// The copied folder is itself a link: the packing copy is a plain folder holding what the link
// leads to, never a link into the user's data.
TEST_F(ZipRobustnessTest, CopiedLinkIsPackedAsAPlainFolderOfWhatItLeadsTo)
{
    const std::string target = Folder("target");
    File("target\\t.txt", "T");
    Folder("target\\sub");
    File("target\\sub\\u.txt", "U");
    const std::string link = work_ + "link";
    if (!MakeFolderLink(link, target)) GTEST_SKIP() << "no linked folders on this system";
    g_templateLink = link;
    g_templateTarget = target;
    ReplaceImport(plugin_, "kernel32.dll", "CreateDirectoryExW", reinterpret_cast<FARPROC>(CreateDirectoryExAsWindows));
    const auto before = Snapshot(target);

    ASSERT_TRUE(PutFiles({link}));
    Run();
    EXPECT_EQ(AttachedPaths(), Paths{hostTemp_ + "link.zip"});
    Paths names = ArchivedNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Paths{"link/", "link/sub/", "link/sub/u.txt", "link/t.txt"}));
    ExpectOnlyBoxes({});
    ExpectHostTemp();
    EXPECT_EQ(Snapshot(target), before);
    g_templateLink.clear();
    EXPECT_TRUE(RemoveFolderLink(link));
}

TEST_F(ZipRobustnessTest, FolderOfTenThousandSmallFiles)
{
    const std::string many = Folder("many");
    constexpr int kFiles = 10000;
    for (int i = 0; i < kFiles; ++i) WriteBytes(many + "\\f" + std::to_string(i) + ".txt", std::to_string(i));
    ASSERT_TRUE(PutFiles({many}));

    // How fast this goes is the packing benchmark's business; here it must only finish, and on a
    // loaded machine that can take minutes.
    robot_.SetCommandLimit(300000);
    const auto start = Clock::now();
    Run();
    std::printf("packed %d files in %.1f s\n", kFiles, SecondsSince(start));
    const auto archive = ReadArchive(AttachedBytes());
    ASSERT_EQ(archive.entries().size(), 1u + kFiles);
    const dropline::test::ZipEntry* last = archive.Find("many/f9999.txt");
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->uncompressedSize, 4u);
    ExpectOnlyBoxes({});
    ExpectHostTemp();
    EXPECT_TRUE(Writable(many));
}

// A thousand entries are attached one by one in the file tests; packed into one archive, each
// entry is a request to the handler of its own, and a hundred of them show the same.
TEST_F(ZipRobustnessTest, HundredEntriesInOneArchive)
{
    WriteDword("DLAttachFileSeparately", 0);
    Paths files;
    for (int i = 0; i < 100; ++i) files.push_back(File("e" + std::to_string(i) + ".txt", std::to_string(i)));
    const auto before = Snapshot(work_);
    ASSERT_TRUE(PutFiles(files));

    Run();
    const auto archive = ReadArchive(AttachedBytes());
    ASSERT_EQ(archive.entries().size(), files.size());
    EXPECT_EQ(archive.names().front(), "e0.txt");
    EXPECT_EQ(archive.names().back(), "e99.txt");
    EXPECT_EQ(AttachedPaths(), Paths{hostTemp_ + "Files1.zip"});
    ExpectOnlyBoxes({});
    ExpectHostTemp();
    EXPECT_EQ(Snapshot(work_), before);
}

// Each way the handler can misbehave, an archive it left incomplete included, ends in its failure
// message with the user's files unchanged and unlocked, and neither the packing copy nor the
// archive left behind.
TEST_F(ZipRobustnessTest, MisbehavingHandlerInEachWayAndBothModes)
{
    ASSERT_TRUE(ReplaceImport(plugin_, "kernel32.dll", "GetTickCount64", reinterpret_cast<FARPROC>(TestClock)));
    const std::string a = File("a.txt", "A");
    const std::string docs = Folder("docs");
    MakeSourceTree(docs);
    const auto before = Snapshot(work_);
    // A handler that leaves the archive incomplete, or never packs, is given at least its bounded
    // time and is reported within 45 s (of the plug-in's clock); one whose archive vanishes, at once.
    const struct {
        const char* mode;
        const char* message;
        ULONGLONG fromMs, withinMs;
    } cases[] = {
        {"nofolder", text::kNoZipFolder, 0, 30000}, {"copyfail", text::kAttachFailed, 0, 30000},
        {"vanish", text::kAttachFailed, 0, 30000},  {"partial", text::kAttachFailed, 30000, 45000},
        {"never", text::kAttachFailed, 30000, 45000},
    };
    for (const auto& c : cases) {
        for (const DWORD separately : {1u, 0u}) {
            SCOPED_TRACE(std::string(c.mode) + (separately ? " separately" : " one archive"));
            WriteDword("DLAttachFileSeparately", separately);
            SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", c.mode);
            ASSERT_TRUE(PutFiles({a, docs}));
            g_clockStepMs = 250;
            const ULONGLONG start = g_clockMs;
            Run([](Robot& r) { r.DismissMessageBox(120000); });
            g_clockStepMs = 0;
            EXPECT_GE(g_clockMs - start, c.fromMs);
            EXPECT_LT(g_clockMs - start, c.withinMs);
            ExpectOnlyBoxes({{compose_, c.message, MB_ICONERROR}});
            EXPECT_EQ(AttachedPaths(), separately ? Paths{a} : Paths{}) << "files before the folder stay attached";
            ExpectHostTemp();
            EXPECT_EQ(Snapshot(work_), before);
            EXPECT_TRUE(Writable(docs));
            EmptyHostTemp();
        }
    }
}

// Disk full in the middle of the packing copy: the one message, and nothing of the copy left.
TEST_F(ZipRobustnessTest, CopyFailingHalfWayLeavesNothingBehind)
{
    HookPackingCopy();
    const std::string a = File("a.txt", "A");
    const std::string docs = Folder("docs");
    MakeSourceTree(docs);
    const auto before = Snapshot(work_);
    for (const DWORD separately : {1u, 0u}) {
        SCOPED_TRACE(separately ? "separately" : "one archive");
        WriteDword("DLAttachFileSeparately", separately);
        g_copies = 0;
        g_copyFailsFrom = 3;
        ASSERT_TRUE(PutFiles({a, docs}));
        Run(DismissBox);
        ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
        EXPECT_EQ(AttachedPaths(), separately ? Paths{a} : Paths{});
        ExpectHostTemp();
        EXPECT_EQ(Snapshot(work_), before);
        EXPECT_TRUE(Writable(docs));
    }
}

// The progress dialog appears once packing has taken a second (of the plug-in's clock, which the
// test moves): the phase, the folder's name and the bytes of the copy, then a bar without measure
// while the handler packs. Its Cancel stops the copy, or discards what the handler made once it
// ends; either way nothing is attached from that step, nothing is said and nothing is left. A
// short packing shows nothing.
TEST_F(ZipRobustnessTest, ProgressAndCancelInEachPhase)
{
    HookPackingCopy();
    ASSERT_TRUE(ReplaceImport(plugin_, "ole32.dll", "CoCreateInstance",
                              reinterpret_cast<FARPROC>(CountingCoCreateInstance)));
    ASSERT_TRUE(ReplaceImport(plugin_, "kernel32.dll", "GetTickCount64", reinterpret_cast<FARPROC>(TestClock)));
    const std::string a = File("a.txt", "A");
    const std::string docs = Folder("docs");
    constexpr int kFiles = 30;
    for (int i = 0; i < kFiles; ++i) File("docs\\f" + std::to_string(i) + ".bin", std::string(1000, 'x'));
    const auto before = Snapshot(work_);

    g_progressDialogs = 0;
    ASSERT_TRUE(PutFiles({docs}));
    Run();
    EXPECT_EQ(g_progressDialogs, 0) << "a short packing";
    EXPECT_EQ(AttachedPaths(), Paths{hostTemp_ + "docs.zip"});

    const dl::UniqueHandle copyGoesOn(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    // In one archive, the file before the folder is the first to be packed.
    const struct {
        const char* phase;
        const char* name;
        const char* handlerMode;
        DWORD separately;
        Paths attached;
    } cases[] = {
        {text::kProgressCopying, "docs", nullptr, 1, {a}},
        {text::kProgressCompressing, "a.txt", "held", 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phase);
        WriteDword("DLAttachFileSeparately", c.separately);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", c.handlerMode);
        const bool copying = c.handlerMode == nullptr;
        g_copyGoesOn = copying ? copyGoesOn.get() : nullptr;
        ResetEvent(copyGoesOn.get());
        HandlerRelease release;
        g_clockStepMs = 100;
        ASSERT_TRUE(PutFiles({a, docs}));
        LONG barStyle = 0;
        LRESULT barRange = 0;
        Run([&](Robot& r) {
            HWND dialog = r.WaitDialog(text::kProgressTitle, 30000);
            ExpectControlTexts(r, dialog, {c.phase, c.name});
            // From here on the time stands still: Cancel's grace never runs out.
            g_clockStepMs = 0;
            HWND bar = FindWindowExA(dialog, nullptr, PROGRESS_CLASSA, nullptr);
            barStyle = GetWindowLongA(bar, GWL_STYLE);
            barRange = r.Send(bar, PBM_GETRANGE, FALSE, 0);
            // Sent, not posted: the command's thread takes no posted message while it is held.
            r.Send(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            SetEvent(copyGoesOn.get());
            release.Release();
            r.WaitGone(dialog, 60000);
        });
        g_copyGoesOn = nullptr;
        if (copying) {
            EXPECT_FALSE(barStyle & PBS_MARQUEE);
            EXPECT_EQ(barRange, kFiles * 1000) << "the bytes of the copy";
        } else {
            EXPECT_TRUE(barStyle & PBS_MARQUEE);
        }
        EXPECT_EQ(AttachedPaths(), c.attached);
        ExpectOnlyBoxes({});
        ExpectHostTemp();
        EXPECT_EQ(Snapshot(work_), before);
        EXPECT_TRUE(Writable(docs));
    }
}

TEST_F(ZipRobustnessTest, SlowHandlerIsWaitedFor)
{
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", "slow");
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", "200");
    const std::string docs = Folder("docs");
    const SourceTree tree = MakeSourceTree(docs);
    ASSERT_TRUE(PutFiles({docs}));
    ExpectNoGrowth([&] {
        Run();
        ExpectOnlyTheTreeArchived(tree);
    });
}

TEST_F(ZipRobustnessTest, FileHeldOpenForWritingElsewhere)
{
    const std::string a = File("a.txt", "A");
    const std::string docs = Folder("docs");
    const std::string busy = File("docs\\busy.txt", "being written");
    const auto before = Snapshot(work_);
    const dl::UniqueFile writer(
        CreateFileA(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);

    // Separately, a file held open is attached from where it lies; a folder holding one cannot be
    // packed. In one archive, neither can.
    const struct {
        DWORD separately;
        Paths list, attached;
    } cases[] = {
        {1, {busy, a}, {busy, a}},
        {1, {a, docs}, {a}},
        {0, {a, busy}, {}},
    };
    for (const auto& c : cases) {
        WriteDword("DLAttachFileSeparately", c.separately);
        ASSERT_TRUE(PutFiles(c.list));
        const bool fails = c.attached.size() != c.list.size();
        Run(fails ? DismissBox : Robot::Script());
        EXPECT_EQ(AttachedPaths(), c.attached);
        if (fails) ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
        else ExpectOnlyBoxes({});
        ExpectHostTemp();
    }
    EXPECT_EQ(Snapshot(work_), before);
    // The other program's handle still writes.
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer.get(), "more", 4, &written, nullptr));
}

TEST_F(ZipRobustnessTest, NamesThatMeetInTheHostFolder)
{
    // Two folders of the same name one after the other: each archive is made, attached and gone
    // before the next.
    const std::string one = Folder("one"), two = Folder("two");
    Folder("one\\docs");
    File("one\\docs\\first.txt", "1");
    Folder("two\\docs");
    File("two\\docs\\second.txt", "2");
    Folder("ソース表");
    File("ソース表\\表.txt", "3");
    const auto before = Snapshot(work_);

    ASSERT_TRUE(PutFiles({one + "\\docs", two + "\\docs", work_ + "ソース表"}));
    Run();
    const auto attachments = host::Attachments();
    ASSERT_EQ(attachments.size(), 3u);
    EXPECT_EQ(attachments[0].path, hostTemp_ + "docs.zip");
    EXPECT_EQ(attachments[1].path, hostTemp_ + "docs.zip");
    EXPECT_EQ(attachments[2].path, hostTemp_ + "ソース表.zip");
    EXPECT_EQ(ReadArchive(attachments[0].bytes).names(), (Paths{"docs/", "docs/first.txt"}));
    EXPECT_EQ(ReadArchive(attachments[1].bytes).names(), (Paths{"docs/", "docs/second.txt"}));
    EXPECT_EQ(ReadArchive(attachments[2].bytes).names(), (Paths{"ソース表/", "ソース表/表.txt"}));
    ExpectOnlyBoxes({});
    ExpectHostTemp();
    EXPECT_EQ(Snapshot(work_), before);
}

TEST_F(ZipRobustnessTest, EntryDeletedWhileTheDialogIsOpenInOneArchive)
{
    WriteDword("DLAttachFileSeparately", 0);
    WriteDword("DLConfirmFile", 1);
    const std::string a = File("a.txt", "A"), b = File("b.txt", "B");
    ASSERT_TRUE(PutFiles({a, b}));
    Run(InDialog(kFileCaption, [&](Robot&, HWND) { DeleteFileA(a.c_str()); }));
    EXPECT_EQ(ReadArchive(AttachedBytes()).names(), Paths{"b.txt"});
    ExpectOnlyBoxes({});
    ExpectHostTemp();
}

// Packing a folder takes time, and entries after it may go meanwhile: they are left out, in both
// modes, and nothing is said.
TEST_F(ZipRobustnessTest, EntriesGoneWhileEarlierOnesArePackedAreLeftOut)
{
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", "held");
    const std::string docs = Folder("docs");
    const SourceTree tree = MakeSourceTree(docs);
    for (const DWORD separately : {1u, 0u}) {
        SCOPED_TRACE(separately ? "separately" : "one archive");
        WriteDword("DLAttachFileSeparately", separately);
        const std::string file = File("b.txt", "B");
        const std::string folder = Folder("gone");
        File("gone\\g.txt", "G");
        ASSERT_TRUE(PutFiles({docs, file, folder}));
        HandlerRelease release;
        Run([&](Robot& r) {
            // Once the first folder is being packed; the handler goes on when they are gone.
            Paths names;
            for (int i = 0; i < 1200 && std::none_of(names.begin(), names.end(), IsPackingFolder); ++i) {
                r.Sleep(25);
                names = List(hostTemp_);
            }
            ASSERT_TRUE(std::any_of(names.begin(), names.end(), IsPackingFolder))
                << "no packing began within 30 s; the host's folder held " << names.size() << " names";
            EXPECT_TRUE(DeleteFileA(file.c_str()));
            DeleteTree(folder);
            release.Release();
        });
        EXPECT_EQ(AttachedPaths(), Paths{hostTemp_ + (separately ? "docs.zip" : "Files1.zip")});
        ExpectOnlyTheTreeArchived(tree);
    }
}

// Memory may run out at any allocation of the file path, also inside the checks that cannot
// raise: each must end in the one failure message, never in the end of the host.
TEST_F(ZipRobustnessTest, EachAllocationOfTheFilePathFailingInTurnEndsInOneMessage)
{
    const std::string a = File("a.txt", "A");
    const std::string docs = Folder("docs");
    File("docs\\b.txt", "B");
    ASSERT_TRUE(InstallAllocationFaults(plugin_));
    // A clean run first: how many allocations the command makes, each failed in turn after.
    ASSERT_TRUE(PutFiles({a, docs}));
    StartCountingAllocations();
    Run();
    const int allocations = AllocationsCounted();
    EXPECT_EQ(AttachedPaths(), (Paths{a, hostTemp_ + "docs.zip"}));
    ASSERT_GT(allocations, 0);
    for (int failing = 1; failing <= allocations; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing) + " of " + std::to_string(allocations));
        ASSERT_TRUE(PutFiles({a, docs}));
        FailAllocation(failing);
        Run([](Robot& r) { r.DismissMessageBoxIfShown(); });
        FailAllocation(0);
        if (RecordedBoxes().empty()) {
            // Tolerated: the command got through all the same.
            EXPECT_EQ(AttachedPaths(), (Paths{a, hostTemp_ + "docs.zip"}));
        } else {
            ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
        }
        EmptyHostTemp();
    }
}

}  // namespace
