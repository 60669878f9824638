// SPDX-License-Identifier: MIT
#include "request_headers.h"

#include <algorithm>
#include <array>
#include <climits>

#include "gbk_text.h"
#include "header_cookie.h"

namespace lirevo {
namespace {

constexpr int kPostMethod = 1;
constexpr long kDefaultTimeoutMs = 30000;

struct DefaultLine {
  std::string_view testText;
  std::string_view line;
  bool postOnly;
};

// Tested and appended in this order. The Content-Type test has no blank
// after the colon, unlike the others.
constexpr std::array<DefaultLine, 6> kDefaultLines = {{
    {"User-Agent: ", "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
    {"Accept-Encoding: ", "Accept-Encoding: gbk, GB2312\r\n", false},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
    {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
}};

constexpr std::array<std::string_view, 8> kVerbs = {"GET",     "POST",   "HEAD",  "PUT",
                                                    "OPTIONS", "DELETE", "TRACE", "CONNECT"};

}  // namespace

long fetchTimeoutMs(int timeoutSeconds) {
  if (timeoutSeconds <= 0) return kDefaultTimeoutMs;
  return std::min<long>(timeoutSeconds, INT_MAX / 1000) * 1000;
}

std::string_view requestVerb(int method) {
  if (method < 0 || method >= static_cast<int>(kVerbs.size())) return kVerbs[0];
  return kVerbs[method];
}

std::string buildRequestHeaderBlock(const HttpFetchParams& params) {
  std::string block;
  if (!params.extraHeaders.empty()) block = params.extraHeaders + "\r\n";

  if (params.addDefaultHeaders) {
    for (const DefaultLine& d : kDefaultLines) {
      if (d.postOnly && params.method != kPostMethod) continue;
      if (!containsText(block, d.testText, true)) block.append(d.line);
    }
  }

  if (params.normalizeHeaders) block = normalizeHeaderNames(block);

  // Only a keep-alive line followed by a line end goes; one that ends the
  // block, or is written in other case, stays.
  if (containsText(block, "Connection") && findHeaderValue(block, "Connection") == "keep-alive")
    block = replaceAll(block, "Connection: keep-alive\r\n", "");

  // A Cookie line of the caller wins over sendCookies. The cookie line is
  // added after normalisation and so keeps its spelling.
  const std::string sendCookies = params.sendCookies ? *params.sendCookies : std::string();
  if (!containsText(block, "Cookie:", true) && !sendCookies.empty()) {
    if (containsText(sendCookies, "Cookie:", true))
      block += "\r\n" + sendCookies + "\r\n";
    else
      block += "\r\nCookie: " + sendCookies + "\r\n";
  }
  return block;
}

std::vector<std::string> requestHeaderLines(std::string_view block) {
  std::vector<std::string> lines;
  for (std::string& piece : splitText(block, "\r\n"))
    if (!piece.empty()) lines.push_back(std::move(piece));
  return lines;
}

}  // namespace lirevo
