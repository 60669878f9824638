// SPDX-License-Identifier: MIT
// Input: eight bytes of file size, four of thread count, then bytes that
// pick answers to check against the plan.
#include <cstdint>
#include <cstring>
#include <string>

#include "block_plan.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lirevo;
  if (size < 12) return 0;
  std::uint64_t rawSize = 0;
  std::int32_t threadCount = 0;
  std::memcpy(&rawSize, data, 8);
  std::memcpy(&threadCount, data + 8, 4);
  const std::int64_t total =
      1 + static_cast<std::int64_t>(rawSize % static_cast<std::uint64_t>(kLargestTotalSizeBytes));

  const int count = blockCountFor(total);
  FUZZ_CHECK(count >= 1);
  FUZZ_CHECK(static_cast<std::int64_t>(count - 1) * kBlockSizeBytes < total);
  FUZZ_CHECK(static_cast<std::int64_t>(count) * kBlockSizeBytes >= total);
  const int workers = workerLimitFor(threadCount, count);
  FUZZ_CHECK(workers >= 1 && workers <= count);
  FUZZ_CHECK(workers == (threadCount < 1 ? 1 : (threadCount > count ? count : threadCount)));

  // The blocks cover the file once, in order, each at most a block long;
  // every range line names the block's first byte and, except for the last
  // block (which names the size itself), its last byte.
  // Up to 2048 blocks: the first and last few are checked one by one, the
  // ones between by their sum, so that a run stays quick.
  constexpr int kEnds = 8;
  std::int64_t covered = 0;
  for (int number = 1; number <= count; ++number) {
    if (number > kEnds && number <= count - kEnds) {
      covered += kBlockSizeBytes;
      continue;
    }
    const BlockSpan span = blockSpan(number, count, total);
    FUZZ_CHECK(span.firstOffset == covered);
    FUZZ_CHECK(span.lengthBytes > 0 && span.lengthBytes <= kBlockSizeBytes);
    FUZZ_CHECK(span.requestEndOffset == (number == count ? total : span.firstOffset + span.lengthBytes - 1));
    FUZZ_CHECK(rangeLine(span) == "\r\nRange:bytes=" + std::to_string(span.firstOffset) + "-" +
                                      std::to_string(span.requestEndOffset));
    const std::string own = "bytes " + std::to_string(span.firstOffset) + "-" +
                            std::to_string(span.firstOffset + span.lengthBytes - 1) + "/" +
                            std::to_string(total);
    FUZZ_CHECK(acceptsBlockAnswer(206, own, span, total));
    FUZZ_CHECK(acceptsBlockAnswer(206, "", span, total));
    FUZZ_CHECK(!acceptsBlockAnswer(206, own + "0", span, total));
    FUZZ_CHECK(acceptsBlockAnswer(200, "", span, total) == (count == 1));
    covered += span.lengthBytes;
  }
  FUZZ_CHECK(covered == total);

  // Any other answer text never crashes the check, and one for another
  // start is refused.
  const std::string text(reinterpret_cast<const char*>(data + 12), size - 12);
  const BlockSpan first = blockSpan(1, count, total);
  const long status = size > 12 ? 100 + data[12] % 500 : 206;
  (void)acceptsBlockAnswer(status, text, first, total);
  if (count > 1) {
    const BlockSpan second = blockSpan(2, count, total);
    FUZZ_CHECK(!acceptsBlockAnswer(
        206, "bytes 0-" + std::to_string(kBlockSizeBytes - 1) + "/" + std::to_string(total), second, total));
  }
  return 0;
}
