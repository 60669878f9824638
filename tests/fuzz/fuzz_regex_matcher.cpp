// SPDX-License-Identifier: MIT
// Input: pattern length byte, then pattern, then subject (both GBK).
#include <cstdint>
#include <string>

#include "charset.h"
#include "fuzz_check.h"
#include "regex_matcher.h"

namespace {

// Where a text from the subject must stand: its own bytes at `position`.
void checkPlaced(const std::string& subject, const std::string& text, int position, bool exact) {
  FUZZ_CHECK(position == -2 || (position >= 0 && static_cast<std::size_t>(position) <= subject.size()));
  if (!exact) return;
  FUZZ_CHECK(position >= 0);
  FUZZ_CHECK(subject.compare(position, text.size(), text) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 2048) return 0;
  const std::size_t patternLength = std::min<std::size_t>(data[0] % 32, size - 1);
  const std::string pattern(reinterpret_cast<const char*>(data + 1), patternLength);
  const std::string subject(reinterpret_cast<const char*>(data + 1 + patternLength),
                            size - 1 - patternLength);
  // Positions are exact when the subject converts to UTF-16 and back unchanged.
  const bool valid = lirevo::utf16ToGbk(lirevo::gbkToUtf16(subject)) == subject;

  for (int options = 0; options < 4; ++options) {
    lirevo::RegexMatcher matcher;
    const bool caseSensitive = (options & 1) != 0;
    const bool global = (options & 2) != 0;
    if (!matcher.search(pattern, subject, caseSensitive, true, global)) {
      FUZZ_CHECK(matcher.getMatchCount() == 0);
      FUZZ_CHECK(matcher.replace("x").empty());
      continue;
    }
    const int count = matcher.getMatchCount();
    FUZZ_CHECK(count >= 0 && static_cast<std::size_t>(count) <= subject.size() + 1);
    FUZZ_CHECK(global || count <= 1);
    const int groups = matcher.getGroupCount();
    FUZZ_CHECK(count > 0 || groups == 0);
    for (int i = 1; i <= count; ++i) {
      int position = 0;
      const std::string text = matcher.getMatch(i, &position);
      checkPlaced(subject, text, position, valid);
      for (int g = 1; g <= groups; ++g) {
        int groupPosition = 0;
        const std::string groupText = matcher.getSubMatch(i, g, &groupPosition);
        checkPlaced(subject, groupText, groupPosition, valid && groupPosition != -2);
        FUZZ_CHECK(!valid || groupPosition != -2 || groupText.empty());  // -2: the group took no part
      }
    }
    FUZZ_CHECK(matcher.getMatch(count + 1).empty());
    if (valid) FUZZ_CHECK(matcher.replace("$&") == subject);
  }
  return 0;
}
