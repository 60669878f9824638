// SPDX-License-Identifier: MIT
#include "header_cookie.h"

#include <algorithm>
#include <vector>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"

namespace lirevo {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kCookieSeparator = "; ";
constexpr std::string_view kSetCookieName = "Set-Cookie";
constexpr std::string_view kSetCookieMarker = "Set-Cookie:";
constexpr std::string_view kLocationPrefix = "Location: ";
constexpr std::string_view kDeletedMark = "=deleted";

// Every occurrence of `what` removed, ASCII letters compared without case.
std::string removeIgnoringCase(std::string_view text, std::string_view what) {
  std::string result;
  int start = 1;
  for (int pos = findText(text, what, start, true); pos > 0; pos = findText(text, what, start, true)) {
    result.append(text.substr(start - 1, pos - start));
    start = pos + static_cast<int>(what.size());
  }
  result.append(text.substr(start - 1));
  return result;
}

std::string joinItems(const std::vector<std::string>& items, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined.append(separator);
    joined.append(items[i]);
  }
  return joined;
}

// Trimmed, with a blank after a final ";" so that splitting at "; " sees it
// as a separator.
std::string prepareCookieText(std::string_view text) {
  std::string prepared = trimBlanks(text);
  if (endsWith(prepared, ";")) prepared.push_back(' ');
  return prepared;
}

}  // namespace

std::string textBefore(std::string_view text, std::string_view marker) {
  const int pos = findText(text, marker);
  if (pos < 1) return {};
  return std::string(text.substr(0, pos - 1));
}

std::string textAfterLast(std::string_view text, std::string_view marker) {
  int last = -1;
  for (int pos = findText(text, marker); pos > 0;
       pos = findText(text, marker, pos + static_cast<int>(gbkCharLength(text, pos - 1)))) {
    last = pos;
  }
  if (last < 1) return {};
  return std::string(text.substr(last - 1 + marker.size()));
}

std::string textBetween(std::string_view text, std::string_view startMarker, std::string_view endMarker) {
  const std::string& quoteToken = "#引号"_gbk;
  const std::string start = replaceAll(startMarker, quoteToken, "\"");
  const std::string end = replaceAll(endMarker, quoteToken, "\"");
  const int startPos = findText(text, start);
  if (startPos < 1) return {};
  const int from = startPos + static_cast<int>(start.size());
  const int endPos = findText(text, end, from);
  if (endPos < 1) return {};
  return std::string(text.substr(from - 1, endPos - from));
}

std::string capitalizeFirst(std::string_view text) {
  std::string result(text);
  if (!result.empty() && result[0] >= 'a' && result[0] <= 'z') result[0] = result[0] - 'a' + 'A';
  return result;
}

std::string cookieName(std::string_view cookieItem) {
  const int pos = findText(cookieItem, "=");
  return trimBlanks(pos > 0 ? cookieItem.substr(0, pos - 1) : cookieItem);
}

std::string removeDuplicateItems(std::string_view list, std::string_view separator) {
  std::vector<std::string> kept;
  for (std::string& item : splitText(list, separator)) {
    if (std::find(kept.begin(), kept.end(), item) == kept.end()) kept.push_back(std::move(item));
  }
  return joinItems(kept, separator);
}

std::string normalizeHeaderNames(std::string_view headerBlock) {
  std::string result;
  for (const std::string& line : splitText(headerBlock, kLineEnd)) {
    const int colon = findText(line, ":");
    if (colon < 1) continue;
    // The first letter and every letter after a "-" go to upper case. Done
    // in place rather than by splitting at "-", so that a name ending in "-"
    // or holding "--" keeps every character.
    std::string name = capitalizeFirst(std::string_view(line).substr(0, colon - 1));
    for (int pos = findText(name, "-"); pos > 0; pos = findText(name, "-", pos + 1)) {
      const std::size_t next = static_cast<std::size_t>(pos);
      if (next < name.size() && name[next] >= 'a' && name[next] <= 'z') name[next] = name[next] - 'a' + 'A';
    }
    result.append(name);
    result.append(std::string_view(line).substr(colon - 1));
    result.append(kLineEnd);
  }
  if (endsWith(result, kLineEnd)) result.resize(result.size() - kLineEnd.size());
  return result;
}

std::string findHeaderValue(std::string_view headerBlock, std::string_view name) {
  for (const std::string& line : splitText(headerBlock, kLineEnd)) {
    if (!startsWith(line, name)) continue;
    return textAfterLast(line, std::string(name) + ": ");
  }
  return {};
}

void scanResponseHeaders(std::string_view responseHeaderText, std::string& returnedCookies,
                         std::string* redirectLocation) {
  for (const std::string& line : splitText(responseHeaderText, kLineEnd)) {
    if (textBefore(line, ": ") == kSetCookieName) {
      const std::string item = containsText(line, ";") ? textBetween(line, kSetCookieMarker, ";")
                                                       : removeIgnoringCase(line, kSetCookieMarker);
      // An empty value is no cookie; listing it would leave an empty item
      // in the cookie text (and a separator at its end).
      const std::string cookie = trimBlanks(item);
      if (!cookie.empty()) {
        returnedCookies.append(cookie);
        returnedCookies.append(kCookieSeparator);
      }
    }
    if (line.size() >= kLocationPrefix.size() &&
        equalsIgnoreCase(std::string_view(line).substr(0, kLocationPrefix.size()), kLocationPrefix) &&
        redirectLocation != nullptr) {
      *redirectLocation = line.substr(kLocationPrefix.size());
    }
    // The thread that runs this owns no window, so there are no window
    // messages to let through between lines.
  }
  if (endsWith(returnedCookies, kCookieSeparator))
    returnedCookies.resize(returnedCookies.size() - kCookieSeparator.size());
}

std::string mergeCookieText(std::string& sendCookies, std::string_view received) {
  std::vector<std::string> merged = splitText(prepareCookieText(received), kCookieSeparator);
  for (std::string& old : splitText(prepareCookieText(sendCookies), kCookieSeparator)) {
    const std::string name = cookieName(old);
    const bool replaced = std::any_of(merged.begin(), merged.end(),
                                      [&](const std::string& item) { return cookieName(item) == name; });
    if (!replaced) merged.push_back(std::move(old));
  }
  std::vector<std::string> alive;
  for (std::string& item : merged) {
    if (!endsWith(item, kDeletedMark)) alive.push_back(std::move(item));
  }
  sendCookies = removeDuplicateItems(joinItems(alive, kCookieSeparator), kCookieSeparator);
  return sendCookies;
}

std::string wideToGbk(const ByteData& utf16Bytes) {
  // The bytes end where a zero unit stands, or at the end; a lone final byte
  // pairs with the terminator's zero.
  std::u16string units;
  units.reserve(utf16Bytes.size() / 2 + 1);
  for (std::size_t offset = 0; offset < utf16Bytes.size(); offset += 2) {
    const auto low = static_cast<unsigned char>(utf16Bytes[offset]);
    const auto high = offset + 1 < utf16Bytes.size() ? static_cast<unsigned char>(utf16Bytes[offset + 1]) : 0;
    const auto unit = static_cast<char16_t>(low | (high << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  if (units.empty()) return {};
  return std::string(untilZeroByte(utf16ToGbk(units)));
}

}  // namespace lirevo
