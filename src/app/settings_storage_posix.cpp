// SPDX-License-Identifier: MIT
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include "charset.h"
#include "settings_storage.h"

namespace lirevo {
namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  // Closes now and tells whether the close succeeded (a late write error shows here).
  bool reset() {
    if (m_fd < 0) return true;
    const int rc = ::close(m_fd);
    m_fd = -1;
    return rc == 0;
  }

 private:
  int m_fd;
};

std::string nativePath(const std::string& path) { return gbkToUtf8(path); }

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A settings file reached through a symbolic link is replaced where it really
// lies, so the link stays a link.
std::string resolvedTarget(const std::string& native) {
  struct stat info {};
  if (::lstat(native.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return native;
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(native.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : native;
}

void syncDirectoryOf(const std::string& native) {
  const std::size_t slash = native.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : native.substr(0, slash == 0 ? 1 : slash);
  const FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

}  // namespace

FileReadStatus readFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes) {
  bytes.clear();
  // O_NONBLOCK: opening a FIFO left in the file's place must not wait for a writer.
  const FileDescriptor fd(::open(nativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.valid())
    return (errno == ENOENT || errno == ENOTDIR) ? FileReadStatus::Missing : FileReadStatus::Unreadable;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileReadStatus::Unreadable;
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) return FileReadStatus::Unreadable;
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      bytes.clear();
      return FileReadStatus::Unreadable;
    }
    if (got == 0) break;  // shrank while being read
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return FileReadStatus::Read;
}

bool replaceFileContent(const std::string& path, std::string_view bytes) {
  const std::string target = resolvedTarget(nativePath(path));
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) return false;

  // Saves are serialised in the process and the process id keeps other
  // processes apart; a later number only steps over a stale leftover.
  std::string temporary;
  int rawFd = -1;
  for (int attempt = 0; attempt < 100 && rawFd < 0; ++attempt) {
    temporary = target + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    rawFd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (rawFd < 0 && errno != EEXIST) return false;
  }
  FileDescriptor fd(rawFd);
  if (!fd.valid()) return false;
  bool ok = true;
  if (exists) ok = ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
  ok = ok && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  ok = fd.reset() && ok;
  ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  syncDirectoryOf(target);
  return true;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(nativePath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool createDirectory(const std::string& path) { return ::mkdir(nativePath(path).c_str(), 0777) == 0; }

}  // namespace lirevo
