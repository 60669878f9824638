// SPDX-License-Identifier: MIT
#pragma once

// Makes a file or directory unchangeable for the length of a scope with the
// file system's immutable attribute (what chattr +i sets): no entry can then
// be created in, removed from or renamed in such a directory, and such a file
// cannot be written or replaced, by anybody, root included. The tests run as
// root, for whom permission bits are no barrier, and a read-only mount is not
// to be had in every sandbox; ext4, xfs and btrfs have the attribute.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace lirevo::testing {

class ImmutablePath {
 public:
  explicit ImmutablePath(std::string path) : m_path(std::move(path)) { m_set = change(true); }
  ~ImmutablePath() {
    if (m_set) change(false);
  }
  ImmutablePath(const ImmutablePath&) = delete;
  ImmutablePath& operator=(const ImmutablePath&) = delete;

  bool set() const { return m_set; }
  // Why the attribute could not be set, for a test that has to skip.
  const std::string& reason() const { return m_reason; }

 private:
  bool change(bool immutable) {
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return fail("open");
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
      flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
      done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return done || fail("the immutable attribute");
  }
  bool fail(const char* what) {
    m_reason = std::string(what) + " on " + m_path + ": " + std::strerror(errno);
    return false;
  }

  std::string m_path;
  bool m_set = false;
  std::string m_reason;
};

}  // namespace lirevo::testing
