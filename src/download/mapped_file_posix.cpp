// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "mapped_file.h"

namespace lirevo {

MappedFile::Window::Window(Window&& other) noexcept
    : m_address(std::exchange(other.m_address, nullptr)),
      m_base(other.m_base),
      m_lengthBytes(other.m_lengthBytes),
      m_stretchOffset(other.m_stretchOffset) {}

MappedFile::Window& MappedFile::Window::operator=(Window&& other) noexcept {
  if (this != &other) {
    unmap();
    m_address = std::exchange(other.m_address, nullptr);
    m_base = other.m_base;
    m_lengthBytes = other.m_lengthBytes;
    m_stretchOffset = other.m_stretchOffset;
  }
  return *this;
}

MappedFile::Window::~Window() { unmap(); }

void MappedFile::Window::unmap() {
  if (m_address != nullptr) ::munmap(std::exchange(m_address, nullptr), m_lengthBytes);
}

bool MappedFile::Window::write(std::int64_t offset, const char* data, std::size_t sizeBytes) {
  const auto length = static_cast<std::int64_t>(sizeBytes);
  const std::int64_t end = m_base + static_cast<std::int64_t>(m_lengthBytes);
  if (m_address == nullptr || offset < m_stretchOffset || length > end - offset) return false;
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
  const std::int64_t base = offset / kWindowAlignmentBytes * kWindowAlignmentBytes;
  const auto length = static_cast<std::size_t>(offset - base + lengthBytes);
  void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_descriptor, base);
  if (address == MAP_FAILED) return std::nullopt;
  // One call instead of a page fault per page; kernels before 5.14 refuse
  // it, and the writes then fault the pages in themselves.
  ::madvise(address, length, MADV_POPULATE_WRITE);
  return Window(static_cast<char*>(address), base, length, offset);
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
