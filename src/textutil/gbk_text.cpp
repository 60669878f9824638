// SPDX-License-Identifier: MIT
#include "gbk_text.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace lirevo {
namespace {

constexpr unsigned char kFullWidthBlank = 0xA1;

unsigned char foldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool sameBytes(std::string_view text, std::size_t offset, std::string_view what, bool ignoreCase) {
  if (!ignoreCase) return text.compare(offset, what.size(), what) == 0;
  for (std::size_t i = 0; i < what.size(); ++i) {
    if (foldAscii(static_cast<unsigned char>(text[offset + i])) !=
        foldAscii(static_cast<unsigned char>(what[i])))
      return false;
  }
  return true;
}

bool isBlankAt(std::string_view text, std::size_t offset, std::size_t length) {
  if (length == 1) return text[offset] == ' ';
  return static_cast<unsigned char>(text[offset]) == kFullWidthBlank &&
         static_cast<unsigned char>(text[offset + 1]) == kFullWidthBlank;
}

}  // namespace

std::size_t gbkCharLength(std::string_view text, std::size_t offset) {
  if (isGbkLeadByte(static_cast<unsigned char>(text[offset])) && offset + 1 < text.size()) return 2;
  return 1;
}

int findText(std::string_view text, std::string_view what, int startPosition, bool ignoreCase) {
  if (what.empty() || startPosition < 1) return -1;
  std::size_t offset = static_cast<std::size_t>(startPosition - 1);
  if (what.size() > text.size()) return -1;
  const std::size_t last = text.size() - what.size();
  const bool firstIsAscii = static_cast<unsigned char>(what[0]) < 0x80 &&
                            !(ignoreCase && std::isalpha(static_cast<unsigned char>(what[0])));
  while (offset <= last) {
    if (firstIsAscii) {
      // Fast path: jump to the next candidate byte, but only accept it on a
      // character boundary, so walk the characters in between.
      const void* hit = std::memchr(text.data() + offset, what[0], last - offset + 1);
      if (hit == nullptr) return -1;
      const auto hitOffset = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
      while (offset < hitOffset) offset += gbkCharLength(text, offset);
      if (offset != hitOffset) continue;  // the byte was a trail byte
    }
    if (sameBytes(text, offset, what, ignoreCase)) return static_cast<int>(offset + 1);
    offset += gbkCharLength(text, offset);
  }
  return -1;
}

bool containsText(std::string_view text, std::string_view what, bool ignoreCase) {
  return findText(text, what, 1, ignoreCase) > 0;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string result;
  result.reserve(text.size());
  int start = 1;
  for (int pos = findText(text, from, start); pos > 0; pos = findText(text, from, start)) {
    result.append(text.substr(start - 1, pos - start));
    result.append(to);
    start = pos + static_cast<int>(from.size());
  }
  result.append(text.substr(start - 1));
  return result;
}

std::string trimBlanks(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t length = gbkCharLength(text, begin);
    if (!isBlankAt(text, begin, length)) break;
    begin += length;
  }
  std::size_t end = begin;
  for (std::size_t offset = begin; offset < text.size();) {
    const std::size_t length = gbkCharLength(text, offset);
    if (!isBlankAt(text, offset, length)) end = offset + length;
    offset += length;
  }
  return std::string(text.substr(begin, end - begin));
}

std::vector<std::string> splitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  int start = 1;
  for (int pos = findText(text, separator, start); pos > 0; pos = findText(text, separator, start)) {
    pieces.emplace_back(text.substr(start - 1, pos - start));
    start = pos + static_cast<int>(separator.size());
  }
  if (static_cast<std::size_t>(start - 1) < text.size()) pieces.emplace_back(text.substr(start - 1));
  return pieces;
}

std::string removeBlanks(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t offset = 0; offset < text.size();) {
    const std::size_t length = gbkCharLength(text, offset);
    if (!isBlankAt(text, offset, length)) result.append(text.substr(offset, length));
    offset += length;
  }
  return result;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && sameBytes(a, 0, b, true);
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string_view untilZeroByte(std::string_view text) {
  const std::size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

}  // namespace lirevo
