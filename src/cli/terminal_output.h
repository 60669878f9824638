// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace lirevo {

// The display box's text for a terminal: UTF-8, line ends as "\n". FFmpeg's
// chunks come with "\r\n" (and "\r\r\n" where it wrote "\r\n" itself); a
// carriage return left on its own would make the terminal overwrite a line.
std::string terminalText(std::string_view gbk);

// Follows the display box and gives what was appended since the last call;
// after the box was emptied or replaced, its whole new text.
class DisplayFollower {
 public:
  std::string newText(const std::string& boxText);

 private:
  std::string m_seen;
};

}  // namespace lirevo
