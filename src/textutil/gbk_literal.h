// SPDX-License-Identifier: MIT
#pragma once

// The program's own texts are written in UTF-8 source and used as GBK:
// "开始下载"_gbk is converted once, on first use, and then kept for the life
// of the program (thread-safe, as every function-local static).

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

#include "charset.h"

namespace lirevo {

template <std::size_t N>
struct Utf8Literal {
  char bytes[N]{};
  constexpr Utf8Literal(const char (&text)[N]) { std::copy_n(text, N, bytes); }
  constexpr std::string_view view() const { return {bytes, N - 1}; }
};

namespace literals {

template <Utf8Literal Text>
const std::string& operator""_gbk() {
  static const std::string converted = utf8ToGbk(Text.view());
  return converted;
}

}  // namespace literals

using namespace literals;

}  // namespace lirevo
