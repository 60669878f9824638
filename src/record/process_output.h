// SPDX-License-Identifier: MIT
#pragma once

// How the runner turns the bytes a child writes into the chunks it hands on.

#include <string>
#include <string_view>

namespace lirevo {

// Every "\n" becomes "\r\n", then every " \r" becomes " ": FFmpeg ends its
// in-place progress line with blanks and a carriage return, so successive
// reports run on in one line, while line feeds become the display box's
// line breaks. Byte-wise: neither byte can be the trail byte of a GBK pair.
std::string rewriteLineEnds(std::string_view bytes);

// The short status for a chunk that carries one of FFmpeg's four markers
// (the first in the table's order wins), else the chunk itself.
std::string translateStatus(const std::string& chunk);

// The child writes UTF-8 while the program's text is GBK. A read may end in
// the middle of a character; the decoder keeps such a tail back for the next
// read, so a character is never cut in two.
class ChildOutputDecoder {
 public:
  // The GBK text of the bytes read so far, up to the first zero byte, after
  // the line-end rewrite; empty when nothing complete has arrived.
  std::string decode(std::string_view bytes);
  // Whatever was held back, when the child's output has ended.
  std::string flush();

 private:
  std::string m_pending;
};

}  // namespace lirevo
