// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "mapped_file.h"

namespace lirevo {
namespace {

// Maps `lengthBytes` of the file from `base` at an address aligned to
// kHugeWindowBytes: a huge page can only be mapped where both the file
// offset and the address are. Reserves a larger stretch of address space
// first and maps the file over its aligned part, then gives back the rest.
void* mapAligned(int descriptor, std::int64_t base, std::size_t lengthBytes) {
  const std::size_t alignment = kHugeWindowBytes;
  const std::size_t reservedBytes = lengthBytes + alignment;
  void* reserved =
      ::mmap(nullptr, reservedBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (reserved == MAP_FAILED) return MAP_FAILED;
  auto* start = static_cast<char*>(reserved);
  auto* aligned = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(start) + alignment - 1) &
                                          ~static_cast<std::uintptr_t>(alignment - 1));
  void* address =
      ::mmap(aligned, lengthBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, descriptor, base);
  if (address == MAP_FAILED) {
    ::munmap(reserved, reservedBytes);
    return MAP_FAILED;
  }
  if (aligned > start) ::munmap(start, static_cast<std::size_t>(aligned - start));
  // The mapping ends on a whole page even where the file does not.
  const auto pageBytes = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  char* end = aligned + (lengthBytes + pageBytes - 1) / pageBytes * pageBytes;
  char* reservedEnd = start + reservedBytes;
  if (reservedEnd > end) ::munmap(end, static_cast<std::size_t>(reservedEnd - end));
  return address;
}

}  // namespace

MappedFile::Window::Window(Window&& other) noexcept
    : m_address(std::exchange(other.m_address, nullptr)),
      m_base(other.m_base),
      m_lengthBytes(other.m_lengthBytes),
      m_stretchOffset(other.m_stretchOffset),
      m_stretchEnd(other.m_stretchEnd) {}

MappedFile::Window& MappedFile::Window::operator=(Window&& other) noexcept {
  if (this != &other) {
    unmap();
    m_address = std::exchange(other.m_address, nullptr);
    m_base = other.m_base;
    m_lengthBytes = other.m_lengthBytes;
    m_stretchOffset = other.m_stretchOffset;
    m_stretchEnd = other.m_stretchEnd;
  }
  return *this;
}

MappedFile::Window::~Window() { unmap(); }

void MappedFile::Window::unmap() {
  if (m_address != nullptr) ::munmap(std::exchange(m_address, nullptr), m_lengthBytes);
}

bool MappedFile::Window::write(std::int64_t offset, const char* data, std::size_t sizeBytes) {
  const auto length = static_cast<std::int64_t>(sizeBytes);
  if (m_address == nullptr || offset < m_stretchOffset || length > m_stretchEnd - offset) return false;
  std::memcpy(m_address + (offset - m_base), data, sizeBytes);
  return true;
}

std::optional<MappedFile> MappedFile::create(const std::string& utf8Path, std::int64_t sizeBytes) {
  if (sizeBytes <= 0) return std::nullopt;
  const int descriptor = ::open(utf8Path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) return std::nullopt;
  MappedFile file(descriptor, sizeBytes);
  // A sparse file would let a write through a window fail for lack of disk
  // space with SIGBUS; reserving the blocks makes that a clean failure here.
  // File systems that cannot reserve get the plain size.
  bool grown = ::ftruncate(descriptor, sizeBytes) == 0;
  if (grown) {
    const int reserved = ::posix_fallocate(descriptor, 0, sizeBytes);
    grown = reserved == 0 || reserved == EOPNOTSUPP || reserved == EINVAL;
  }
  if (!grown) {
    file.close();
    ::unlink(utf8Path.c_str());
    return std::nullopt;
  }
  return file;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : m_descriptor(std::exchange(other.m_descriptor, -1)), m_sizeBytes(other.m_sizeBytes) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    close();
    m_descriptor = std::exchange(other.m_descriptor, -1);
    m_sizeBytes = other.m_sizeBytes;
  }
  return *this;
}

MappedFile::~MappedFile() { close(); }

std::optional<MappedFile::Window> MappedFile::mapWindow(std::int64_t offset, std::int64_t lengthBytes) const {
  if (m_descriptor < 0 || offset < 0 || lengthBytes <= 0 || lengthBytes > m_sizeBytes ||
      offset > m_sizeBytes - lengthBytes)
    return std::nullopt;
  const std::int64_t stretchEnd = offset + lengthBytes;
  const std::int64_t base = offset / kHugeWindowBytes * kHugeWindowBytes;
  const std::int64_t end =
      std::min(m_sizeBytes, (stretchEnd + kHugeWindowBytes - 1) / kHugeWindowBytes * kHugeWindowBytes);
  const auto length = static_cast<std::size_t>(end - base);
  void* address = mapAligned(m_descriptor, base, length);
  if (address == MAP_FAILED) return std::nullopt;
  char* stretch = static_cast<char*>(address) + (offset - base);
  // Huge pages for files are given only on request where the system keeps
  // them for those who ask; without them the window still works, with
  // small pages.
  ::madvise(address, length, MADV_HUGEPAGE);
  // One call instead of a page fault per page; kernels before 5.14 refuse
  // it, and the writes then fault the pages in themselves. Only the
  // stretch: with huge pages its first page brings the whole huge page, and
  // without them the rest is another worker's to fault in.
  const auto stretchBytes = static_cast<std::size_t>(lengthBytes);
  const auto pageBytes = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  auto* firstPage = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(stretch) & ~(pageBytes - 1));
  ::madvise(firstPage, static_cast<std::size_t>(stretch + stretchBytes - firstPage), MADV_POPULATE_WRITE);
  return Window(static_cast<char*>(address), base, length, offset, stretchEnd);
}

void MappedFile::startWriteback(std::int64_t offset, std::int64_t lengthBytes) const {
  // A hint: a file system without it leaves everything to the flush.
  if (m_descriptor >= 0) ::sync_file_range(m_descriptor, offset, lengthBytes, SYNC_FILE_RANGE_WRITE);
}

bool MappedFile::flush() const { return m_descriptor >= 0 && ::fdatasync(m_descriptor) == 0; }

void MappedFile::close() {
  if (m_descriptor >= 0) ::close(std::exchange(m_descriptor, -1));
}

bool replaceFile(const std::string& fromUtf8, const std::string& toUtf8) {
  return std::rename(fromUtf8.c_str(), toUtf8.c_str()) == 0;
}

bool removeFile(const std::string& utf8Path) { return ::unlink(utf8Path.c_str()) == 0; }

}  // namespace lirevo
