// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

#include "byte_data.h"

namespace lirevo {

// The last step of a page request. When the first 1024 bytes of
// `resultText` (the body up to its first zero byte) declare a charset in a
// meta tag, the whole `body` is converted from it to GBK, up to the first
// zero byte of the converted text; a page declaring "gbk" or "gb2312", a
// charset name the converter does not know and a page without a declaration
// give `resultText` unchanged. There is no default charset.
std::string decodeResponseText(std::string_view resultText, const ByteData& body);

}  // namespace lirevo
