// SPDX-License-Identifier: MIT
#include "block_plan.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace lirevo {
namespace {

struct ContentRange {
  std::int64_t first = 0;
  std::optional<std::int64_t> total;  // absent for "*"
};

void skipBlanks(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

std::optional<std::int64_t> takeNumber(std::string_view& text) {
  std::size_t digits = 0;
  std::int64_t value = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) {
    if (value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (text[digits] - '0');
    ++digits;
  }
  if (digits == 0) return std::nullopt;
  text.remove_prefix(digits);
  return value;
}

bool takeChar(std::string_view& text, char c) {
  skipBlanks(text);
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  skipBlanks(text);
  return true;
}

// "bytes <first>-<last>/<total or *>"
std::optional<ContentRange> parseContentRange(std::string_view text) {
  skipBlanks(text);
  constexpr std::string_view kUnit = "bytes";
  if (text.size() < kUnit.size()) return std::nullopt;
  for (std::size_t i = 0; i < kUnit.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != kUnit[i]) return std::nullopt;
  }
  text.remove_prefix(kUnit.size());
  skipBlanks(text);
  ContentRange range;
  const auto first = takeNumber(text);
  if (!first || !takeChar(text, '-') || !takeNumber(text) || !takeChar(text, '/')) return std::nullopt;
  range.first = *first;
  if (!text.empty() && text.front() == '*') {
    text.remove_prefix(1);
  } else {
    range.total = takeNumber(text);
    if (!range.total) return std::nullopt;
  }
  skipBlanks(text);
  if (!text.empty()) return std::nullopt;
  return range;
}

}  // namespace

int blockCountFor(std::int64_t totalSizeBytes) {
  if (totalSizeBytes <= 0) return 0;
  return static_cast<int>((totalSizeBytes + kBlockSizeBytes - 1) / kBlockSizeBytes);
}

int workerLimitFor(int threadCount, int blockCount) { return std::max(1, std::min(threadCount, blockCount)); }

BlockSpan blockSpan(int blockNumber, int blockCount, std::int64_t totalSizeBytes) {
  BlockSpan span;
  span.firstOffset = (blockNumber - 1) * kBlockSizeBytes;
  if (blockNumber == blockCount) {
    span.requestEndOffset = totalSizeBytes;
    span.lengthBytes = totalSizeBytes - span.firstOffset;
  } else {
    span.requestEndOffset = blockNumber * kBlockSizeBytes - 1;
    span.lengthBytes = kBlockSizeBytes;
  }
  return span;
}

std::string rangeLine(const BlockSpan& span) {
  return "\r\nRange:bytes=" + std::to_string(span.firstOffset) + "-" + std::to_string(span.requestEndOffset);
}

bool acceptsBlockAnswer(long status, const std::string& contentRange, const BlockSpan& span,
                        std::int64_t totalSizeBytes) {
  if (status == 200) return span.firstOffset == 0 && span.lengthBytes == totalSizeBytes;
  if (status != 206) return false;
  if (contentRange.empty()) return true;
  const auto range = parseContentRange(contentRange);
  if (!range || range->first != span.firstOffset) return false;
  return !range->total || *range->total == totalSizeBytes;
}

bool carriesPlainBytes(const std::string& contentEncoding) {
  std::string coding;
  for (const char c : contentEncoding) {
    if (c != ' ' && c != '\t')
      coding.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return coding.empty() || coding == "identity";
}

}  // namespace lirevo
