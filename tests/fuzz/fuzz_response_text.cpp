// SPDX-License-Identifier: MIT
// Input: the first byte picks what the page begins with (nothing, or a
// charset declaration); the rest is the body, zero bytes and all.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "charset.h"
#include "fuzz_check.h"
#include "gbk_text.h"
#include "response_decoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kHeads[] = {
      "", "<meta charset=\"utf-8\">", "<meta charset=gbk>",
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"};
  const unsigned head = data[0] % 4;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const lirevo::ByteData body = kHeads[head] + rest;
  const std::string resultText(lirevo::untilZeroByte(body));

  const std::string decoded = lirevo::decodeResponseText(resultText, body);
  FUZZ_CHECK(decoded.find('\0') == std::string::npos);
  FUZZ_CHECK(lirevo::decodeResponseText(resultText, body) == decoded);

  // Without both parts of a declaration in the first 1024 bytes, nothing
  // changes. (Byte by byte: the pattern runs on the text as characters, and
  // a lead byte before "<" that forms no character does not hide it.)
  const std::string window = resultText.substr(0, 1024);
  auto holds = [&window](std::string_view what) {
    return std::search(window.begin(), window.end(), what.begin(), what.end(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) ==
                    std::tolower(static_cast<unsigned char>(b));
           }) != window.end();
  };
  if (!holds("<meta") || !holds("charset=")) FUZZ_CHECK(decoded == resultText);

  // The declaration at the very start is the first match when nothing in
  // front of its "charset=" could start another one.
  if (head == 1) FUZZ_CHECK(decoded == std::string(lirevo::untilZeroByte(lirevo::utf8ToGbk(body))));
  if (head == 2 || head == 3) FUZZ_CHECK(decoded == resultText);
  return 0;
}
