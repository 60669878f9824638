// SPDX-License-Identifier: MIT
// First byte picks the charset a page might declare; the rest is the page.
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "charset.h"
#include "fuzz_check.h"
#include "gbk_text.h"

namespace {

// UTF-8 to GBK with iconv alone, in one call per stretch between bad bytes:
// what the program's own UTF-8 reader must give.
std::string convertAll(iconv_t converter, std::string_view input, std::size_t skipBytes,
                       std::string_view replacement) {
  std::string output;
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  std::array<char, 4096> buffer;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char* out = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(converter, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    output.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) continue;
    output.append(replacement);
    if (error != EILSEQ) break;
    const std::size_t skip = std::min(skipBytes, inLeft);
    in += skip;
    inLeft -= skip;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
  }
  return output;
}

std::string referenceUtf8ToGbk(std::string_view utf8) {
  static const iconv_t toUtf32 = iconv_open("UTF-32LE", "UTF-8");
  static const iconv_t toGbk = iconv_open("CP936", "UTF-32LE");
  return convertAll(toGbk, convertAll(toUtf32, utf8, 1, std::string_view("?\0\0\0", 4)), 4, "?");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kNames[] = {"utf-8",     "GBK",    "big5",     "iso-8859-1", "windows-1252",
                                       "shift_jis", "utf-16", "UTF-16LE", "euc-kr",     "x-bogus"};
  const char* name = kNames[data[0] % (sizeof(kNames) / sizeof(kNames[0]))];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  (void)lirevo::charsetToGbk(name, bytes);
  const std::string gbk = lirevo::utf8ToGbk(bytes);
  FUZZ_CHECK(gbk == referenceUtf8ToGbk(bytes));
  FUZZ_CHECK(lirevo::charsetToGbk("utf-8", bytes) == gbk);
  // Read piece by piece, holding back a cut sequence, the text comes out the same.
  const std::size_t cut = data[0] % (bytes.size() + 1);
  const std::size_t held = lirevo::incompleteUtf8Tail(std::string_view(bytes).substr(0, cut));
  FUZZ_CHECK(lirevo::utf8ToGbk(bytes.substr(0, cut - held)) + lirevo::utf8ToGbk(bytes.substr(cut - held)) ==
             gbk);
  // GBK that came out of a conversion survives the way to UTF-8 and back.
  FUZZ_CHECK(lirevo::utf8ToGbk(lirevo::gbkToUtf8(gbk)) == gbk);
  FUZZ_CHECK(lirevo::utf16ToGbk(lirevo::gbkToUtf16(gbk)) == gbk);
  (void)lirevo::gbkToUtf8(bytes);
  (void)lirevo::gbkToUtf16(bytes);
  return 0;
}
