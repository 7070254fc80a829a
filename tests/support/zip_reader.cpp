#include "zip_reader.h"

#include <windows.h>

#include <algorithm>

namespace dropline::test {

// Bit by bit on purpose: independent of the table-driven CRCs of the code under test.
uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (const char c : data) {
    crc ^= static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kFlagEncrypted = 1 << 0;
constexpr uint16_t kFlagDataDescriptor = 1 << 3;

// at() rather than []: a bounds slip in the checks below then throws in a test
// instead of reading past the buffer unnoticed.
uint16_t Get16(const std::string& in, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(in.at(at)) | static_cast<uint8_t>(in.at(at + 1)) << 8);
}

uint32_t Get32(const std::string& in, size_t at) {
  return Get16(in, at) | static_cast<uint32_t>(Get16(in, at + 2)) << 16;
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

bool ZipReader::Fail(std::string message, std::string* error) {
  entries_.clear();
  comment_.clear();
  if (error) *error = std::move(message);
  return false;
}

bool ZipReader::OpenFile(const std::wstring& path, std::string* error) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return Fail("cannot open file, error " + std::to_string(GetLastError()), error);
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return Fail("cannot get file size", error);
  if (size.QuadPart > 0x7FFFFFFF) return Fail("file too large for a test archive", error);
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) ||
        read == 0) {
      return Fail("cannot read file", error);
    }
    done += read;
  }
  return Open(std::move(bytes), error);
}

bool ZipReader::Open(std::string bytes, std::string* error) {
  bytes_ = std::move(bytes);
  entries_.clear();
  comment_.clear();
  const size_t size = bytes_.size();
  if (size < kEndRecordSize) return Fail("shorter than an end of central directory record", error);

  // The end record is followed only by its comment, whose length it states.
  const size_t lowest = size - kEndRecordSize - std::min(size - kEndRecordSize, kMaxCommentSize);
  size_t end = size - kEndRecordSize;
  while (Get32(bytes_, end) != kEndRecordSignature || end + kEndRecordSize + Get16(bytes_, end + 20) != size) {
    if (end == lowest) return Fail("no end of central directory record", error);
    --end;
  }
  const uint16_t entryCount = Get16(bytes_, end + 10);
  const uint32_t centralSize = Get32(bytes_, end + 12);
  const uint32_t centralOffset = Get32(bytes_, end + 16);
  if (entryCount == 0xFFFF || centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF) {
    return Fail("ZIP64 archives are not supported", error);
  }
  if (Get16(bytes_, end + 4) != 0 || Get16(bytes_, end + 6) != 0 || Get16(bytes_, end + 8) != entryCount) {
    return Fail("multi-disk archives are not supported", error);
  }
  if (uint64_t{centralOffset} + centralSize > end) return Fail("central directory overlaps the end record", error);

  std::vector<ZipEntry> entries;
  size_t at = centralOffset;
  const size_t centralEnd = size_t{centralOffset} + centralSize;
  for (uint16_t i = 0; i < entryCount; ++i) {
    const std::string where = "central record " + std::to_string(i) + ": ";
    if (at + kCentralHeaderSize > centralEnd) return Fail(where + "truncated", error);
    if (Get32(bytes_, at) != kCentralHeaderSignature) return Fail(where + "bad signature", error);
    const size_t nameSize = Get16(bytes_, at + 28);
    const size_t recordSize = kCentralHeaderSize + nameSize + Get16(bytes_, at + 30) + Get16(bytes_, at + 32);
    if (at + recordSize > centralEnd) return Fail(where + "variable fields run past the directory", error);
    if (Get16(bytes_, at + 34) != 0) return Fail(where + "entry on another disk", error);

    ZipEntry entry;
    entry.flags = Get16(bytes_, at + 8);
    entry.method = Get16(bytes_, at + 10);
    entry.crc32 = Get32(bytes_, at + 16);
    entry.compressedSize = Get32(bytes_, at + 20);
    entry.uncompressedSize = Get32(bytes_, at + 24);
    entry.externalAttributes = Get32(bytes_, at + 38);
    entry.localHeaderOffset = Get32(bytes_, at + 42);
    entry.name = bytes_.substr(at + kCentralHeaderSize, nameSize);
    at += recordSize;

    const size_t local = entry.localHeaderOffset;
    if (local + kLocalHeaderSize > centralOffset) return Fail(where + "local header outside the data area", error);
    if (Get32(bytes_, local) != kLocalHeaderSignature) return Fail(where + "bad local header signature", error);
    const size_t localNameSize = Get16(bytes_, local + 26);
    entry.dataOffset = local + kLocalHeaderSize + localNameSize + Get16(bytes_, local + 28);
    if (entry.dataOffset + entry.compressedSize > centralOffset) return Fail(where + "data runs past the data area", error);
    if (bytes_.compare(local + kLocalHeaderSize, localNameSize, entry.name) != 0) {
      return Fail(where + "local header names another entry", error);
    }
    const bool localSizesValid = !(entry.flags & kFlagDataDescriptor);
    if (Get16(bytes_, local + 8) != entry.method ||
        (localSizesValid && (Get32(bytes_, local + 14) != entry.crc32 || Get32(bytes_, local + 18) != entry.compressedSize ||
                             Get32(bytes_, local + 22) != entry.uncompressedSize))) {
      return Fail(where + "local header disagrees with the central directory", error);
    }
    entries.push_back(std::move(entry));
  }
  if (at != centralEnd) return Fail("central directory size does not match its records", error);

  entries_ = std::move(entries);
  comment_ = bytes_.substr(end + kEndRecordSize);
  return true;
}

std::vector<std::string> ZipReader::names() const {
  std::vector<std::string> names;
  for (const ZipEntry& entry : entries_) names.push_back(entry.name);
  return names;
}

const ZipEntry* ZipReader::Find(const std::string& name) const {
  const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const ZipEntry& e) { return e.name == name; });
  return found == entries_.end() ? nullptr : &*found;
}

bool ZipReader::Extract(const ZipEntry& entry, std::string* data, std::string* error) const {
  const auto fail = [error](std::string message) {
    if (error) *error = std::move(message);
    return false;
  };
  if (entry.flags & kFlagEncrypted) return fail("entry is encrypted");
  if (entry.method != 0) return fail("compression method " + std::to_string(entry.method) + " is not supported");
  if (entry.compressedSize != entry.uncompressedSize) return fail("stored entry with differing sizes");
  if (entry.dataOffset + entry.compressedSize > bytes_.size()) return fail("entry is not from this archive");
  std::string content = bytes_.substr(entry.dataOffset, entry.compressedSize);
  if (Crc32(content) != entry.crc32) return fail("CRC mismatch");
  *data = std::move(content);
  return true;
}

}  // namespace dropline::test
