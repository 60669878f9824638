// SPDX-License-Identifier: MIT
#pragma once

// The file-system side of the settings file. Paths are GBK text; the
// platform's own encoding is used only inside.

#include <cstddef>
#include <string>
#include <string_view>

namespace lirevo {

enum class FileReadStatus { Read, Missing, Unreadable };

// Reads a whole regular file of at most `maxBytes`. Anything else (a
// directory, a pipe, a device, a larger file) is Unreadable, and is never
// waited on.
FileReadStatus readFileBytes(const std::string& path, std::size_t maxBytes, std::string& bytes);

// Gives the file `bytes` as its whole content such that, at every moment and
// even if the program dies halfway, the file holds either its old content or
// the new one: the bytes go to a temporary file beside it, which is then
// renamed over it. Refuses to replace anything but a regular file.
bool replaceFileContent(const std::string& path, std::string_view bytes);

bool isDirectory(const std::string& path);

// Creates one directory; false when it could not (it may exist already).
bool createDirectory(const std::string& path);

}  // namespace lirevo
