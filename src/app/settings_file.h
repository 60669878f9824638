// SPDX-License-Identifier: MIT
#pragma once

// The edit boxes' texts, kept from one run to the next in "data/setsoft.ini"
// under the program directory: section "编辑框", one key per edit box named
// like the box. Texts are GBK; so is the file.

#include <string>
#include <string_view>

#include "control_access.h"

namespace lirevo {

// Files larger than this are not settings files; they are neither read nor
// overwritten.
inline constexpr std::size_t kSettingsFileMaxBytes = 16 * 1024 * 1024;

// Line breaks and double quotes are kept out of the file's values:
// "\r\n" becomes "><br><", then '"' becomes "#引号"; decoding reverses it in
// the same order. A lone "\r" or "\n" is not encoded.
std::string encodeSettingValue(std::string_view text);
std::string decodeSettingValue(std::string_view value);

// Creates the directory and every missing directory above it; failures are
// ignored. Paths shorter than three characters are left alone.
void ensureDirectory(const std::string& directory);

// programDirectory + "/data/setsoft.ini"; creates the "data" directory when
// it is missing.
std::string defaultSettingsFilePath(const std::string& programDirectory);

// Writes the text of every edit box of the window whose name is not in
// `excludedNames` (names separated by "|", compared exactly) into the file.
// An empty `settingsFilePath` is set to the default location first. The file
// is replaced whole or not at all; failures are silent. Returns the number of
// edit boxes the window has, saved or not.
int saveSettings(ControlAccess& window, std::string& settingsFilePath, std::string_view excludedNames,
                 const std::string& programDirectory);

// Puts the saved text back into every edit box whose key holds a non-empty,
// well-formed GBK value; the other boxes keep their text. A missing,
// unreadable or malformed file restores nothing. Returns the number of edit
// boxes. An empty `settingsFilePath` is handled as for saving.
int restoreSettings(ControlAccess& window, std::string& settingsFilePath,
                    const std::string& programDirectory);

}  // namespace lirevo
