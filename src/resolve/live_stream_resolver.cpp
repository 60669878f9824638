// SPDX-License-Identifier: MIT
#include "live_stream_resolver.h"

#include <algorithm>
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

constexpr unsigned char kFullWidthBlankByte = 0xA1;

// Offset of the first character in text[from, to) that may not stand in a
// stream address (a double quote, a blank, a full-width blank or a control
// byte), or npos. Walks the characters from `from` as the text search does.
std::size_t firstUnsafeCharacter(std::string_view text, std::size_t from, std::size_t to) {
  for (std::size_t at = from; at < to;) {
    const std::size_t length = std::min(gbkCharLength(text, at), to - at);
    const auto first = static_cast<unsigned char>(text[at]);
    if (length == 2) {
      const auto second = static_cast<unsigned char>(text[at + 1]);
      if ((first == kFullWidthBlankByte && second == kFullWidthBlankByte) || isBlankOrControl(second) ||
          second == '"')
        return at;
    } else if (first == '"' || isBlankOrControl(first)) {
      return at;
    }
    at += length;
  }
  return std::string_view::npos;
}

// The candidates of collectBetweenMarkers one after another, as offset and
// length. Every candidate that starts before an end marker found for an
// earlier one ends at that same marker, so that end is kept rather than
// searched for again: the whole walk reads the text about once. Both
// markers must consist of whole characters (the program's are ASCII).
class CandidateWalk {
 public:
  CandidateWalk(std::string_view text, std::string_view startMarker, std::string_view endMarker)
      : m_text(text), m_startMarker(startMarker), m_endMarker(endMarker) {}

  bool next(std::size_t& offset, std::size_t& length) {
    if (m_done) return false;
    const int start = findText(m_text, m_startMarker, m_position);
    if (start < 0) return finish();
    m_position = start + static_cast<int>(m_startMarker.size());
    if (m_end < m_position) m_end = findText(m_text, m_endMarker, m_position);
    if (m_end < 0) return finish();
    offset = static_cast<std::size_t>(start - 1);
    length = static_cast<std::size_t>(m_end - 1) + m_endMarker.size() - offset;
    return true;
  }

 private:
  bool finish() {
    m_done = true;
    return false;
  }

  std::string_view m_text;
  std::string_view m_startMarker;
  std::string_view m_endMarker;
  int m_position = 1;
  int m_end = 0;  // position of the end marker last found; 0: none yet
  bool m_done = false;
};

}  // namespace

std::vector<std::string> collectBetweenMarkers(std::string_view text, std::string_view startMarker,
                                               std::string_view endMarker) {
  std::vector<std::string> candidates;
  CandidateWalk walk(text, startMarker, endMarker);
  for (std::size_t offset = 0, length = 0; walk.next(offset, length);)
    candidates.emplace_back(text.substr(offset, length));
  return candidates;
}

bool isSafeStreamAddress(std::string_view candidate) {
  return candidate.size() <= kMaxStreamAddressBytes &&
         firstUnsafeCharacter(candidate, 0, candidate.size()) == std::string_view::npos;
}

std::string selectStreamAddress(std::string_view page) {
  // Candidates that share an end are nested: one that starts at or before a
  // character already found unsafe holds it too. So each part of the page
  // is checked at most once.
  std::size_t unsafeEnd = std::string_view::npos;  // end of the candidates the offset below concerns
  std::size_t unsafeAt = 0;
  CandidateWalk walk(page, kStreamStart, kStreamEnd);
  for (std::size_t offset = 0, length = 0; walk.next(offset, length);) {
    if (length > kMaxStreamAddressBytes) continue;
    const std::size_t end = offset + length;
    if (end == unsafeEnd && offset <= unsafeAt) continue;
    const std::size_t unsafe = firstUnsafeCharacter(page, offset, end);
    if (unsafe == std::string_view::npos) return std::string(page.substr(offset, length));
    unsafeEnd = end;
    unsafeAt = unsafe;
  }
  return {};
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
  std::string address = selectStreamAddress(page);
  if (!address.empty()) streamUrl = std::move(address);

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
