// SPDX-License-Identifier: MIT
#include "response_decoding.h"

#include "charset.h"
#include "gbk_text.h"
#include "regex_matcher.h"

namespace lirevo {
namespace {

// "<meta", then on the same line "charset=", at most one non-word character
// (usually the opening quote) and the name.
constexpr std::string_view kDeclarationPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr std::size_t kSearchWindowBytes = 1024;

}  // namespace

std::string decodeResponseText(std::string_view resultText, const ByteData& body) {
  // The window may end inside a double-byte character; the declaration is
  // ASCII and stands before it, so the cut does not matter.
  RegexMatcher matcher;
  std::string charsetName;
  if (matcher.search(kDeclarationPattern, resultText.substr(0, kSearchWindowBytes)))
    charsetName = matcher.getSubMatch(1, 1);
  if (charsetName.empty() || charsetName == "gbk" || charsetName == "gb2312") return std::string(resultText);
  const std::optional<std::string> converted = charsetToGbk(charsetName, body);
  if (!converted) return std::string(resultText);
  return std::string(untilZeroByte(*converted));
}

}  // namespace lirevo
