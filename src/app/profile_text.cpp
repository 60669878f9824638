// SPDX-License-Identifier: MIT
#include "profile_text.h"

#include <optional>
#include <vector>

#include "gbk_text.h"

namespace lirevo {
namespace {

struct Line {
  std::size_t begin;  // first byte
  std::size_t end;    // behind the last byte, line end excluded
  std::size_t next;   // where the next line begins
};

std::vector<Line> splitLines(std::string_view bytes) {
  std::vector<Line> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t feed = bytes.find('\n', at);
    Line line{at, feed == std::string_view::npos ? bytes.size() : feed, 0};
    line.next = feed == std::string_view::npos ? bytes.size() : feed + 1;
    if (line.end > line.begin && bytes[line.end - 1] == '\r') --line.end;
    lines.push_back(line);
    at = line.next;
  }
  return lines;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

unsigned char foldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Folds single-byte letters only: a trail byte that looks like a letter
// belongs to its double-byte character and is compared as it is.
bool namesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t at = 0; at < a.size();) {
    const std::size_t length = gbkCharLength(a, at);
    if (length == 2) {
      if (a.compare(at, 2, b.substr(at, 2)) != 0) return false;
    } else if (foldAscii(static_cast<unsigned char>(a[at])) != foldAscii(static_cast<unsigned char>(b[at]))) {
      return false;
    }
    at += length;
  }
  return true;
}

std::string_view lineText(std::string_view bytes, const Line& line) {
  return bytes.substr(line.begin, line.end - line.begin);
}

// The name of a "[name]" line (up to its last "]"), or nothing.
std::optional<std::string_view> sectionName(std::string_view text) {
  text = trimmed(text);
  if (text.empty() || text.front() != '[') return std::nullopt;
  std::optional<std::size_t> close;
  for (std::size_t at = 1; at < text.size(); at += gbkCharLength(text, at)) {
    if (text[at] == ']') close = at;
  }
  if (!close) return std::nullopt;
  return trimmed(text.substr(1, *close - 1));
}

struct KeyLine {
  std::string_view key;
  std::size_t valueOffset;  // behind the "=", within the line
};

std::optional<KeyLine> keyLine(std::string_view text) {
  const std::string_view start = trimmed(text);
  if (start.empty() || start.front() == ';' || start.front() == '[') return std::nullopt;
  // "=" (0x3D) is never the trail byte of a double-byte character.
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const std::string_view key = trimmed(text.substr(0, equals));
  if (key.empty()) return std::nullopt;
  return KeyLine{key, equals + 1};
}

struct Found {
  std::optional<std::size_t> sectionLine;
  std::optional<std::size_t> keyLine;
  std::size_t lastFilledLine = 0;  // last non-empty line of the section
};

Found find(std::string_view bytes, const std::vector<Line>& lines, std::string_view section,
           std::string_view key) {
  Found found;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view text = lineText(bytes, lines[i]);
    const std::optional<std::string_view> name = sectionName(text);
    if (found.sectionLine) {
      if (name) break;  // the section ends where the next begins
      if (!trimmed(text).empty()) found.lastFilledLine = i;
      const std::optional<KeyLine> entry = keyLine(text);
      if (entry && namesEqual(entry->key, key)) {
        found.keyLine = i;
        break;
      }
    } else if (name && namesEqual(*name, section)) {
      found.sectionLine = i;
      found.lastFilledLine = i;
    }
  }
  return found;
}

std::string_view unquoted(std::string_view value) {
  value = trimmed(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string quotedForWriting(std::string_view value) {
  if (value.empty()) return {};
  const bool blankAtEnd = isBlank(value.front()) || isBlank(value.back());
  const bool enclosed =
      value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
  if (!blankAtEnd && !enclosed) return std::string(value);
  std::string quoted;
  quoted.reserve(value.size() + 2);
  quoted.append(1, '"').append(value).append(1, '"');
  return quoted;
}

}  // namespace

std::string readProfileValue(std::string_view fileBytes, std::string_view section, std::string_view key) {
  const std::vector<Line> lines = splitLines(fileBytes);
  const Found found = find(fileBytes, lines, section, key);
  if (!found.keyLine) return {};
  const std::string_view text = lineText(fileBytes, lines[*found.keyLine]);
  std::string_view value = untilZeroByte(unquoted(text.substr(keyLine(text)->valueOffset)));
  if (value.size() > kProfileValueLimitBytes) {
    std::size_t cut = 0;
    while (cut < value.size()) {
      const std::size_t length = gbkCharLength(value, cut);
      if (cut + length > kProfileValueLimitBytes) break;
      cut += length;
    }
    value = value.substr(0, cut);
  }
  return std::string(value);
}

std::string writeProfileValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                              std::string_view value) {
  const std::vector<Line> lines = splitLines(fileBytes);
  const Found found = find(fileBytes, lines, section, key);
  const std::string written = quotedForWriting(value);
  std::string result;
  result.reserve(fileBytes.size() + key.size() + written.size() + section.size() + 8);

  if (found.keyLine) {
    const Line& line = lines[*found.keyLine];
    const std::string_view text = lineText(fileBytes, line);
    std::size_t valueStart = line.begin + keyLine(text)->valueOffset;
    while (valueStart < line.end && isBlank(fileBytes[valueStart])) ++valueStart;
    result.append(fileBytes.substr(0, valueStart)).append(written).append(fileBytes.substr(line.end));
    return result;
  }

  std::string entry;
  entry.append(key).append("=").append(written).append("\r\n");
  if (found.sectionLine) {
    const Line& last = lines[found.lastFilledLine];
    const bool terminated = last.next > 0 && fileBytes[last.next - 1] == '\n';
    result.append(fileBytes.substr(0, last.next));
    if (!terminated) result.append("\r\n");
    result.append(entry).append(fileBytes.substr(last.next));
    return result;
  }

  result.append(fileBytes);
  if (!result.empty() && result.back() != '\n') result.append("\r\n");
  result.append("[").append(section).append("]\r\n").append(entry);
  return result;
}

}  // namespace lirevo
