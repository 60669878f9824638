// SPDX-License-Identifier: MIT
// Input: needle length byte, then needle, then text.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "gbk_text.h"

namespace {

// Offsets at which a character starts, walking from the beginning.
std::string boundaries(const std::string& text) {
  std::string marks(text.size() + 1, '\0');
  for (std::size_t offset = 0; offset < text.size(); offset += lirevo::gbkCharLength(text, offset))
    marks[offset] = 1;
  marks[text.size()] = 1;
  return marks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t needleLength = std::min<std::size_t>(data[0] % 8, size - 1);
  const std::string needle(reinterpret_cast<const char*>(data + 1), needleLength);
  const std::string text(reinterpret_cast<const char*>(data + 1 + needleLength), size - 1 - needleLength);
  const std::string marks = boundaries(text);

  for (bool ignoreCase : {false, true}) {
    int start = 1;
    for (int found = lirevo::findText(text, needle, start, ignoreCase); found > 0;
         found = lirevo::findText(text, needle, start, ignoreCase)) {
      FUZZ_CHECK(found >= start);
      FUZZ_CHECK(static_cast<std::size_t>(found - 1 + needle.size()) <= text.size());
      FUZZ_CHECK(marks[found - 1] == 1);  // never on a trail byte
      FUZZ_CHECK(ignoreCase ? lirevo::equalsIgnoreCase(text.substr(found - 1, needle.size()), needle)
                            : text.compare(found - 1, needle.size(), needle) == 0);
      start = found + 1;
      while (static_cast<std::size_t>(start - 1) < text.size() && marks[start - 1] == 0) ++start;
    }
  }

  if (!needle.empty()) {
    // Splitting and joining again gives the text back, less a final separator.
    std::string joined;
    const auto pieces = lirevo::splitText(text, needle);
    for (std::size_t i = 0; i < pieces.size(); ++i) joined += (i ? needle : "") + pieces[i];
    std::string expected = text;
    if (!pieces.empty() && lirevo::endsWith(text, needle) && joined.size() + needle.size() == text.size())
      expected.resize(text.size() - needle.size());
    FUZZ_CHECK(joined == expected);
    FUZZ_CHECK(lirevo::replaceAll(text, needle, needle) == text);
  }

  const std::string trimmed = lirevo::trimBlanks(text);
  FUZZ_CHECK(lirevo::trimBlanks(trimmed) == trimmed);
  FUZZ_CHECK(trimmed.size() <= text.size());
  const std::string noBlanks = lirevo::removeBlanks(text);
  FUZZ_CHECK(lirevo::removeBlanks(noBlanks) == noBlanks);
  FUZZ_CHECK(lirevo::findText(noBlanks, " ") < 0);
  return 0;
}
