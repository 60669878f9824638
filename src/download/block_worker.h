// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "download_task.h"

namespace lirevo {

// The thread routine that fetches the block the coordinator has just handed
// out with one range request and writes it, chunk by chunk, at its place in
// the file.
class BlockWorker {
 public:
  explicit BlockWorker(std::shared_ptr<DownloadTask> task) : m_task(std::move(task)) {}
  void operator()();

 private:
  // Gives true when the block arrived whole and was written.
  bool fetchBlock(int blockNumber);
  // After a chunk: counts it, reports it and waits while paused. Gives false
  // when the worker is to end.
  bool chunkWritten(std::size_t lengthBytes);
  // The file's kHugeWindowBytes stretches, counted from 0, and how many
  // blocks each holds.
  std::int64_t stretchOf(int blockNumber) const;
  int blocksInStretch(std::int64_t stretch) const;

  std::shared_ptr<DownloadTask> m_task;
};

}  // namespace lirevo
