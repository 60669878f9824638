// SPDX-License-Identifier: MIT
#include "terminal_output.h"

#include "charset.h"
#include "gbk_text.h"

namespace lirevo {

std::string terminalText(std::string_view gbk) {
  std::string lines;
  lines.reserve(gbk.size());
  for (std::size_t at = 0; at < gbk.size(); ++at) {
    if (gbk[at] != '\r') {
      lines.push_back(gbk[at]);
      continue;
    }
    std::size_t end = at;
    while (end < gbk.size() && gbk[end] == '\r') ++end;
    if (end < gbk.size() && gbk[end] == '\n') {
      at = end - 1;  // the carriage returns before a line feed go
      continue;
    }
    lines.push_back('\n');
  }
  return gbkToUtf8(lines);
}

std::string DisplayFollower::newText(const std::string& boxText) {
  std::string added;
  if (startsWith(boxText, m_seen))
    added = boxText.substr(m_seen.size());
  else
    added = boxText;
  m_seen = boxText;
  return added;
}

}  // namespace lirevo
