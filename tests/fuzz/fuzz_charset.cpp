// SPDX-License-Identifier: MIT
// First byte picks the charset a page might declare; the rest is the page.
#include <cstdint>
#include <string>

#include "charset.h"
#include "fuzz_check.h"
#include "gbk_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kNames[] = {"utf-8", "GBK", "big5", "iso-8859-1", "windows-1252",
                                       "shift_jis", "utf-16", "UTF-16LE", "euc-kr", "x-bogus"};
  const char* name = kNames[data[0] % (sizeof(kNames) / sizeof(kNames[0]))];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  (void)lirevo::charsetToGbk(name, bytes);
  const std::string gbk = lirevo::utf8ToGbk(bytes);
  // GBK that came out of a conversion survives the way to UTF-8 and back.
  FUZZ_CHECK(lirevo::utf8ToGbk(lirevo::gbkToUtf8(gbk)) == gbk);
  FUZZ_CHECK(lirevo::utf16ToGbk(lirevo::gbkToUtf16(gbk)) == gbk);
  (void)lirevo::gbkToUtf8(bytes);
  (void)lirevo::gbkToUtf16(bytes);
  return 0;
}
