// SPDX-License-Identifier: MIT
#pragma once

#include <string_view>

namespace lirevo {

// The fixed header block of the length probe and of every block request. The
// component server has always been spoken to with these very bytes, so they
// are sent as they stand (no decoding of a compressed answer is done either:
// a server that compresses a block fails its length check).
constexpr std::string_view downloadHeaders() {
  return "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\nUser-Agent: "
         "Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
}

}  // namespace lirevo
