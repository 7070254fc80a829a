#include "zip_append.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cwchar>
#include <utility>
#include <vector>

namespace zipstandin {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr size_t kLocalCrcOffset = 14;
// 2.0 is the first version with folder entries; the high byte 0 says the external
// attributes are FAT attributes.
constexpr uint16_t kZipVersion = 20;
// Without ZIP64 records, sizes, offsets and the entry count must stay below the
// all-ones values, which mean "see the ZIP64 record".
constexpr uint64_t kMaxZip32 = 0xFFFFFFFE;
constexpr size_t kMaxEntries = 0xFFFE;
constexpr UINT kEntryNameCodePage = 932;
constexpr DWORD kCopyChunk = 1 << 16;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_ARCHIVE;

template <class Close>
class Owned {
 public:
  explicit Owned(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (valid()) Close()(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

struct CloseFile {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct CloseFind {
  void operator()(HANDLE handle) const { FindClose(handle); }
};
using FileHandle = Owned<CloseFile>;
using FindHandle = Owned<CloseFind>;

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1) ? 0xEDB88320u : 0);
    table[i] = value;
  }
  return table;
}
constexpr auto kCrcTable = MakeCrcTable();

uint32_t UpdateCrc(uint32_t crc, const char* data, size_t size) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc = kCrcTable[(crc ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

void Put16(std::string& out, uint32_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

uint32_t Get16(const std::string& in, size_t at) {
  return static_cast<uint8_t>(in[at]) | static_cast<uint32_t>(static_cast<uint8_t>(in[at + 1])) << 8;
}

uint32_t Get32(const std::string& in, size_t at) { return Get16(in, at) | Get16(in, at + 2) << 16; }

struct Item {
  std::wstring path;
  std::string name;  // CP932 bytes, '/'-separated; folders end with '/'
  bool folder = false;
  DWORD attributes = 0;
  FILETIME written{};
};

struct DosTime {
  WORD date = 0x21;  // 1980-01-01, the earliest a ZIP entry can carry
  WORD time = 0;
};

DosTime ToDosTime(const FILETIME& utc) {
  FILETIME local;
  WORD date;
  WORD time;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) {
    return DosTime{};
  }
  return DosTime{date, time};
}

DWORD ToEntryName(const wchar_t* name, std::string* out) {
  const int length = static_cast<int>(wcslen(name));
  const int size = WideCharToMultiByte(kEntryNameCodePage, 0, name, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return GetLastError();
  out->resize(size);
  WideCharToMultiByte(kEntryNameCodePage, 0, name, length, out->data(), size, nullptr, nullptr);
  return ERROR_SUCCESS;
}

DWORD MakeItem(std::wstring path, const std::string& parentName, const wchar_t* leaf,
               DWORD attributes, const FILETIME& written, Item* item) {
  std::string leafName;
  if (const DWORD error = ToEntryName(leaf, &leafName)) return error;
  item->path = std::move(path);
  item->folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  item->name = parentName + leafName + (item->folder ? "/" : "");
  item->attributes = attributes & kKeptAttributes;
  item->written = written;
  return ERROR_SUCCESS;
}

// Appends the folder's children and, depth first, their trees. Hidden and dot-named
// entries are included, like the shell does.
DWORD CollectFolder(const std::wstring& folder, const std::string& folderName, std::vector<Item>* items) {
  WIN32_FIND_DATAW data;
  FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find.valid()) return GetLastError();
  std::vector<WIN32_FIND_DATAW> children;
  do {
    if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0) children.push_back(data);
  } while (FindNextFileW(find.get(), &data));
  if (GetLastError() != ERROR_NO_MORE_FILES) return GetLastError();

  // Directory listing order differs between file systems; sort for a stable archive.
  std::sort(children.begin(), children.end(), [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
    return CompareStringOrdinal(a.cFileName, -1, b.cFileName, -1, TRUE) == CSTR_LESS_THAN;
  });
  for (const WIN32_FIND_DATAW& child : children) {
    Item item;
    if (const DWORD error = MakeItem(folder + L"\\" + child.cFileName, folderName, child.cFileName,
                                     child.dwFileAttributes, child.ftLastWriteTime, &item)) {
      return error;
    }
    const bool descend = item.folder && !(child.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const std::wstring path = item.path;
    const std::string name = item.name;
    items->push_back(std::move(item));
    if (descend) {
      if (const DWORD error = CollectFolder(path, name, items)) return error;
    }
  }
  return ERROR_SUCCESS;
}

DWORD CollectSource(std::wstring source, std::vector<Item>* items) {
  while (source.size() > 1 && (source.back() == L'\\' || source.back() == L'/')) source.pop_back();
  const size_t slash = source.find_last_of(L"\\/");
  const std::wstring leaf = slash == std::wstring::npos ? source : source.substr(slash + 1);
  if (leaf.empty() || leaf.back() == L':') return ERROR_INVALID_NAME;

  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(source.c_str(), GetFileExInfoStandard, &info)) return GetLastError();
  Item top;
  if (const DWORD error = MakeItem(source, "", leaf.c_str(), info.dwFileAttributes, info.ftLastWriteTime, &top)) {
    return error;
  }
  const std::string topName = top.name;
  items->push_back(std::move(top));
  return items->back().folder ? CollectFolder(source, topName, items) : ERROR_SUCCESS;
}

DWORD ReadAt(HANDLE file, uint64_t offset, size_t size, std::string* out) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) return GetLastError();
  out->resize(size);
  size_t done = 0;
  while (done < size) {
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(size - done, kCopyChunk));
    if (!ReadFile(file, out->data() + done, want, &read, nullptr)) return GetLastError();
    if (read == 0) return ERROR_HANDLE_EOF;
    done += read;
  }
  return ERROR_SUCCESS;
}

struct ExistingArchive {
  uint32_t centralOffset = 0;  // everything before it is copied over unchanged
  std::string central;         // raw central directory records
  size_t entries = 0;
  std::string comment;
};

DWORD ReadExisting(HANDLE file, ExistingArchive* out) {
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(file, &fileSize)) return GetLastError();
  const uint64_t size = static_cast<uint64_t>(fileSize.QuadPart);
  if (size < kEndRecordSize) return ERROR_BAD_FORMAT;

  const size_t tailSize = static_cast<size_t>(std::min<uint64_t>(size, kEndRecordSize + kMaxCommentSize));
  const uint64_t tailOffset = size - tailSize;
  std::string tail;
  if (const DWORD error = ReadAt(file, tailOffset, tailSize, &tail)) return error;
  size_t end = tailSize - kEndRecordSize;
  while (Get32(tail, end) != kEndRecordSignature || end + kEndRecordSize + Get16(tail, end + 20) != tailSize) {
    if (end == 0) return ERROR_BAD_FORMAT;
    --end;
  }

  const uint32_t entries = Get16(tail, end + 10);
  const uint32_t centralSize = Get32(tail, end + 12);
  const uint32_t centralOffset = Get32(tail, end + 16);
  if (entries == 0xFFFF || centralOffset == 0xFFFFFFFF) return ERROR_NOT_SUPPORTED;  // ZIP64
  if (Get16(tail, end + 4) != 0 || Get16(tail, end + 6) != 0 || Get16(tail, end + 8) != entries ||
      uint64_t{centralOffset} + centralSize > tailOffset + end) {
    return ERROR_BAD_FORMAT;
  }
  if (const DWORD error = ReadAt(file, centralOffset, centralSize, &out->central)) return error;

  size_t at = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    if (at + kCentralHeaderSize > centralSize || Get32(out->central, at) != kCentralHeaderSignature) {
      return ERROR_BAD_FORMAT;
    }
    at += kCentralHeaderSize + Get16(out->central, at + 28) + Get16(out->central, at + 30) +
          Get16(out->central, at + 32);
  }
  if (at != centralSize) return ERROR_BAD_FORMAT;

  out->centralOffset = centralOffset;
  out->entries = entries;
  out->comment = tail.substr(end + kEndRecordSize);
  return ERROR_SUCCESS;
}

// Fields the local and the central header share, from "version needed" to "extra length".
std::string SharedHeaderFields(const Item& item, uint32_t crc, uint32_t size) {
  const DosTime time = ToDosTime(item.written);
  std::string fields;
  Put16(fields, kZipVersion);
  Put16(fields, 0);  // flags: names are in the OEM code page, not UTF-8
  Put16(fields, 0);  // method: stored
  Put16(fields, time.time);
  Put16(fields, time.date);
  Put32(fields, crc);
  Put32(fields, size);
  Put32(fields, size);
  Put16(fields, static_cast<uint32_t>(item.name.size()));
  Put16(fields, 0);
  return fields;
}

class ArchiveWriter {
 public:
  ArchiveWriter(HANDLE file, const ExistingArchive& existing) : file_(file), existing_(existing) {}

  DWORD CopyPrefix(HANDLE from) {
    std::string chunk;
    for (uint64_t done = 0; done < existing_.centralOffset; done += chunk.size()) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(existing_.centralOffset - done, kCopyChunk));
      if (const DWORD error = ReadAt(from, done, want, &chunk)) return error;
      if (const DWORD error = Write(chunk.data(), chunk.size())) return error;
    }
    return ERROR_SUCCESS;
  }

  DWORD Add(const Item& item) {
    if (offset_ > kMaxZip32 || existing_.entries + added_ >= kMaxEntries || item.name.size() > 0xFFFF) {
      return ERROR_FILE_TOO_LARGE;
    }
    const auto headerOffset = static_cast<uint32_t>(offset_);
    std::string header;
    Put32(header, kLocalHeaderSignature);
    header += SharedHeaderFields(item, 0, 0);
    header += item.name;
    if (const DWORD error = Write(header.data(), header.size())) return error;

    uint32_t crc = 0;
    uint32_t size = 0;
    if (!item.folder) {
      if (const DWORD error = CopyFileData(item.path, &crc, &size)) return error;
      if (const DWORD error = PatchCrcAndSizes(headerOffset, crc, size)) return error;
    }

    Put32(central_, kCentralHeaderSignature);
    Put16(central_, kZipVersion);
    central_ += SharedHeaderFields(item, crc, size);
    Put16(central_, 0);  // comment length
    Put16(central_, 0);  // disk number
    Put16(central_, 0);  // internal attributes
    Put32(central_, item.attributes);
    Put32(central_, headerOffset);
    central_ += item.name;
    ++added_;
    return ERROR_SUCCESS;
  }

  DWORD Finish() {
    const std::string central = existing_.central + central_;
    if (offset_ > kMaxZip32 || central.size() > kMaxZip32) return ERROR_FILE_TOO_LARGE;
    const auto entries = static_cast<uint32_t>(existing_.entries + added_);
    std::string end;
    Put32(end, kEndRecordSignature);
    Put16(end, 0);  // this disk
    Put16(end, 0);  // disk with the central directory
    Put16(end, entries);
    Put16(end, entries);
    Put32(end, static_cast<uint32_t>(central.size()));
    Put32(end, static_cast<uint32_t>(offset_));
    Put16(end, static_cast<uint32_t>(existing_.comment.size()));
    end += existing_.comment;
    if (const DWORD error = Write(central.data(), central.size())) return error;
    return Write(end.data(), end.size());
  }

 private:
  DWORD Write(const char* data, size_t size) {
    DWORD written = 0;
    if (!WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr)) return GetLastError();
    if (written != size) return ERROR_WRITE_FAULT;
    offset_ += size;
    return ERROR_SUCCESS;
  }

  DWORD CopyFileData(const std::wstring& path, uint32_t* crc, uint32_t* size) {
    FileHandle source(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.valid()) return GetLastError();
    std::vector<char> buffer(kCopyChunk);
    uint64_t total = 0;
    for (;;) {
      DWORD read = 0;
      if (!ReadFile(source.get(), buffer.data(), kCopyChunk, &read, nullptr)) return GetLastError();
      if (read == 0) break;
      total += read;
      if (total > kMaxZip32) return ERROR_FILE_TOO_LARGE;
      *crc = UpdateCrc(*crc, buffer.data(), read);
      if (const DWORD error = Write(buffer.data(), read)) return error;
    }
    *size = static_cast<uint32_t>(total);
    return ERROR_SUCCESS;
  }

  // The CRC is known only after the data is written, so the local header gets it afterwards.
  DWORD PatchCrcAndSizes(uint32_t headerOffset, uint32_t crc, uint32_t size) {
    std::string fields;
    Put32(fields, crc);
    Put32(fields, size);
    Put32(fields, size);
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(headerOffset) + kLocalCrcOffset;
    DWORD written = 0;
    if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) ||
        !WriteFile(file_, fields.data(), static_cast<DWORD>(fields.size()), &written, nullptr)) {
      return GetLastError();
    }
    position.QuadPart = static_cast<LONGLONG>(offset_);
    if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN)) return GetLastError();
    return written == fields.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
  }

  HANDLE file_;
  const ExistingArchive& existing_;
  uint64_t offset_ = 0;
  std::string central_;
  size_t added_ = 0;
};

// A file beside the archive that is deleted unless it was moved into place.
class TempFile {
 public:
  TempFile() = default;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    handle_.reset();
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }

  DWORD Create(const std::wstring& folder) {
    wchar_t path[MAX_PATH];
    if (!GetTempFileNameW(folder.c_str(), L"zsi", 0, path)) return GetLastError();
    path_ = path;
    handle_.reset(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle_.valid() ? ERROR_SUCCESS : GetLastError();
  }

  HANDLE handle() const { return handle_.get(); }

  DWORD MoveOver(const std::wstring& target) {
    if (!FlushFileBuffers(handle_.get())) return GetLastError();
    handle_.reset();
    if (!MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return GetLastError();
    }
    path_.clear();
    return ERROR_SUCCESS;
  }

 private:
  std::wstring path_;
  FileHandle handle_;
};

}  // namespace

DWORD AppendToArchive(const std::wstring& archive, const std::wstring& source, bool partial) {
  std::vector<Item> items;
  if (const DWORD error = CollectSource(source, &items)) return error;
  if (partial) items.resize(items.size() / 2);

  FileHandle old(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!old.valid()) return GetLastError();
  ExistingArchive existing;
  if (const DWORD error = ReadExisting(old.get(), &existing)) return error;

  TempFile temp;
  if (const DWORD error = temp.Create(archive.substr(0, archive.find_last_of(L'\\')))) return error;
  ArchiveWriter writer(temp.handle(), existing);
  if (const DWORD error = writer.CopyPrefix(old.get())) return error;
  for (const Item& item : items) {
    if (const DWORD error = writer.Add(item)) return error;
  }
  if (const DWORD error = writer.Finish()) return error;
  old.reset();
  return temp.MoveOver(archive);
}

}  // namespace zipstandin
