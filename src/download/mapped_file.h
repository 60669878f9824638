// SPDX-License-Identifier: MIT
#pragma once

// The download's output file, written in place through short-lived mapped
// windows. Paths are UTF-8, as the file system wants them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace lirevo {

// Window starts are aligned down to at least this, whatever the page size.
inline constexpr std::int64_t kWindowAlignmentBytes = 65536;
// Windows are widened to whole stretches of this size, placed at addresses
// aligned to it, so that the kernel can map each stretch as one huge page
// instead of 512 small ones. On a virtual machine every small page costs a
// trap on its first touch, which made writing through small-page windows
// several times slower than plain writes; a worker's neighbour block shares
// the huge page.
inline constexpr std::int64_t kHugeWindowBytes = 2 * 1048576;
static_assert(kHugeWindowBytes % kWindowAlignmentBytes == 0, "huge windows keep the window alignment");

class MappedFile {
 public:
  // A writable view of one stretch of the file, unmapped when it goes. The
  // mapping starts at the stretch's start aligned down to kHugeWindowBytes;
  // writes are taken only inside the stretch.
  class Window {
   public:
    Window(Window&& other) noexcept;
    Window& operator=(Window&& other) noexcept;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window();

    // Copies the bytes to `offset` (a file offset). False when the range
    // reaches outside the stretch.
    bool write(std::int64_t offset, const char* data, std::size_t sizeBytes);

   private:
    friend class MappedFile;
    Window(char* address, std::int64_t base, std::size_t lengthBytes, std::int64_t stretchOffset,
           std::int64_t stretchEnd)
        : m_address(address),
          m_base(base),
          m_lengthBytes(lengthBytes),
          m_stretchOffset(stretchOffset),
          m_stretchEnd(stretchEnd) {}
    void unmap();

    char* m_address = nullptr;
    std::int64_t m_base = 0;  // file offset of m_address
    std::size_t m_lengthBytes = 0;
    // Writes are taken in [m_stretchOffset, m_stretchEnd) only: the rest of
    // the mapping may be another worker's block.
    std::int64_t m_stretchOffset = 0;
    std::int64_t m_stretchEnd = 0;
  };

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

  // Maps the stretch [offset, offset + lengthBytes) for writing, with its
  // pages made present and writable at once rather than one fault at a time.
  // The mapping itself covers the whole kHugeWindowBytes stretches around it
  // (cut at the file's end).
  // Safe from several threads at once. Nothing when the stretch reaches
  // outside the file or cannot be mapped.
  std::optional<Window> mapWindow(std::int64_t offset, std::int64_t lengthBytes) const;

  // Starts writing the stretch's bytes to the disk without waiting for them,
  // so that the flush at the end has little left to do. Call it only for a
  // stretch no window maps any more: writing out a page that is still mapped
  // makes the next write through it break up its huge page.
  void startWriteback(std::int64_t offset, std::int64_t lengthBytes) const;
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
