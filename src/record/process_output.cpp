// SPDX-License-Identifier: MIT
#include "process_output.h"

#include <algorithm>
#include <array>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"

namespace lirevo {
namespace {

struct StatusMarker {
  std::string_view marker;
  const std::string& (*status)();
};

const std::array<StatusMarker, 4> kStatusMarkers{{
    {"muxing overhead:", []() -> const std::string& { return "任务完成"_gbk; }},
    {"Input/output error", []() -> const std::string& { return "输入/输出 错误"_gbk; }},
    {"Conversion failed", []() -> const std::string& { return "转换失败"_gbk; }},
    {"No such file or directory", []() -> const std::string& { return "输入/输出 的 文件/路径 不存在"_gbk; }},
}};

std::string toText(std::string_view bytes) {
  std::string text(untilZeroByte(rewriteLineEnds(bytes)));
  // FFmpeg's output is nearly always plain ASCII, the same in both encodings.
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? text : utf8ToGbk(text);
}

}  // namespace

std::string rewriteLineEnds(std::string_view bytes) {
  std::string withCarriageReturns;
  withCarriageReturns.reserve(bytes.size() + bytes.size() / 8);
  for (const char c : bytes) {
    if (c == '\n') withCarriageReturns.push_back('\r');
    withCarriageReturns.push_back(c);
  }
  std::string result;
  result.reserve(withCarriageReturns.size());
  for (std::size_t at = 0; at < withCarriageReturns.size(); ++at) {
    result.push_back(withCarriageReturns[at]);
    if (withCarriageReturns[at] == ' ' && at + 1 < withCarriageReturns.size() &&
        withCarriageReturns[at + 1] == '\r')
      ++at;  // drop the carriage return behind the blank
  }
  return result;
}

std::string translateStatus(const std::string& chunk) {
  for (const StatusMarker& entry : kStatusMarkers) {
    if (containsText(chunk, entry.marker)) return entry.status();
  }
  return chunk;
}

std::string ChildOutputDecoder::decode(std::string_view bytes) {
  m_pending.append(bytes);
  const std::size_t tail = incompleteUtf8Tail(m_pending);
  std::string complete = m_pending.substr(0, m_pending.size() - tail);
  m_pending.erase(0, m_pending.size() - tail);
  return toText(complete);
}

std::string ChildOutputDecoder::flush() {
  std::string rest;
  rest.swap(m_pending);
  return toText(rest);
}

}  // namespace lirevo
