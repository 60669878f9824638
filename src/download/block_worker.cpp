// SPDX-License-Identifier: MIT
#include "block_worker.h"

#include <algorithm>

#include "block_plan.h"
#include "download_headers.h"
#include "download_request.h"

namespace lirevo {
namespace {

bool endsWorker(TaskState state) { return state == TaskState::StopRequested || state == TaskState::Failed; }

static_assert(kHugeWindowBytes % kBlockSizeBytes == 0, "a block lies inside one stretch");
constexpr std::int64_t kBlocksPerStretch = kHugeWindowBytes / kBlockSizeBytes;

}  // namespace

std::int64_t BlockWorker::stretchOf(int blockNumber) const { return (blockNumber - 1) / kBlocksPerStretch; }

int BlockWorker::blocksInStretch(std::int64_t stretch) const {
  const std::int64_t firstBlock = stretch * kBlocksPerStretch + 1;
  return static_cast<int>(std::min<std::int64_t>(kBlocksPerStretch, m_task->blockCount - firstBlock + 1));
}

namespace {}  // namespace

void BlockWorker::operator()() {
  DownloadTask& task = *m_task;
  int blockNumber = 0;
  {
    std::lock_guard guard(task.lock);
    blockNumber = task.currentBlock;
    ++task.activeWorkers;
    task.startAcknowledged = true;
  }
  task.changed.notify_all();

  const bool whole = fetchBlock(blockNumber);

  const std::int64_t stretch = stretchOf(blockNumber);
  bool stretchWhole = false;
  {
    std::lock_guard guard(task.lock);
    if (whole) {
      ++task.wholeBlocks;
      stretchWhole =
          ++task.wholeBlocksInStretch[static_cast<std::size_t>(stretch)] == blocksInStretch(stretch);
    } else if (task.state != TaskState::StopRequested) {
      task.state = TaskState::Failed;
    }
  }
  // Before counting itself out: the coordinator closes the file after the
  // last worker.
  if (stretchWhole) {
    const std::int64_t first = stretch * kHugeWindowBytes;
    task.file.startWriteback(first, std::min(kHugeWindowBytes, task.totalSizeBytes - first));
  }
  {
    std::lock_guard guard(task.lock);
    --task.activeWorkers;
  }
  task.changed.notify_all();
}

bool BlockWorker::fetchBlock(int blockNumber) {
  DownloadTask& task = *m_task;
  const BlockSpan span = blockSpan(blockNumber, task.blockCount, task.totalSizeBytes);
  DownloadRequest request(task.url);
  request.setHeaderBlock(std::string(downloadHeaders()) + rangeLine(span));

  std::int64_t writtenBytes = 0;
  // The block's own stretch of the file, mapped once the answer is known to
  // be right and unmapped when the worker ends. One window per block rather
  // than per chunk: every unmapping flushes the translation buffers of all
  // the process's threads, which per chunk cost more than the transfer.
  std::optional<MappedFile::Window> window;
  bool broken = false;  // a bad answer or a failed write, as opposed to a stop
  const TransferEnd end = request.run([&](const ResponseHead& head, std::string_view chunk) {
    if (!window) {
      if (!acceptsBlockAnswer(head.status, head.contentRange, span, task.totalSizeBytes) ||
          !carriesPlainBytes(head.contentEncoding) ||
          !(window = task.file.mapWindow(span.firstOffset, span.lengthBytes))) {
        broken = true;
        return false;
      }
    }
    // More than the block holds would land on the next block's bytes.
    if (!window->write(span.firstOffset + writtenBytes, chunk.data(), chunk.size())) {
      broken = true;
      return false;
    }
    writtenBytes += static_cast<std::int64_t>(chunk.size());
    return chunkWritten(chunk.size());
  });
  // A stop ends the transfer early too; the caller tells it from a failure by
  // the state.
  if (broken || end != TransferEnd::Complete) return false;
  return acceptsBlockAnswer(request.head().status, request.head().contentRange, span, task.totalSizeBytes) &&
         carriesPlainBytes(request.head().contentEncoding) && writtenBytes == span.lengthBytes;
}

bool BlockWorker::chunkWritten(std::size_t lengthBytes) {
  DownloadTask& task = *m_task;
  std::unique_lock lock(task.lock);
  task.doneBytes += static_cast<std::int64_t>(lengthBytes);
  if (task.progress) {
    task.progress(task.taskNumber, kReportProgress, static_cast<int>(task.totalSizeBytes),
                  static_cast<int>(task.doneBytes));
  }
  while (task.state == TaskState::Paused) {
    task.changed.wait_for(lock, kPollInterval, [&] { return task.state != TaskState::Paused; });
  }
  return !endsWorker(task.state);
}

}  // namespace lirevo
