// Packing files and folders into archives: the empty archive, the source locks, the packing copy
// and its path limits, reading what an archive holds, and the whole packing through the stand-in
// for the shell's ZIP handler, also when it misbehaves, in each COM set-up a host may have. The
// calls are made directly, as the file attachment makes them.
#include "names/nearest_names.h"
#include "names/path_names.h"
#include "common/hresult.h"
#include "common/win.h"
#include "host/host_api.h"
#include "standins/host/host.h"
#include "tests/rig/files.h"
#include "tests/rig/import_hook.h"
#include "tests/rig/plugin_fixture.h"
#include "tests/support/com_setup.h"
#include "tests/support/folder_link.h"
#include "tests/support/handle_count.h"
#include "tests/support/source_tree.h"
#include "zip/zip_archive.h"
#include "zip/zip_directory.h"

#include "registration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

const std::string kEmptyArchive = std::string("PK\x05\x06") + std::string(18, '\0');
constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

std::string Bytes(const std::string& path)
{
    std::string bytes;
    EXPECT_TRUE(rig::ReadBytes(path, bytes)) << path;
    return bytes;
}

bool CanOpenForWriting(const std::string& path)
{
    dl::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

bool CanOpenForReading(const std::string& path)
{
    dl::UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
}

std::string Little(std::uint64_t value, int width)
{
    std::string bytes;
    for (int i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// A central directory entry, with the fields the reader looks at.
std::string DirectoryEntry(const std::string& name, std::uint16_t flags = 0)
{
    return Little(0x02014B50, 4) + std::string(4, '\0') + Little(flags, 2) + std::string(18, '\0') +
           Little(name.size(), 2) + std::string(16, '\0') + name;
}

std::string EndRecord(std::uint64_t entries, std::uint64_t size, std::uint64_t offset, const std::string& comment = "")
{
    return Little(0x06054B50, 4) + std::string(4, '\0') + Little(entries, 2) + Little(entries, 2) + Little(size, 4) +
           Little(offset, 4) + Little(comment.size(), 2) + comment;
}

class ZipArchiveTest : public ::testing::Test {
protected:
    explicit ZipArchiveTest(rig::Apartment apartment = rig::Apartment::kMultithreaded) : apartment_(apartment) {}

    static void SetUpTestSuite()
    {
        ASSERT_TRUE(dl::BindHostFunctions());
        ASSERT_TRUE(RegisterZipStandIn(rig::BesideExecutable("zipfolder_standin.dll").c_str()));
    }
    static void TearDownTestSuite() { UnregisterZipStandIn(); }

    void SetUp() override
    {
        hostTemp_ = rig::FreshFolder("zip-host-temp");
        host::SetTempFolder(hostTemp_);
        work_ = rig::FreshFolder("zip-user-files");
        archive_ = hostTemp_ + "Files1.zip";
        ASSERT_EQ(dl::WriteEmptyZip(archive_.c_str()), S_OK);
    }

    void TearDown() override
    {
        SetStandInMode(nullptr);
        SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", nullptr);
    }

    // The stand-in reads its misbehaviour at every call.
    static void SetStandInMode(const char* mode) { SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", mode); }

    dropline::test::ZipReader Archive() const { return rig::ReadArchive(Bytes(archive_)); }

    // Adds the source under its own name, as the file attachment does for a name the code page holds.
    HRESULT Add(const std::string& source) const
    {
        const std::wstring path = rig::Wide(source);
        return dl::AddToZipArchive(path.c_str(), dl::BestFitAnsi(dl::LastPathComponent(path.c_str())).c_str(),
                                   archive_.c_str(), hostTemp_);
    }

    bool TreeCanBeWritten(const std::string& root) const
    {
        return std::all_of(tree_.files.begin(), tree_.files.end(), [&](const rig::SourceFile& file) {
            return CanOpenForWriting(root + "\\" + file.relativePath);
        });
    }

    // The source tree in the user's folder, as "<work>\<name>".
    std::string MakeTree(const std::string& name = "docs")
    {
        const std::string root = work_ + name;
        CreateDirectoryA(root.c_str(), nullptr);
        tree_ = rig::MakeSourceTree(root);
        return root;
    }

    // A file of exactly `length` bytes of path below `base` (which ends with a backslash).
    static std::string FileWithPathLength(const std::string& base, std::size_t length, const std::string& bytes)
    {
        const std::string folder = base + std::string(120, 'd');
        CreateDirectoryA(folder.c_str(), nullptr);
        const std::string path = folder + "\\" + std::string(length - folder.size() - 1, 'f');
        EXPECT_TRUE(rig::WriteBytes(path, bytes)) << path;
        return path;
    }

    // A folder 表 in the user's folder whose deepest file's packing copy path is `characters`
    // long, all in double-byte characters: twice as many bytes. Returns the archive's entries.
    std::vector<std::string> JapaneseTree(std::size_t characters) const
    {
        std::string relative = "表";
        std::vector<std::string> entries{"表/"};
        CreateDirectoryA((work_ + relative).c_str(), nullptr);
        // The copy's path so far: the folder, the GUID folder and a backslash, 表.
        std::size_t length = hostTemp_.size() + 40;
        const auto add = [&](std::size_t count) {
            relative += '\\';
            for (std::size_t i = 0; i < count; ++i) relative += "表";
            length += 1 + count;
        };
        // Names of at most 80 characters: on the disk below Wine each takes 3 bytes of UTF-8.
        while (characters - length > 81) {
            add(60);
            CreateDirectoryA((work_ + relative).c_str(), nullptr);
            entries.push_back(rig::EntryName(relative) + "/");
        }
        add(characters - length - 1);
        EXPECT_TRUE(rig::WriteBytes(work_ + relative, "deep")) << relative.size() << " bytes";
        entries.push_back(rig::EntryName(relative));
        return entries;
    }

    // Names in the host's temporary folder other than the archive.
    std::vector<std::string> PackingFolders() const
    {
        std::vector<std::string> names = rig::List(hostTemp_);
        names.erase(std::remove(names.begin(), names.end(), "Files1.zip"), names.end());
        return names;
    }

    // The caller has COM initialised, as the file attachment does.
    rig::ApartmentScope apartment_;
    std::string hostTemp_;
    std::string work_;
    std::string archive_;
    rig::SourceTree tree_;
};

TEST_F(ZipArchiveTest, WriteEmptyZipLeavesExactlyTheEmptyArchive)
{
    EXPECT_EQ(Bytes(archive_), kEmptyArchive);

    // Never over a file that is there, which stays as it was.
    const std::string larger = hostTemp_ + "larger.zip";
    ASSERT_TRUE(rig::WriteBytes(larger, std::string(5000, 'x')));
    EXPECT_EQ(dl::WriteEmptyZip(larger.c_str()), E_FAIL);
    EXPECT_EQ(Bytes(larger), std::string(5000, 'x'));

    EXPECT_EQ(dl::WriteEmptyZip((hostTemp_ + "missing\\a.zip").c_str()), E_FAIL);
}

TEST_F(ZipArchiveTest, LockedTreeCanBeReadButNotWrittenUntilReleased)
{
    const std::string root = MakeTree();
    const std::size_t handles = rig::OpenHandleCount();

    dl::PackingSource locks;
    ASSERT_EQ(dl::WalkSource(rig::Wide(root).c_str(), locks), S_OK);
    EXPECT_EQ(locks.locks.size(), tree_.files.size()) << "one lock for each file, hidden and dot names included";
    for (const rig::SourceFile& file : tree_.files) {
        const std::string path = root + "\\" + file.relativePath;
        EXPECT_TRUE(CanOpenForReading(path)) << path;
        EXPECT_FALSE(CanOpenForWriting(path)) << path;
    }

    locks = {};
    for (const rig::SourceFile& file : tree_.files) {
        EXPECT_TRUE(CanOpenForWriting(root + "\\" + file.relativePath)) << file.relativePath;
    }
    EXPECT_EQ(rig::OpenHandleCount(), handles);

    // A single file is locked by itself.
    const std::string single = root + "\\readme.txt";
    ASSERT_EQ(dl::WalkSource(rig::Wide(single).c_str(), locks), S_OK);
    EXPECT_EQ(locks.locks.size(), 1u);
    EXPECT_FALSE(CanOpenForWriting(single));
    locks = {};
}

TEST_F(ZipArchiveTest, FileOpenForWritingElsewhereFailsAndReleasesEveryLock)
{
    const std::string root = MakeTree();
    const std::string busy = root + "\\sub\\deeper\\note.txt";
    const std::size_t handles = rig::OpenHandleCount();
    {
        dl::UniqueFile writer(CreateFileA(busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(Add(root), E_FAIL);
        EXPECT_EQ(rig::OpenHandleCount(), handles + 1) << "only the writer's handle";
    }
    EXPECT_EQ(Bytes(archive_), kEmptyArchive);
    EXPECT_TRUE(PackingFolders().empty());
    for (const rig::SourceFile& file : tree_.files) {
        EXPECT_TRUE(CanOpenForWriting(root + "\\" + file.relativePath)) << file.relativePath;
    }
}

TEST_F(ZipArchiveTest, LinkedFolderInsideTheSourceIsNotEntered)
{
    const std::string root = MakeTree();
    // A link back to the tree's own root: followed, the walk would never end.
    if (!rig::MakeFolderLink(root + "\\sub\\loop", root)) GTEST_SKIP() << "no linked folders on this system";

    dl::PackingSource locks;
    EXPECT_EQ(dl::WalkSource(rig::Wide(root).c_str(), locks), S_OK);
    EXPECT_EQ(locks.locks.size(), tree_.files.size());
    locks = {};
    EXPECT_TRUE(rig::RemoveFolderLink(root + "\\sub\\loop"));
}

// A missing source, and the packing copy's own path (the temporary folder, the GUID folder, a
// backslash and the source's name) and every path below it in the copy: checked before anything
// is copied, and nothing is left. (The source's own length is for the file system to judge: it is
// read in UTF-16.)
TEST_F(ZipArchiveTest, MissingSourcesAndTooLongOrTooDeepPathsFailBeforeAnythingIsCopied)
{
    const std::size_t copyRoot = hostTemp_.size() + 39;
    const std::string name(259 - copyRoot, 'n');
    ASSERT_TRUE(rig::WriteBytes(work_ + name, "x"));
    const std::string deep = work_ + "deep";
    CreateDirectoryA(deep.c_str(), nullptr);
    const std::string deepFile = deep + "\\" + std::string(259 - copyRoot - 5, 'f');
    ASSERT_TRUE(rig::WriteBytes(deepFile, "x"));
    const std::string deeper = work_ + "deeper";
    CreateDirectoryA(deeper.c_str(), nullptr);
    const std::string deepFolder = deeper + "\\" + std::string(249 - copyRoot - 7, 'd');
    ASSERT_TRUE(CreateDirectoryA(deepFolder.c_str(), nullptr));
    JapaneseTree(259);

    const std::pair<std::string, HRESULT> cases[] = {
        {work_ + "gone", E_FAIL}, {work_ + "gone\\file.txt", E_FAIL}, {work_ + name, kPathTooLong},
        {deep, kPathTooLong}, {deeper, kPathTooLong}, {work_ + "表", kPathTooLong},
    };
    for (const auto& [source, result] : cases) {
        SCOPED_TRACE(source);
        EXPECT_EQ(Add(source), result);
        EXPECT_TRUE(PackingFolders().empty());
        EXPECT_EQ(Bytes(archive_), kEmptyArchive);
    }
}

// What the packing checks an archive against: its central directory, whoever wrote it. Folders
// may come without entries of their own, names in UTF-8, figures in the ZIP64 records.
// Windows removes no folder marked read-only (as Explorer marks customised ones); Wine, run as root,
// does. From the test below on, it refuses as Windows does.
BOOL(WINAPI* g_removeDirectory)(LPCWSTR) = nullptr;
BOOL WINAPI RemoveDirectoryAsWindows(LPCWSTR path)
{
    return (GetFileAttributesW(path) & FILE_ATTRIBUTE_READONLY) ? FALSE : g_removeDirectory(path);
}

TEST_F(ZipArchiveTest, RemovalTakesFoldersMarkedReadOnlyHiddenAndSystem)
{
    constexpr DWORD kMarks = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const std::string root = work_ + "copy";
    const std::vector<std::string> folders = {root, root + "\\a", root + "\\a\\b", root + "\\c"};
    for (const std::string& folder : folders) {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    }
    ASSERT_TRUE(rig::WriteBytes(folders[2] + "\\f.txt", "f"));
    EXPECT_TRUE(rig::MarkFoldersReadOnly(folders));
    for (const std::string& folder : folders) ASSERT_EQ(GetFileAttributesA(folder.c_str()) & kMarks, kMarks) << folder;
    g_removeDirectory = reinterpret_cast<decltype(g_removeDirectory)>(rig::ReplaceImport(
        GetModuleHandleA(nullptr), "kernel32.dll", "RemoveDirectoryW", reinterpret_cast<FARPROC>(RemoveDirectoryAsWindows)));
    ASSERT_TRUE(g_removeDirectory);
    dl::DeleteTree(rig::Wide(root).c_str());
    EXPECT_FALSE(rig::Exists(root));
}

TEST_F(ZipArchiveTest, ArchiveEntriesAreReadFromTheCentralDirectory)
{
    const std::string entries = DirectoryEntry("docs/a.txt") + DirectoryEntry("\xE8\xA1\xA8.txt", 0x0800);
    const std::string zip64End = Little(0x06064B50, 4) + Little(44, 8) + std::string(20, '\0') + Little(2, 8) +
                                 Little(entries.size(), 8) + Little(0, 8);
    const std::string zip64Locator = Little(0x07064B50, 4) + Little(0, 4) + Little(entries.size(), 8) + Little(1, 4);
    const struct {
        const char* what;
        std::string bytes;
        HRESULT result;
    } archives[] = {
        {"plain, with a comment", entries + EndRecord(2, entries.size(), 0, "PK\x05\x06 in the comment"), S_OK},
        {"ZIP64", entries + zip64End + zip64Locator + EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF), S_OK},
        {"cut short", entries.substr(0, 60) + EndRecord(2, entries.size(), 0), E_FAIL},
        {"no archive", "PK", E_FAIL},
    };
    const std::string path = hostTemp_ + "read.zip";
    for (const auto& archive : archives) {
        SCOPED_TRACE(archive.what);
        ASSERT_TRUE(rig::WriteBytes(path, archive.bytes));
        dl::EntryNames names;
        ASSERT_EQ(dl::ReadArchiveEntryNames(path.c_str(), names), archive.result);
        if (archive.result == S_OK) {
            EXPECT_EQ(names, (dl::EntryNames{"docs/a.txt", "表.txt"}));
        }
    }

    EXPECT_TRUE(dl::HoldsEveryName({"docs/sub/a.txt", "b.txt"}, {"docs/", "docs/sub/", "docs/sub/a.txt", "b.txt"}));
    EXPECT_FALSE(dl::HoldsEveryName({"docs/", "docs/a.txt"}, {"docs/", "docs/a.txt", "docs/b.txt"}));
    EXPECT_FALSE(dl::HoldsEveryName({"docs/a.txt"}, {"doc/"}));
}

// ---- Through the stand-in for the shell's ZIP handler, in each COM set-up ----

// The calling thread in a single-threaded or the multithreaded apartment (the file attachment
// joins that one when the host's thread has none), the Shell class of either threading model.
class ZipPackingTest : public ZipArchiveTest, public ::testing::WithParamInterface<rig::ComSetUp> {
protected:
    ZipPackingTest() : ZipArchiveTest(GetParam().apartment) {}

    void SetUp() override
    {
        ASSERT_TRUE(RegisterZipStandIn(rig::BesideExecutable("zipfolder_standin.dll").c_str(), GetParam().threading));
        ZipArchiveTest::SetUp();
    }
    void TearDown() override
    {
        ZipArchiveTest::TearDown();
        UnregisterZipStandIn();
    }

    rig::Watchdog watchdog_{60000, "packing with " + rig::Describe(GetParam())};
};

INSTANTIATE_TEST_SUITE_P(ComSetUps, ZipPackingTest,
                         ::testing::Values(rig::ComSetUp{ZipStandInThreading::kBoth, rig::Apartment::kSingleThreaded},
                                           rig::ComSetUp{ZipStandInThreading::kBoth, rig::Apartment::kMultithreaded},
                                           rig::ComSetUp{ZipStandInThreading::kApartment,
                                                         rig::Apartment::kSingleThreaded},
                                           rig::ComSetUp{ZipStandInThreading::kApartment,
                                                         rig::Apartment::kMultithreaded}),
                         [](const ::testing::TestParamInfo<rig::ComSetUp>& info) { return rig::Describe(info.param); });

TEST_P(ZipPackingTest, FileBecomesOneEntryNamedLikeIt)
{
    // Read-only, as is its packing copy, which must go all the same.
    const std::string file = work_ + "report.txt";
    ASSERT_TRUE(rig::WriteBytes(file, "123456789"));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(Add(file), S_OK);
    const auto archive = Archive();
    ASSERT_EQ(archive.names(), std::vector<std::string>{"report.txt"});
    std::string data;
    std::string error;
    EXPECT_TRUE(archive.Extract(archive.entries()[0], &data, &error)) << error;
    EXPECT_EQ(data, "123456789");
    EXPECT_TRUE(PackingFolders().empty()) << "the packing copy is removed once the archive is complete";
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(CanOpenForWriting(file)) << "the lock is released";
}

TEST_P(ZipPackingTest, FolderBecomesOneEntryWithItsWholeTreeAndStaysUntouched)
{
    const std::string root = MakeTree();
    const auto before = rig::Snapshot(work_);

    EXPECT_EQ(Add(root), S_OK);
    rig::ExpectTreeInArchive(Archive(), "docs", tree_);
    EXPECT_EQ(rig::Snapshot(work_), before);
    EXPECT_TRUE(GetFileAttributesA((root + "\\hidden.dat").c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(TreeCanBeWritten(root));
    EXPECT_TRUE(PackingFolders().empty());
}

TEST_P(ZipPackingTest, SourcesAddedOneAfterAnotherAreTopLevelEntriesInCallOrder)
{
    const std::string root = MakeTree("表");
    const std::string file = work_ + "ソ.txt";
    ASSERT_TRUE(rig::WriteBytes(file, "so"));

    EXPECT_EQ(Add(file), S_OK);
    EXPECT_EQ(Add(root), S_OK);
    const auto archive = Archive();
    ASSERT_FALSE(archive.entries().empty());
    EXPECT_EQ(archive.names()[0], "ソ.txt");
    EXPECT_EQ(archive.names().size(), 1 + 1 + tree_.folders.size() + tree_.files.size());
    rig::ExpectTreeInArchive(archive, "表", tree_);
}

TEST_P(ZipPackingTest, PathsOf258CharactersArePackedHoweverManyBytes)
{
    const std::string source258 = FileWithPathLength(work_, 258, "long source");
    const std::string name(258 - hostTemp_.size() - 39, 'n');
    ASSERT_TRUE(rig::WriteBytes(work_ + name, "long copy"));
    std::vector<std::string> entries = {source258.substr(source258.rfind('\\') + 1), name};
    for (const std::string& entry : JapaneseTree(258)) entries.push_back(entry);

    EXPECT_EQ(Add(source258), S_OK);
    EXPECT_EQ(Add(work_ + name), S_OK);
    EXPECT_EQ(Add(work_ + "表"), S_OK);
    EXPECT_EQ(Archive().names(), entries);
}

TEST_P(ZipPackingTest, HandlerFailuresReleaseTheLocksAndLeaveNoCopy)
{
    const std::string root = MakeTree();

    // No Folder for the archive, or the add request refused.
    for (const auto& [mode, result] : {std::pair{"nofolder", dl::kNoZipFolder}, {"copyfail", E_ACCESSDENIED}}) {
        SetStandInMode(mode);
        EXPECT_EQ(Add(root), result) << mode;
        EXPECT_TRUE(TreeCanBeWritten(root));
    }

    EXPECT_EQ(Bytes(archive_), kEmptyArchive);
    EXPECT_TRUE(PackingFolders().empty());
}

// However and on whichever thread the handler packs, the whole archive is what counts; a slow
// one (700 ms) is waited for until it has finished.
TEST_P(ZipPackingTest, EveryHandlerThatPacksTheWholeCopyIsWaitedFor)
{
    const std::string root = MakeTree();
    const rig::HandlerRelease release;
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", "700");
    const std::pair<const char*, ULONGLONG> cases[] = {
        {"sync", 0}, {"fast", 0}, {"pooled", 0}, {"callback", 0}, {"twelve", 0}, {"slow", 650}};
    for (const auto& [mode, atLeastMs] : cases) {
        SCOPED_TRACE(mode);
        DeleteFileA(archive_.c_str());
        ASSERT_EQ(dl::WriteEmptyZip(archive_.c_str()), S_OK);
        SetStandInMode(mode);
        const ULONGLONG begin = GetTickCount64();
        EXPECT_EQ(Add(root), S_OK);
        EXPECT_GE(GetTickCount64() - begin, atLeastMs);
        EXPECT_TRUE(TreeCanBeWritten(root));
        rig::ExpectTreeInArchive(Archive(), "docs", tree_);
        EXPECT_TRUE(PackingFolders().empty());
    }
}

}  // namespace
