// Folders packed through the stand-in for the shell's ZIP handler under bad conditions: links
// that lead back up the tree, very many files, a handler that misbehaves in each of its ways, a
// source file held open elsewhere. The user's files never change, failures end in one message,
// and only what a failure leaves on purpose stays in the host's folder.
#include "common/texts.h"
#include "common/win.h"
#include "tests/rig/import_hook.h"
#include "tests/support/allocation_faults.h"
#include "tests/support/folder_link.h"
#include "tests/support/robustness.h"
#include "tests/support/source_tree.h"
#include "tests/rig/wine_gaps.h"
#include "zip/thread_wait.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

using namespace rig;
namespace text = dl::text;

namespace {

using Clock = std::chrono::steady_clock;

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

using FindFirstFn = HANDLE(WINAPI*)(LPCSTR, LPWIN32_FIND_DATAA);
using FindNextFn = BOOL(WINAPI*)(HANDLE, LPWIN32_FIND_DATAA);
FindFirstFn g_findFirst = nullptr;
FindNextFn g_findNext = nullptr;

void TagListedEntry(WIN32_FIND_DATAA& entry)
{
    entry.dwReserved0 = 0;
    for (const auto& tagged : kTaggedNames) {
        if (std::strcmp(entry.cFileName, tagged.name) != 0) continue;
        entry.dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        entry.dwReserved0 = tagged.tag;
    }
}

HANDLE WINAPI TaggingFindFirst(LPCSTR pattern, LPWIN32_FIND_DATAA entry)
{
    const HANDLE find = g_findFirst(pattern, entry);
    if (find != INVALID_HANDLE_VALUE) TagListedEntry(*entry);
    return find;
}

BOOL WINAPI TaggingFindNext(HANDLE find, LPWIN32_FIND_DATAA entry)
{
    const BOOL found = g_findNext(find, entry);
    if (found) TagListedEntry(*entry);
    return found;
}

// Windows makes a folder created with a link as its template a link to the same place; Wine
// ignores the template. This does what Windows does, for the one link a test names.
std::string g_templateLink;
std::string g_templateTarget;

BOOL WINAPI CreateDirectoryExAsWindows(LPCSTR templateFolder, LPCSTR folder, LPSECURITY_ATTRIBUTES security)
{
    if (g_templateLink == templateFolder) return MakeFolderLink(folder, g_templateTarget);
    return CreateDirectoryA(folder, security);
}

class ZipRobustnessTest : public RobustnessTest {
protected:
    void TearDown() override
    {
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", nullptr);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", nullptr);
        RobustnessTest::TearDown();
    }

    // Runs the command; threads a misbehaving handler left running end on their own, within
    // a second or two, and are waited for.
    void RunAndWaitForTheHandler(const Robot::Script& script)
    {
        dl::ThreadIdSet before;
        ASSERT_EQ(dl::SnapshotProcessThreads(before), S_OK);
        Run(script);
        for (int i = 0; i < 100; ++i) {
            dl::ThreadIdSet now;
            dl::SnapshotProcessThreads(now);
            if (now.size() <= before.size()) return;
            Sleep(50);
        }
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
            const dl::UniqueFile file(CreateFileA((folder + "\\" + relative).c_str(), GENERIC_WRITE, 0, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) return false;
        }
        return true;
    }
};

TEST_F(ZipRobustnessTest, LinkBackUpTheTreeIsLeftOutOfTheArchive)
{
    SKIP_WOW64_COM_HANDLE_LEAK();
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
        ReplaceImport(plugin_, "kernel32.dll", "FindFirstFileA", reinterpret_cast<FARPROC>(TaggingFindFirst)));
    g_findNext = reinterpret_cast<FindNextFn>(
        ReplaceImport(plugin_, "kernel32.dll", "FindNextFileA", reinterpret_cast<FARPROC>(TaggingFindNext)));
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
    ReplaceImport(plugin_, "kernel32.dll", "CreateDirectoryExA", reinterpret_cast<FARPROC>(CreateDirectoryExAsWindows));
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

// Each way the handler can misbehave ends in the one failure message with the user's files
// unchanged and unlocked. The packing folder stays (the handler may still be reading its copy);
// so does the archive, unless the failure was raised and the archive could be removed on the way
// out; a handler thread still running may write it again.
TEST_F(ZipRobustnessTest, MisbehavingHandlerInEachWayAndBothModes)
{
    const std::string a = File("a.txt", "A");
    const std::string docs = Folder("docs");
    MakeSourceTree(docs);
    const auto before = Snapshot(work_);
    const struct {
        const char* mode;
        bool archiveMayGo;
    } ways[] = {{"nofolder", true}, {"copyfail", false}, {"sync", true}, {"twelve", true}};
    for (const auto& way : ways) {
        for (const DWORD separately : {1u, 0u}) {
            SCOPED_TRACE(std::string(way.mode) + (separately ? " separately" : " one archive"));
            WriteDword("DLAttachFileSeparately", separately);
            SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", way.mode);
            ASSERT_TRUE(PutFiles({a, docs}));
            RunAndWaitForTheHandler(DismissBox);
            ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
            EXPECT_EQ(AttachedPaths(), separately ? Paths{a} : Paths{}) << "files before the folder stay attached";

            const std::string archive = separately ? "docs.zip" : "Files1.zip";
            Paths left = List(hostTemp_);
            const auto packing = std::remove_if(left.begin(), left.end(), IsPackingFolder);
            EXPECT_EQ(left.end() - packing, 1) << "one packing folder";
            left.erase(packing, left.end());
            if (!way.archiveMayGo || !left.empty()) {
                EXPECT_EQ(left, Paths{archive});
            }
            EXPECT_EQ(Snapshot(work_), before);
            EXPECT_TRUE(Writable(docs));
            EmptyHostTemp();
        }
    }
}

TEST_F(ZipRobustnessTest, SlowHandlerIsWaitedFor)
{
    SKIP_WOW64_COM_HANDLE_LEAK();
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
        Paths list, attached, left;
    } cases[] = {
        {1, {busy, a}, {busy, a}, {}},
        {1, {a, docs}, {a}, {"docs.zip"}},
        {0, {a, busy}, {}, {"Files1.zip"}},
    };
    for (const auto& c : cases) {
        WriteDword("DLAttachFileSeparately", c.separately);
        ASSERT_TRUE(PutFiles(c.list));
        Run(c.attached.size() == c.list.size() ? Robot::Script() : DismissBox);
        EXPECT_EQ(AttachedPaths(), c.attached);
        if (c.left.empty()) ExpectOnlyBoxes({});
        else ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
        ExpectHostTemp(c.left);
        EmptyHostTemp();
    }
    EXPECT_EQ(Snapshot(work_), before);
    // The other program's handle still writes.
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer.get(), "more", 4, &written, nullptr));
}

TEST_F(ZipRobustnessTest, NamesThatMeetInTheHostFolder)
{
    // Two folders of the same name one after the other: each archive is made, attached and gone
    // before the next. An archive name the host already holds is replaced, attached and deleted.
    const std::string one = Folder("one"), two = Folder("two");
    Folder("one\\docs");
    File("one\\docs\\first.txt", "1");
    Folder("two\\docs");
    File("two\\docs\\second.txt", "2");
    Folder("ソース表");
    File("ソース表\\表.txt", "3");
    ASSERT_TRUE(WriteBytes(hostTemp_ + "docs.zip", "the host's own file"));
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
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", "slow");
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", "800");
    const std::string docs = Folder("docs");
    const SourceTree tree = MakeSourceTree(docs);
    for (const DWORD separately : {1u, 0u}) {
        SCOPED_TRACE(separately ? "separately" : "one archive");
        WriteDword("DLAttachFileSeparately", separately);
        const std::string file = File("b.txt", "B");
        const std::string folder = Folder("gone");
        File("gone\\g.txt", "G");
        ASSERT_TRUE(PutFiles({docs, file, folder}));
        Run([&](Robot& r) {
            // Once the first folder is being packed.
            for (int i = 0; i < 200; ++i) {
                const Paths names = List(hostTemp_);
                if (std::any_of(names.begin(), names.end(), IsPackingFolder)) break;
                r.Sleep(25);
            }
            EXPECT_TRUE(DeleteFileA(file.c_str()));
            DeleteTree(folder);
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
    constexpr int kMostAllocations = 2000;
    bool succeeded = false;
    for (int failing = 1; failing <= kMostAllocations && !succeeded; ++failing) {
        SCOPED_TRACE("allocation " + std::to_string(failing));
        ASSERT_TRUE(PutFiles({a, docs}));
        FailAllocation(failing);
        Run([](Robot& r) {
            try {
                r.DismissMessageBox(3000);
            } catch (const RobotTimeout&) {
                // No message: the command got through.
            }
        });
        FailAllocation(0);
        const std::vector<rig::RecordedBox> boxes = RecordedBoxes();
        succeeded = boxes.empty();
        if (succeeded) {
            EXPECT_EQ(AttachedPaths(), (Paths{a, hostTemp_ + "docs.zip"}));
        } else {
            ExpectOnlyBoxes({{compose_, text::kAttachFailed, MB_ICONERROR}});
        }
        EmptyHostTemp();
    }
    EXPECT_TRUE(succeeded) << "the command never got through";
}

}  // namespace
