// SPDX-License-Identifier: MIT
#include <unistd.h>

#include <string>

#include "charset.h"
#include "program_directory.h"

namespace lirevo {

std::string programDirectory() {
  // The kernel's link names the executable itself, wherever it was started from.
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  // The root directory stays "/" rather than becoming empty.
  path.resize(slash == 0 ? 1 : slash);
  return utf8ToGbk(path);
}

std::string_view pathSeparator() { return "/"; }

}  // namespace lirevo
