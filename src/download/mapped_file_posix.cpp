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
namespace {

// An unmapped window on every path out of writeAt.
class Window {
 public:
  Window(int descriptor, std::int64_t base, std::size_t lengthBytes) : m_lengthBytes(lengthBytes) {
    void* address = ::mmap(nullptr, lengthBytes, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, base);
    m_address = address == MAP_FAILED ? nullptr : static_cast<char*>(address);
  }
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  ~Window() {
    if (m_address != nullptr) ::munmap(m_address, m_lengthBytes);
  }
  char* address() const { return m_address; }

 private:
  char* m_address = nullptr;
  std::size_t m_lengthBytes;
};

}  // namespace

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

bool MappedFile::writeAt(std::int64_t offset, const char* data, std::size_t sizeBytes) const {
  if (m_descriptor < 0 || offset < 0) return false;
  const auto length = static_cast<std::int64_t>(sizeBytes);
  if (length > m_sizeBytes || offset > m_sizeBytes - length) return false;
  if (sizeBytes == 0) return true;
  const std::int64_t base = offset / kWindowAlignmentBytes * kWindowAlignmentBytes;
  const Window window(m_descriptor, base, static_cast<std::size_t>(offset - base + length));
  if (window.address() == nullptr) return false;
  std::memcpy(window.address() + (offset - base), data, sizeBytes);
  return true;
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
