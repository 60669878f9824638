// SPDX-License-Identifier: MIT
#pragma once

// Where a download goes. Texts are GBK; "/" separates path components.

#include <string>
#include <string_view>

namespace lirevo {

// A save path whose last component has no file extension names a folder: the
// server's file name for the URL is put into it. Any other save path is the
// output path as it stands.
std::string resolveSavePath(std::string_view savePath, std::string_view url);

// The file name the server gives the URL in a Content-Location header (the
// request follows no redirect and leaves the body unread), or else the URL's
// own last path component. A name that is empty, "." or ".." is never given
// from the header.
std::string serverFileName(std::string_view url);

// Backslashes read as "/"; the text before the first "?", and of that what
// follows the last "/".
std::string lastPathComponent(std::string_view text);

// As the shell's extension finder: a "." in the last component that no blank
// follows.
bool hasFileExtension(std::string_view path);

}  // namespace lirevo
