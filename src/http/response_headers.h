// SPDX-License-Identifier: MIT
#pragma once

// Gathers the raw header text of the final response from the header lines a
// transport reports one by one, across interim responses (100 Continue),
// proxy tunnel replies and followed redirects.

#include <string>
#include <string_view>

namespace lirevo {

class ResponseHeaderCollector {
 public:
  // One line as received, with or without its line end. A status line that
  // follows a finished block starts the block anew; lines after a finished
  // block that are no status line (chunked trailers) are ignored.
  // Returns true when the line started a new block.
  bool addLine(std::string_view line);

  // Status line first, every line ending in "\r\n" (also where the server
  // sent a bare "\n"), the empty line last once the block is complete.
  const std::string& text() const { return m_text; }

  // The empty line that ends the block has arrived.
  bool complete() const { return m_complete; }

 private:
  std::string m_text;
  bool m_complete = false;
};

// The status of a raw header text: its first line from the 10th byte up to
// the line end, "200 OK" for "HTTP/1.1 200 OK". Empty when there is none.
std::string statusFromHeaders(std::string_view rawHeaders);

}  // namespace lirevo
