// SPDX-License-Identifier: MIT
#pragma once

// The download's output file, written in place through short-lived mapped
// windows. Paths are UTF-8, as the file system wants them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lirevo {

// Window starts are aligned down to this, whatever the page size.
inline constexpr std::int64_t kWindowAlignmentBytes = 65536;

class MappedFile {
 public:
  // Creates the file, or empties an existing one, and gives it its full size
  // at once, with the disk space reserved where the file system can, so that
  // a later write through a window does not run out of room. Nothing when
  // the file cannot be created or grown; a file that was created is then
  // removed again.
  static std::optional<MappedFile> create(const std::string& utf8Path, std::int64_t sizeBytes);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Copies the bytes to `offset` through a writable window mapped for this
  // call only and unmapped before it returns, so each writer holds at most
  // one window. Safe from several threads at once for disjoint ranges. False
  // when the range reaches outside the file or the window cannot be mapped.
  bool writeAt(std::int64_t offset, const char* data, std::size_t sizeBytes) const;

  // Waits until the written bytes are on the disk.
  bool flush() const;
  void close();
  std::int64_t sizeBytes() const { return m_sizeBytes; }

 private:
  MappedFile(int descriptor, std::int64_t sizeBytes) : m_descriptor(descriptor), m_sizeBytes(sizeBytes) {}

  int m_descriptor = -1;
  std::int64_t m_sizeBytes = 0;
};

// Puts `fromUtf8` in the place of `toUtf8` in one step: a reader of `toUtf8`
// sees the old file or the whole new one, never a part.
bool replaceFile(const std::string& fromUtf8, const std::string& toUtf8);
bool removeFile(const std::string& utf8Path);

}  // namespace lirevo
