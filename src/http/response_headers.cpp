// SPDX-License-Identifier: MIT
#include "response_headers.h"

#include "gbk_text.h"

namespace lirevo {

bool ResponseHeaderCollector::addLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  const bool startsBlock = m_text.empty() || (m_complete && startsWith(line, "HTTP/"));
  if (startsBlock) {
    if (line.empty()) return false;  // stray blank line before any status line
    m_text.clear();
    m_complete = false;
  } else if (m_complete) {
    return false;
  }
  m_text.append(line);
  m_text.append("\r\n");
  if (line.empty()) m_complete = true;
  return startsBlock;
}

std::string statusFromHeaders(std::string_view rawHeaders) {
  constexpr std::size_t kStatusOffset = 9;  // behind "HTTP/1.1 "
  if (rawHeaders.size() <= kStatusOffset) return {};
  const std::size_t end = rawHeaders.find("\r\n", kStatusOffset);
  return std::string(
      rawHeaders.substr(kStatusOffset, end == std::string_view::npos ? end : end - kStatusOffset));
}

}  // namespace lirevo
