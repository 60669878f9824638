// SPDX-License-Identifier: MIT
#pragma once

// How a file of a known size is cut into blocks, what each block's range
// request says and what a correct answer to it looks like. Pure bookkeeping,
// apart from any transfer, so that it can be checked row by row.

#include <cstdint>
#include <string>

namespace lirevo {

inline constexpr std::int64_t kBlockSizeBytes = 1048576;
// Sizes and offsets travel as 32-bit signed numbers in the progress reports,
// so a file must stay below 2 GiB.
inline constexpr std::int64_t kLargestTotalSizeBytes = 2147483647;

struct BlockSpan {
  std::int64_t firstOffset = 0;
  // The offset written into the range line. For the last block this is the
  // total size itself (one past the last byte); servers answer such a range
  // with the rest of the file.
  std::int64_t requestEndOffset = 0;
  // The bytes the block holds and a complete answer must carry.
  std::int64_t lengthBytes = 0;
};

// The smallest number of whole blocks that covers the size (0 for size 0).
int blockCountFor(std::int64_t totalSizeBytes);

// The thread count asked for, lowered to the block count and raised to 1.
int workerLimitFor(int threadCount, int blockCount);

// `blockNumber` counts from 1 up to `blockCount`.
BlockSpan blockSpan(int blockNumber, int blockCount, std::int64_t totalSizeBytes);

// "\r\nRange:bytes=<first>-<end>", appended to the header block as it stands.
std::string rangeLine(const BlockSpan& span);

// An answer to a block request is taken when it is 206 Partial Content for the
// block's first offset, or 200 OK when the block is the whole file. A
// Content-Range that names another start or another total is refused; an
// absent one is accepted (the length check still applies).
bool acceptsBlockAnswer(long status, const std::string& contentRange, const BlockSpan& span,
                        std::int64_t totalSizeBytes);

// True when an answer with this Content-Encoding (empty when absent) carries
// the file's own bytes: no coding, or "identity". The requests offer gzip
// and deflate (their header bytes are fixed), but nothing decodes an answer:
// coded bytes would make a file of the right length that is no program.
bool carriesPlainBytes(const std::string& contentEncoding);

}  // namespace lirevo
