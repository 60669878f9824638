// SPDX-License-Identifier: MIT
#pragma once

#include <unistd.h>

#include <utility>

namespace lirevo {

// Owns one file descriptor and closes it.
class PosixFd {
 public:
  PosixFd() = default;
  explicit PosixFd(int fd) : m_fd(fd) {}
  ~PosixFd() { reset(); }
  PosixFd(PosixFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  PosixFd& operator=(PosixFd&& other) noexcept {
    if (this != &other) {
      reset();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  PosixFd(const PosixFd&) = delete;
  PosixFd& operator=(const PosixFd&) = delete;

  int get() const { return m_fd; }
  bool valid() const { return m_fd >= 0; }
  void reset(int fd = -1) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd = -1;
};

}  // namespace lirevo
