#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dropline::test {

// The CRC-32 of ZIP and PNG.
uint32_t Crc32(const std::string& data);

struct ZipEntry {
  std::string name;  // raw bytes as stored; no code page conversion
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc32 = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  uint32_t externalAttributes = 0;
  uint32_t localHeaderOffset = 0;
  uint64_t dataOffset = 0;  // just past the local header

  bool isFolder() const { return !name.empty() && name.back() == '/'; }
};

// Reads a ZIP archive's central directory and checks it against the local headers,
// so tests can assert on what an archive really holds. Anything malformed, including
// ZIP64 and multi-disk archives, is reported as an error, never trusted.
class ZipReader {
 public:
  // Parses `bytes` as a whole archive. Returns false and sets *error on failure.
  bool Open(std::string bytes, std::string* error);
  bool OpenFile(const std::wstring& path, std::string* error);

  const std::vector<ZipEntry>& entries() const { return entries_; }
  std::vector<std::string> names() const;
  const ZipEntry* Find(const std::string& name) const;
  const std::string& comment() const { return comment_; }

  // Returns the data of a stored (uncompressed) entry after checking its CRC.
  bool Extract(const ZipEntry& entry, std::string* data, std::string* error) const;

 private:
  bool Fail(std::string message, std::string* error);

  std::string bytes_;
  std::vector<ZipEntry> entries_;
  std::string comment_;
};

}  // namespace dropline::test
