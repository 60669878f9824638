// SPDX-License-Identifier: MIT
#include "block_worker.h"

#include "block_plan.h"
#include "download_headers.h"
#include "download_request.h"

namespace lirevo {
namespace {

bool endsWorker(TaskState state) { return state == TaskState::StopRequested || state == TaskState::Failed; }

}  // namespace

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

  {
    std::lock_guard guard(task.lock);
    if (whole) {
      ++task.wholeBlocks;
    } else if (task.state != TaskState::StopRequested) {
      task.state = TaskState::Failed;
    }
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
