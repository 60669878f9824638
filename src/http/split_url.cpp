// SPDX-License-Identifier: MIT
#include "split_url.h"

#include "gbk_text.h"

namespace lirevo {
namespace {

// Offset of the last `byte` that starts a character, or npos. "@" may be the
// trail byte of a double-byte character, so the text is walked by characters.
std::size_t lastCharacter(std::string_view text, char byte) {
  std::size_t last = std::string_view::npos;
  for (std::size_t at = 0; at < text.size(); at += gbkCharLength(text, at))
    if (text[at] == byte) last = at;
  return last;
}

std::optional<int> parsePort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

}  // namespace

std::string UrlParts::objectName() const { return path.empty() ? std::string("/") : path + extraInfo; }

std::optional<UrlParts> splitUrl(std::string_view url) {
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return std::nullopt;
  UrlParts parts;
  const std::string_view scheme = url.substr(0, schemeEnd);
  if (equalsIgnoreCase(scheme, "http"))
    parts.scheme = "http";
  else if (equalsIgnoreCase(scheme, "https"))
    parts.scheme = "https";
  else
    return std::nullopt;

  // "/", "?" and "#" are below 0x40 and so never the trail byte of a
  // double-byte character: a plain byte search is exact for them.
  const std::string_view rest = url.substr(schemeEnd + 3);
  const std::size_t authorityEnd = rest.find_first_of("/?#");
  std::string_view authority = rest.substr(0, authorityEnd);
  const std::string_view tail =
      authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);

  if (const std::size_t at = lastCharacter(authority, '@'); at != std::string_view::npos)
    authority.remove_prefix(at + 1);
  std::string_view host = authority;
  std::string_view portText;
  bool portWritten = false;
  if (startsWith(authority, "[")) {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return std::nullopt;
      portText = after.substr(1);
      portWritten = true;
    }
  } else if (const std::size_t colon = lastCharacter(authority, ':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    portText = authority.substr(colon + 1);
    portWritten = true;
  }
  if (host.empty() || host == "[]") return std::nullopt;
  parts.host = std::string(host);
  parts.port = parts.secure() ? 443 : 80;
  // "host:" with nothing behind the colon means the default port.
  if (portWritten && !portText.empty()) {
    const std::optional<int> port = parsePort(portText);
    if (!port) return std::nullopt;
    parts.port = *port;
    parts.portWritten = true;
  }

  const std::size_t extraStart = tail.find_first_of("?#");
  parts.path = std::string(tail.substr(0, extraStart));
  if (extraStart != std::string_view::npos) parts.extraInfo = std::string(tail.substr(extraStart));
  return parts;
}

}  // namespace lirevo
