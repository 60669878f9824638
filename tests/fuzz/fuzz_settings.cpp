// SPDX-License-Identifier: MIT
// Input: a settings file's bytes, a 0xFF byte, then a value to store.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "profile_text.h"
#include "settings_file.h"

using namespace lirevo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\xFF');
  const std::string file = input.substr(0, split);
  const std::string text = split == std::string::npos ? std::string() : input.substr(split + 1);
  const std::string& section = "编辑框"_gbk;
  const std::string& key = "编辑框_url"_gbk;
  const std::string& otherKey = "编辑框_下载目录"_gbk;

  const std::string before = readProfileValue(file, section, otherKey);
  FUZZ_CHECK(readProfileValue(file, section, key).size() <= kProfileValueLimitBytes);

  // Encoding then decoding gives the text back when it holds neither token.
  // The stored format cannot tell "><br" + line break from line break +
  // "br><" (both are "><br><br><"), so texts holding "><" are left out.
  if (!containsText(text, "><") && !containsText(text, "#引号"_gbk))
    FUZZ_CHECK(decodeSettingValue(encodeSettingValue(text)) == text);

  // A stored value reads back whole, and the other key is left alone. Lone
  // line ends are not encoded and would end the line, so they are left out.
  const std::string value = encodeSettingValue(text);
  const bool storable = value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos &&
                        value.size() <= kProfileValueLimitBytes;
  const std::string written = writeProfileValue(file, section, key, value);
  if (storable) {
    FUZZ_CHECK(readProfileValue(written, section, key) == value);
    FUZZ_CHECK(readProfileValue(written, section, otherKey) == before);
  }
  return 0;
}
