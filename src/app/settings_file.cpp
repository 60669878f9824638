// SPDX-License-Identifier: MIT
#include "settings_file.h"

#include <mutex>
#include <utility>
#include <vector>

#include "gbk_literal.h"
#include "gbk_text.h"
#include "profile_text.h"
#include "program_directory.h"
#include "settings_storage.h"

namespace lirevo {
namespace {

// Held around every read and every read-modify-replace of a settings file.
// The save button, the closing of the window and the start-up restore run on
// different threads; without it two saves could each read the old file and
// the second rename would drop the first one's keys. The window is never
// called while it is held: a window call from a worker waits for the window's
// thread, which may itself be waiting here.
std::mutex& settingsFileLock() {
  static std::mutex lock;
  return lock;
}

const std::string& settingsSection() { return "编辑框"_gbk; }

// Structure of GBK (code page 936): single bytes up to 0x80, or a lead byte
// 0x81..0xFE followed by a trail byte 0x40..0xFE other than 0x7F.
bool isWellFormedGbk(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead <= 0x80) {
      ++at;
      continue;
    }
    if (lead == 0xFF || at + 1 >= text.size()) return false;
    const auto trail = static_cast<unsigned char>(text[at + 1]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
    at += 2;
  }
  return true;
}

void useDefaultWhenEmpty(std::string& settingsFilePath, const std::string& programDirectory) {
  if (settingsFilePath.empty()) settingsFilePath = defaultSettingsFilePath(programDirectory);
}

}  // namespace

std::string encodeSettingValue(std::string_view text) {
  return replaceAll(replaceAll(text, "\r\n", "><br><"), "\"", "#引号"_gbk);
}

std::string decodeSettingValue(std::string_view value) {
  return replaceAll(replaceAll(value, "><br><", "\r\n"), "#引号"_gbk, "\"");
}

void ensureDirectory(const std::string& directory) {
  std::size_t characters = 0;
  for (std::size_t at = 0; at < directory.size(); at += gbkCharLength(directory, at)) ++characters;
  if (characters < 3) return;
  const std::string_view separator = pathSeparator();
  // Every directory on the way down, then the whole path. The root (an empty
  // prefix) is never created; every other prefix is, so that a relative path
  // gets its first directory too.
  for (std::size_t at = 0; at < directory.size(); at += gbkCharLength(directory, at)) {
    if (at > 0 && directory.compare(at, separator.size(), separator) == 0) {
      createDirectory(directory.substr(0, at));
    }
  }
  createDirectory(directory);
}

std::string defaultSettingsFilePath(const std::string& programDirectory) {
  const std::string separator(pathSeparator());
  const std::string dataDirectory = programDirectory + separator + "data";
  if (!isDirectory(dataDirectory)) ensureDirectory(dataDirectory);
  return dataDirectory + separator + "setsoft.ini";
}

int saveSettings(ControlAccess& window, std::string& settingsFilePath, std::string_view excludedNames,
                 const std::string& programDirectory) {
  useDefaultWhenEmpty(settingsFilePath, programDirectory);
  const std::vector<std::string> names = window.editBoxNames();
  const std::vector<std::string> excluded = splitText(excludedNames, "|");
  std::vector<std::pair<std::string, std::string>> values;
  for (const std::string& name : names) {
    bool skip = false;
    for (const std::string& entry : excluded) skip = skip || entry == name;
    if (!skip) values.emplace_back(name, encodeSettingValue(window.text(name)));
  }

  std::lock_guard guard(settingsFileLock());
  std::string bytes;
  const FileReadStatus status = readFileBytes(settingsFilePath, kSettingsFileMaxBytes, bytes);
  // What cannot be read is not overwritten: it may be the user's, and not ours.
  if (status == FileReadStatus::Unreadable) return static_cast<int>(names.size());
  std::string updated = bytes;
  for (const auto& [name, value] : values)
    updated = writeProfileValue(updated, settingsSection(), name, value);
  if (updated != bytes) replaceFileContent(settingsFilePath, updated);
  return static_cast<int>(names.size());
}

int restoreSettings(ControlAccess& window, std::string& settingsFilePath,
                    const std::string& programDirectory) {
  useDefaultWhenEmpty(settingsFilePath, programDirectory);
  const std::vector<std::string> names = window.editBoxNames();
  std::vector<std::pair<std::string, std::string>> restored;
  {
    std::lock_guard guard(settingsFileLock());
    std::string bytes;
    if (readFileBytes(settingsFilePath, kSettingsFileMaxBytes, bytes) == FileReadStatus::Read) {
      for (const std::string& name : names) {
        const std::string value = readProfileValue(bytes, settingsSection(), name);
        if (!value.empty() && isWellFormedGbk(value)) restored.emplace_back(name, decodeSettingValue(value));
      }
    }
  }
  for (const auto& [name, text] : restored) window.setText(name, text);
  return static_cast<int>(names.size());
}

}  // namespace lirevo
