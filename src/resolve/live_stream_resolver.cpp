// SPDX-License-Identifier: MIT
#include "live_stream_resolver.h"

#include <array>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "http_fetch.h"

namespace lirevo {
namespace {

// Every share link's host name lies in the service's web domain.
constexpr std::string_view kServiceDomain = "douyin.com";
constexpr std::string_view kMobileUserAgentLine =
    "user-agent: Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N) AppleWebKit/537.36 (KHTML, like "
    "Gecko) Chrome/83.0.4103.106 Mobile Safari/537.36";
constexpr std::string_view kStreamStart = "http://pull";
constexpr std::string_view kStreamEnd = ".flv";

struct QualityMarker {
  std::string_view marker;
  const std::string& (*notice)();
};

// Tested in this order; a later hit replaces the notice of an earlier one.
const std::array<QualityMarker, 5> kQualityMarkers{{
    {"uhd", []() -> const std::string& { return "当前直播最高清晰度为：蓝光高清"_gbk; }},
    {"_hd.flv", []() -> const std::string& { return "当前直播最高清晰度为：超清"_gbk; }},
    {"_sd.flv", []() -> const std::string& { return "当前直播最高清晰度为：高清"_gbk; }},
    {"_ld.flv", []() -> const std::string& { return "当前直播最高清晰度为：标清"_gbk; }},
    {"_d.flv", []() -> const std::string& { return "当前主播的直播设备或网络不好，清晰度不高"_gbk; }},
}};

bool isBlankOrControl(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

}  // namespace

std::vector<std::string> collectBetweenMarkers(std::string_view text, std::string_view startMarker,
                                               std::string_view endMarker) {
  std::vector<std::string> candidates;
  int position = 1;
  for (;;) {
    const int start = findText(text, startMarker, position);
    if (start < 0) break;
    position = start + static_cast<int>(startMarker.size());
    const int end = findText(text, endMarker, position);
    if (end < 0) break;
    const std::size_t from = static_cast<std::size_t>(start - 1);
    const std::size_t to = static_cast<std::size_t>(end - 1) + endMarker.size();
    candidates.emplace_back(text.substr(from, to - from));
  }
  return candidates;
}

bool isSafeStreamAddress(std::string_view candidate) {
  if (containsText(candidate, "　"_gbk)) return false;  // full-width blank
  for (const char c : candidate) {
    if (c == '"' || isBlankOrControl(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

bool resolveLiveStream(ControlAccess& window, const std::string& shareLink, std::string& streamUrl,
                       std::string& resultMessage) {
  if (!containsText(shareLink, kServiceDomain)) {
    resultMessage = "直播分享链接有误"_gbk;
    return false;
  }

  // The page is decoded from the bytes as they came: the returned text has
  // already been converted when the page declares a charset, and decoding
  // that a second time would garble every Chinese character in it.
  ByteData body;
  HttpFetchParams request;
  request.url = shareLink;
  request.extraHeaders = kMobileUserAgentLine;
  request.responseBody = &body;
  httpFetch(request);
  const std::string page = utf8ToGbk(untilZeroByte(body));

  if (containsText(page, "直播已结束"_gbk)) {
    resultMessage = "直播已结束"_gbk;
    return false;
  }

  // The address goes between double quotes on the recorder's command line:
  // a candidate that could close the quotes or split into several arguments
  // would let the page add options of its own, so it is no address.
  for (const std::string& candidate : collectBetweenMarkers(page, kStreamStart, kStreamEnd)) {
    if (!candidate.empty() && isSafeStreamAddress(candidate)) {
      streamUrl = candidate;
      break;
    }
  }

  for (const QualityMarker& quality : kQualityMarkers) {
    if (containsText(streamUrl, quality.marker)) window.setText("标签1"_gbk, quality.notice());
  }

  if (streamUrl.empty()) {
    resultMessage = "推流地址获取失败"_gbk;
    return false;
  }
  resultMessage = "获取成功"_gbk;
  return true;
}

}  // namespace lirevo
