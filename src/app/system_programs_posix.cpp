// SPDX-License-Identifier: MIT
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "charset.h"
#include "system_programs.h"

namespace lirevo {
namespace {

// File-system paths here are UTF-8.
std::string findOnPath(std::string_view programName) {
  const char* pathVariable = std::getenv("PATH");
  if (pathVariable == nullptr) return {};
  std::string_view entries(pathVariable);
  while (!entries.empty()) {
    const std::size_t colon = entries.find(':');
    const std::string_view directory = entries.substr(0, colon);
    entries = colon == std::string_view::npos ? std::string_view() : entries.substr(colon + 1);
    if (directory.empty() || directory.front() != '/') continue;
    std::string candidate(directory);
    if (candidate.back() != '/') candidate += '/';
    candidate += programName;
    struct stat status {};
    if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

}  // namespace

bool fileExists(const std::string& path) {
  struct stat status {};
  return ::stat(gbkToUtf8(path).c_str(), &status) == 0;
}

bool linkSystemProgram(const std::string& linkPath, std::string_view programName) {
  const std::string target = findOnPath(programName);
  if (target.empty()) return false;
  const std::string link = gbkToUtf8(linkPath);
  struct stat status {};
  if (::lstat(link.c_str(), &status) == 0) {
    // Only a link that leads nowhere is ours to replace.
    if (!S_ISLNK(status.st_mode) || fileExists(linkPath) || ::unlink(link.c_str()) != 0) return false;
  }
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool markExecutable(const std::string& path) {
  const std::string file = gbkToUtf8(path);
  struct stat status {};
  if (::stat(file.c_str(), &status) != 0) return false;
  // Execute wherever read is allowed, as an installer would set it.
  const mode_t readable = status.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
  return ::chmod(file.c_str(), status.st_mode | (readable >> 2)) == 0;
}

}  // namespace lirevo
