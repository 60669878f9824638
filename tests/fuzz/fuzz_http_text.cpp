// SPDX-License-Identifier: MIT
// Input: two texts separated by the first zero byte (the second may be empty).
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "gbk_text.h"
#include "header_cookie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t zero = input.find('\0');
  const std::string first = input.substr(0, zero);
  const std::string second = zero == std::string::npos ? std::string() : input.substr(zero + 1);

  const std::string normalized = lirevo::normalizeHeaderNames(first);
  FUZZ_CHECK(normalized.size() <= first.size());
  FUZZ_CHECK(lirevo::normalizeHeaderNames(normalized) == normalized);
  for (const std::string& line : lirevo::splitText(normalized, "\r\n"))
    FUZZ_CHECK(lirevo::containsText(line, ":"));

  const std::string value = lirevo::findHeaderValue(first, second);
  FUZZ_CHECK(value.size() <= first.size());

  std::string cookies;
  std::string location;
  lirevo::scanResponseHeaders(first, cookies, &location);
  FUZZ_CHECK(!lirevo::endsWith(cookies, "; "));
  FUZZ_CHECK(location.size() <= first.size());

  std::string sent = first;
  const std::string merged = lirevo::mergeCookieText(sent, second);
  FUZZ_CHECK(merged == sent);
  // No item repeats (an empty item before a final "; " may remain, which the
  // dedup's own split does not see).
  const auto items = lirevo::splitText(merged, "; ");
  for (std::size_t i = 0; i < items.size(); ++i)
    for (std::size_t j = i + 1; j < items.size(); ++j) FUZZ_CHECK(items[i] != items[j]);
  FUZZ_CHECK(merged.size() <= first.size() + second.size() + 4);

  FUZZ_CHECK(first.find(lirevo::textBetween(first, second, ";")) != std::string::npos);
  FUZZ_CHECK(lirevo::endsWith(first, lirevo::textAfterLast(first, second)));
  FUZZ_CHECK(lirevo::startsWith(first, lirevo::textBefore(first, second)));

  const std::string wide = lirevo::wideToGbk(input);
  FUZZ_CHECK(wide.find('\0') == std::string::npos);
  return 0;
}
