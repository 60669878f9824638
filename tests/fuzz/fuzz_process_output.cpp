// SPDX-License-Identifier: MIT
// Input: the first byte seeds where the child's output is cut into reads;
// the rest is what the child writes.
#include <cstdint>
#include <string>

#include "charset.h"
#include "fuzz_check.h"
#include "gbk_literal.h"
#include "process_output.h"

namespace {

// The rewrite as written down: every "\n" becomes "\r\n", then every " \r"
// becomes " ", left to right without looking at replaced text again.
std::string referenceRewrite(const std::string& bytes) {
  std::string withCarriageReturns;
  for (const char c : bytes) {
    if (c == '\n')
      withCarriageReturns += "\r\n";
    else
      withCarriageReturns += c;
  }
  std::string result;
  for (std::size_t at = 0; at < withCarriageReturns.size();) {
    if (withCarriageReturns.compare(at, 2, " \r") == 0) {
      result += ' ';
      at += 2;
    } else {
      result += withCarriageReturns[at++];
    }
  }
  return result;
}

std::string withoutCarriageReturns(std::string text) {
  std::erase(text, '\r');
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lirevo;
  if (size < 1) return 0;
  unsigned seed = data[0];
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  const std::string rewritten = rewriteLineEnds(bytes);
  FUZZ_CHECK(rewritten == referenceRewrite(bytes));
  FUZZ_CHECK(withoutCarriageReturns(rewritten) == withoutCarriageReturns(bytes));

  // The status is one of the four texts or the chunk itself, and the first
  // marker of the table that stands in the chunk decides.
  static const char* const kMarkers[] = {"muxing overhead:", "Input/output error", "Conversion failed",
                                         "No such file or directory"};
  const std::string* const kStatuses[] = {&"任务完成"_gbk, &"输入/输出 错误"_gbk, &"转换失败"_gbk,
                                          &"输入/输出 的 文件/路径 不存在"_gbk};
  const std::string status = translateStatus(rewritten);
  bool anyMarker = false;
  for (int i = 0; i < 4; ++i) {
    if (rewritten.find(kMarkers[i]) != std::string::npos) anyMarker = true;
    if (status == *kStatuses[i] && status != rewritten)
      FUZZ_CHECK(rewritten.find(kMarkers[i]) != std::string::npos);
  }
  if (!anyMarker) FUZZ_CHECK(status == rewritten);
  bool ascii = true;
  for (const char c : rewritten) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii && anyMarker) {
    int first = 0;
    while (rewritten.find(kMarkers[first]) == std::string::npos) ++first;
    FUZZ_CHECK(status == *kStatuses[first]);
  }

  // However the output is cut into reads, the same text comes through (the
  // rewrite works per read, so only the carriage returns may differ); a
  // zero byte ends a read's text, so such output is left out.
  if (bytes.find('\0') != std::string::npos) return 0;
  ChildOutputDecoder whole;
  const std::string expected = whole.decode(bytes) + whole.flush();
  ChildOutputDecoder pieces;
  std::string joined;
  for (std::size_t at = 0; at < bytes.size();) {
    seed = seed * 1103515245u + 12345u;
    const std::size_t length = 1 + (seed >> 16) % 9;
    joined += pieces.decode(std::string_view(bytes).substr(at, length));
    at += length;
  }
  joined += pieces.flush();
  FUZZ_CHECK(withoutCarriageReturns(joined) == withoutCarriageReturns(expected));
  FUZZ_CHECK(withoutCarriageReturns(expected) == withoutCarriageReturns(utf8ToGbk(bytes)) ||
             utf8ToGbk(bytes).find('\0') != std::string::npos);
  return 0;
}
