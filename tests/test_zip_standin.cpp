// Drives zipfolder_standin.dll through COM the way the plug-in does and checks the
// archives it writes with the tests' own ZIP reader.

#include <windows.h>
#include <ole2.h>
#include <shldisp.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "registration.h"
#include "support/zip_reader.h"

namespace {

using dropline::test::ZipEntry;
using dropline::test::ZipReader;

constexpr CLSID kClsidShell = {0x13709620, 0xC279, 0x11CE, {0xA4, 0x9E, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr DWORD kThreadWaitMs = 20000;
const std::string kEmptyArchive = std::string("PK\x05\x06", 4) + std::string(18, '\0');

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (object_) object_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  T** out() { return &object_; }
  T* get() const { return object_; }
  T* operator->() const { return object_; }

 private:
  T* object_ = nullptr;
};

class Variant {
 public:
  explicit Variant(const std::wstring& text) {
    VariantInit(&value_);
    value_.vt = VT_BSTR;
    value_.bstrVal = SysAllocString(text.c_str());
  }
  explicit Variant(int number) {
    VariantInit(&value_);
    value_.vt = VT_INT;
    value_.intVal = number;
  }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  const VARIANT& get() const { return value_; }

 private:
  VARIANT value_;
};

// Sets the stand-in's misbehaviour for one test; the DLL reads it at every call.
class ModeScope {
 public:
  explicit ModeScope(const char* mode, const char* delayMs = nullptr) {
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", mode);
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", delayMs);
  }
  ~ModeScope() {
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_MODE", nullptr);
    SetEnvironmentVariableA("DROPLINE_ZIPSTANDIN_DELAY_MS", nullptr);
  }
  ModeScope(const ModeScope&) = delete;
  ModeScope& operator=(const ModeScope&) = delete;
};

std::set<DWORD> ThreadIds() {
  std::set<DWORD> ids;
  Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
  }
  return ids;
}

void WriteBytes(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
  ASSERT_NE(file.get(), INVALID_HANDLE_VALUE) << "cannot create test file, error " << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

std::string ReadBytes(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot open " << std::filesystem::path(path).u8string();
    return {};
  }
  std::string bytes(GetFileSize(file.get(), nullptr), '\0');
  DWORD read = 0;
  ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  bytes.resize(read);
  return bytes;
}

std::string StandInDllPath() {
  char exe[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  const std::string path(exe, length);
  return path.substr(0, path.find_last_of('\\') + 1) + "zipfolder_standin.dll";
}

// The registered server path and threading model, as COM will read them.
std::pair<std::string, std::string> RegisteredServer() {
  const auto read = [](const char* name) {
    char value[MAX_PATH * 2] = "";
    DWORD size = sizeof value;
    RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{13709620-C279-11CE-A49E-444553540000}\\InprocServer32", name,
                 RRF_RT_REG_SZ, nullptr, value, &size);
    return std::string(value);
  };
  return {read(nullptr), read("ThreadingModel")};
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// One use of the stand-in exactly as the plug-in makes it, from the first thread
// snapshot to the wait for every thread that appeared after CopyHere.
class PlugInSession {
 public:
  PlugInSession() : before_(ThreadIds()) {}

  HRESULT Open(const VARIANT& path) {
    ComRef<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(kClsidShell, nullptr, CLSCTX_ALL, __uuidof(IUnknown), reinterpret_cast<void**>(unknown.out()));
    if (SUCCEEDED(hr)) hr = OleRun(unknown.get());
    if (SUCCEEDED(hr)) hr = unknown->QueryInterface(__uuidof(IShellDispatch), reinterpret_cast<void**>(shell_.out()));
    if (SUCCEEDED(hr)) hr = shell_->NameSpace(path, folder_.out());
    return hr;
  }
  HRESULT Open(const std::wstring& archive) { return Open(Variant(archive).get()); }

  Folder* folder() const { return folder_.get(); }

  HRESULT CopyHere(const std::wstring& source) { return folder_->CopyHere(Variant(source).get(), Variant(0).get()); }

  // Returns how many threads appeared since the session began, after they all ended;
  // a thread still running after kThreadWaitMs fails the test.
  // The event, when given, is set once they are open, before the wait.
  size_t WaitForNewThreads(HANDLE releaseWhenOpened = nullptr) {
    std::vector<Handle> threads;
    std::vector<HANDLE> waitable;
    for (const DWORD id : ThreadIds()) {
      if (before_.count(id)) continue;
      threads.emplace_back(OpenThread(SYNCHRONIZE, FALSE, id));
      // A thread that ended between the snapshot and here cannot be opened: nothing to wait for.
      if (threads.back().get()) waitable.push_back(threads.back().get());
    }
    if (releaseWhenOpened) SetEvent(releaseWhenOpened);
    if (!waitable.empty()) {
      EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(waitable.size()), waitable.data(), TRUE, kThreadWaitMs),
                WAIT_OBJECT_0)
          << "the stand-in's threads did not end";
    }
    return threads.size();
  }

 private:
  std::set<DWORD> before_;
  ComRef<IShellDispatch> shell_;
  ComRef<Folder> folder_;
};

class ZipStandInTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { registered_ = RegisterZipStandIn(StandInDllPath().c_str()); }
  static void TearDownTestSuite() { UnregisterZipStandIn(); }

  void SetUp() override {
    ASSERT_TRUE(registered_) << "zipfolder_standin.dll must be beside the test executable";
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    root_ = std::filesystem::temp_directory_path() /
            ("zipstandin-" + std::to_string(GetCurrentProcessId()) + "-" + test->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
    archive_ = Path(L"out.zip");
    WriteBytes(archive_, kEmptyArchive);
  }

  void TearDown() override {
    CoUninitialize();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::wstring Path(const std::wstring& relative) const { return (root_ / relative).wstring(); }

  std::wstring MakeFolder(const std::wstring& relative) const {
    std::filesystem::create_directories(root_ / relative);
    return Path(relative);
  }

  ZipReader ReadArchive() const {
    ZipReader reader;
    std::string error;
    EXPECT_TRUE(reader.OpenFile(archive_, &error)) << error;
    return reader;
  }

  std::string Content(const ZipReader& reader, const std::string& name) const {
    const ZipEntry* entry = reader.Find(name);
    if (!entry) {
      ADD_FAILURE() << "no entry " << name;
      return {};
    }
    std::string data;
    std::string error;
    EXPECT_TRUE(reader.Extract(*entry, &data, &error)) << name << ": " << error;
    return data;
  }

  // Runs one whole plug-in session copying `source` into the archive.
  size_t PackWithPlugInSequence(const std::wstring& source) {
    PlugInSession session;
    EXPECT_EQ(session.Open(archive_), S_OK);
    if (!session.folder()) {
      ADD_FAILURE() << "NameSpace gave no Folder";
      return 0;
    }
    EXPECT_EQ(session.CopyHere(source), S_OK);
    return session.WaitForNewThreads();
  }

  static bool registered_;
  std::filesystem::path root_;
  std::wstring archive_;
};

bool ZipStandInTest::registered_ = false;

TEST_F(ZipStandInTest, PacksAFileOnOneNewThread) {
  const std::wstring source = MakeFolder(L"src") + L"\\report.txt";
  WriteBytes(source, "123456789");

  EXPECT_EQ(PackWithPlugInSequence(source), 1u);

  const ZipReader reader = ReadArchive();
  ASSERT_EQ(reader.names(), std::vector<std::string>{"report.txt"});
  const ZipEntry& entry = reader.entries()[0];
  EXPECT_EQ(entry.method, 0);
  EXPECT_EQ(entry.crc32, 0xCBF43926u);  // the standard CRC-32 check value of "123456789"
  EXPECT_EQ(Content(reader, "report.txt"), "123456789");
}

TEST_F(ZipStandInTest, PacksAFolderTreeWithHiddenDotAndJapaneseNames) {
  const std::wstring top = MakeFolder(L"src\\pkg");
  MakeFolder(L"src\\pkg\\sub\\deep");
  MakeFolder(L"src\\pkg\\sub\\empty");
  MakeFolder(L"src\\pkg\\\u8868\u793A");  // 表示
  std::string binary;
  for (int i = 0; i < 256; ++i) binary.push_back(static_cast<char>(i));
  WriteBytes(top + L"\\.config", "dot");
  WriteBytes(top + L"\\hidden.txt", "hidden", FILE_ATTRIBUTE_HIDDEN);
  WriteBytes(top + L"\\\u8868.txt", "hyou");  // 表.txt
  WriteBytes(top + L"\\sub\\deep\\data.bin", binary);
  WriteBytes(top + L"\\\u8868\u793A\\a.txt", "inside");

  EXPECT_EQ(PackWithPlugInSequence(top), 1u);

  // 表 is 95 5C in CP932: its trail byte is a backslash and must stay one.
  const std::string hyou = "\x95\x5C";
  const std::string hyouji = hyou + "\x8E\xA6";
  const ZipReader reader = ReadArchive();
  EXPECT_EQ(Sorted(reader.names()),
            Sorted({"pkg/", "pkg/.config", "pkg/hidden.txt", "pkg/" + hyou + ".txt", "pkg/" + hyouji + "/",
                    "pkg/" + hyouji + "/a.txt", "pkg/sub/", "pkg/sub/deep/", "pkg/sub/deep/data.bin",
                    "pkg/sub/empty/"}));
  ASSERT_FALSE(reader.entries().empty());
  EXPECT_EQ(reader.entries()[0].name, "pkg/");
  EXPECT_EQ(Content(reader, "pkg/.config"), "dot");
  EXPECT_EQ(Content(reader, "pkg/hidden.txt"), "hidden");
  EXPECT_EQ(Content(reader, "pkg/" + hyou + ".txt"), "hyou");
  EXPECT_EQ(Content(reader, "pkg/" + hyouji + "/a.txt"), "inside");
  EXPECT_EQ(Content(reader, "pkg/sub/deep/data.bin"), binary);
  for (const ZipEntry& entry : reader.entries()) {
    if (!entry.isFolder()) continue;
    EXPECT_EQ(entry.uncompressedSize, 0u) << entry.name;
    EXPECT_TRUE(entry.externalAttributes & FILE_ATTRIBUTE_DIRECTORY) << entry.name;
  }
}

TEST_F(ZipStandInTest, SecondSessionKeepsTheFirstEntries) {
  const std::wstring file = MakeFolder(L"src") + L"\\first.txt";
  WriteBytes(file, "one");
  const std::wstring folder = MakeFolder(L"src\\second");
  WriteBytes(folder + L"\\inner.txt", "two");

  EXPECT_EQ(PackWithPlugInSequence(file), 1u);
  EXPECT_EQ(PackWithPlugInSequence(folder), 1u);

  const ZipReader reader = ReadArchive();
  EXPECT_EQ(reader.names(), (std::vector<std::string>{"first.txt", "second/", "second/inner.txt"}));
  EXPECT_EQ(Content(reader, "first.txt"), "one");
  EXPECT_EQ(Content(reader, "second/inner.txt"), "two");
}

TEST_F(ZipStandInTest, BackToBackCopiesLandInCallOrder) {
  const std::wstring first = MakeFolder(L"src") + L"\\first.txt";
  const std::wstring second = Path(L"src\\second.txt");
  WriteBytes(first, "one");
  WriteBytes(second, "two");

  PlugInSession session;
  ASSERT_EQ(session.Open(archive_), S_OK);
  ASSERT_NE(session.folder(), nullptr);
  {
    // The first copy waits before packing, so only ordering keeps it first.
    ModeScope slow("slow", "400");
    EXPECT_EQ(session.CopyHere(first), S_OK);
  }
  EXPECT_EQ(session.CopyHere(second), S_OK);
  EXPECT_EQ(session.WaitForNewThreads(), 2u);

  EXPECT_EQ(ReadArchive().names(), (std::vector<std::string>{"first.txt", "second.txt"}));
}

TEST_F(ZipStandInTest, NameSpaceOpensOnlyExistingZipFiles) {
  WriteBytes(Path(L"upper.ZIP"), kEmptyArchive);
  WriteBytes(Path(L"notes.txt"), "text");
  MakeFolder(L"folder.zip");

  const auto open = [](const VARIANT& path) {
    PlugInSession session;
    const HRESULT hr = session.Open(path);
    return std::make_pair(hr, session.folder() != nullptr);
  };
  EXPECT_EQ(open(Variant(Path(L"upper.ZIP")).get()), std::make_pair(S_OK, true));
  EXPECT_EQ(open(Variant(Path(L"notes.txt")).get()), std::make_pair(S_FALSE, false));
  EXPECT_EQ(open(Variant(Path(L"missing.zip")).get()), std::make_pair(S_FALSE, false));
  EXPECT_EQ(open(Variant(Path(L"folder.zip")).get()), std::make_pair(S_FALSE, false));
  EXPECT_EQ(open(Variant(7).get()), std::make_pair(S_FALSE, false));
}

TEST_F(ZipStandInTest, NoFolderModeSucceedsWithoutAFolder) {
  ModeScope mode("nofolder");
  PlugInSession session;
  EXPECT_EQ(session.Open(archive_), S_OK);
  EXPECT_EQ(session.folder(), nullptr);
}

// Each misbehaviour as the plug-in meets it: what CopyHere returns, what the archive holds right
// after it and once every thread it started has ended, and how long that took.
TEST_F(ZipStandInTest, CopyHereInEachModeGivesItsResultThreadsAndArchive) {
  const std::wstring source = MakeFolder(L"src") + L"\\a.txt";
  WriteBytes(source, "a");
  enum class AtOnce { kEmpty, kPacked, kEither };
  const struct {
    const char* mode;
    const char* delayMs;
    HRESULT copied;
    AtOnce atOnce;  // what the archive holds when CopyHere has returned
    size_t fewestThreads, mostThreads;  // twelve's packing thread may be done before the snapshot
    ULONGLONG atLeastMs;
  } rows[] = {
      {"copyfail", nullptr, E_ACCESSDENIED, AtOnce::kEmpty, 0, 0, 0},
      {"sync", nullptr, S_OK, AtOnce::kPacked, 0, 0, 0},
      {"twelve", nullptr, S_OK, AtOnce::kEither, 11, 12, 0},
      {"slow", "700", S_OK, AtOnce::kEmpty, 1, 1, 650},
  };
  const std::vector<std::string> packed{"a.txt"};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    WriteBytes(archive_, kEmptyArchive);
    ModeScope mode(row.mode, row.delayMs);
    // Twelve's idle threads live until they have been counted.
    const Handle release(row.mostThreads == 12
                             ? CreateEventW(nullptr, TRUE, FALSE, ZipStandInReleaseEventName(GetCurrentProcessId()).c_str())
                             : nullptr);

    PlugInSession session;
    ASSERT_EQ(session.Open(archive_), S_OK);
    ASSERT_NE(session.folder(), nullptr);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(session.CopyHere(source), row.copied);
    if (row.atOnce == AtOnce::kEmpty) { EXPECT_EQ(ReadBytes(archive_), kEmptyArchive); }
    if (row.atOnce == AtOnce::kPacked) { EXPECT_EQ(ReadArchive().names(), packed); }
    const size_t threads = session.WaitForNewThreads(release.get());
    EXPECT_GE(threads, row.fewestThreads);
    EXPECT_LE(threads, row.mostThreads);
    EXPECT_GE(GetTickCount64() - start, row.atLeastMs);
    if (row.copied == S_OK) {
      EXPECT_EQ(ReadArchive().names(), packed);
    } else {
      EXPECT_EQ(ReadBytes(archive_), kEmptyArchive);
    }
  }
}

TEST(ZipStandInRegistrationTest, OnlyTheLastUnregistrationRestoresThePreviousServer) {
  const std::string dll = StandInDllPath();
  const auto before = RegisteredServer();
  const auto standIn = std::make_pair(dll, std::string("Both"));

  ASSERT_TRUE(RegisterZipStandIn(dll.c_str()));
  EXPECT_EQ(RegisteredServer(), standIn);
  // A nested registration of the other model gives the first one's back when undone.
  ASSERT_TRUE(RegisterZipStandIn(dll.c_str(), ZipStandInThreading::kApartment));
  EXPECT_EQ(RegisteredServer(), std::make_pair(dll, std::string("Apartment")));
  UnregisterZipStandIn();
  EXPECT_EQ(RegisteredServer(), standIn);
  UnregisterZipStandIn();
  EXPECT_EQ(RegisteredServer(), before);

  EXPECT_FALSE(RegisterZipStandIn("Z:\\no\\such\\zipfolder_standin.dll"));
  EXPECT_EQ(RegisteredServer(), before);
}

// The reader is what every archive check in the project rests on, so it must catch
// damage rather than report a broken archive as fine.
class ZipReaderTest : public ZipStandInTest {
 protected:
  std::string PackedArchive() {
    const std::wstring source = MakeFolder(L"src\\pkg") + L"\\a.txt";
    WriteBytes(source, "some content");
    ModeScope mode("sync");
    PlugInSession session;
    EXPECT_EQ(session.Open(archive_), S_OK);
    if (session.folder()) {
      EXPECT_EQ(session.CopyHere(Path(L"src\\pkg")), S_OK);
    }
    return ReadBytes(archive_);
  }
};

TEST_F(ZipReaderTest, ReadsTheEmptyArchive) {
  ZipReader reader;
  std::string error;
  EXPECT_TRUE(reader.Open(kEmptyArchive, &error)) << error;
  EXPECT_TRUE(reader.entries().empty());
}

TEST_F(ZipReaderTest, DetectsCorruptedData) {
  std::string bytes = PackedArchive();
  const size_t at = bytes.find("some content");
  ASSERT_NE(at, std::string::npos);
  bytes[at] ^= 0x20;

  ZipReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(bytes, &error)) << error;
  const ZipEntry* entry = reader.Find("pkg/a.txt");
  ASSERT_NE(entry, nullptr);
  std::string data;
  EXPECT_FALSE(reader.Extract(*entry, &data, &error));
  EXPECT_EQ(error, "CRC mismatch");
}

TEST_F(ZipReaderTest, RejectsEveryTruncationAndDamagedDirectory) {
  const std::string bytes = PackedArchive();
  ZipReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(bytes, &error)) << error;
  ASSERT_EQ(reader.names(), (std::vector<std::string>{"pkg/", "pkg/a.txt"}));

  for (size_t size = 0; size < bytes.size(); ++size) {
    EXPECT_FALSE(reader.Open(bytes.substr(0, size), &error)) << "truncated to " << size;
  }
  // Every byte of the central directory and end record set to junk, one at a time:
  // whatever the reader makes of it, it must not read outside the buffer.
  const size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  for (size_t at = central; at < bytes.size(); ++at) {
    std::string damaged = bytes;
    damaged[at] = '\xFF';
    reader.Open(damaged, &error);
  }
  // The second record follows "pkg/"'s 46-byte header and 4-byte name.
  std::string renamed = bytes;
  renamed[central + 46 + 4 + 46] = 'X';  // its name, in the central directory only
  EXPECT_FALSE(reader.Open(renamed, &error));
  EXPECT_EQ(error, "central record 1: local header names another entry");
}

}  // namespace
