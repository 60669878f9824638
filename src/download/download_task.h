// SPDX-License-Identifier: MIT
#pragma once

// The record one download's coordinator, its block workers and the control
// operations share. The fields above the lock are set before any of the
// download's threads starts and are not changed afterwards; those below it
// are read and written only under the lock.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mapped_file.h"
#include "segmented_downloader.h"

namespace lirevo {

struct DownloadTask {
  DownloadTask(std::string urlText, ProgressRoutine routine, MappedFile outputFile)
      : url(std::move(urlText)), progress(std::move(routine)), file(std::move(outputFile)) {}

  const std::string url;
  const ProgressRoutine progress;
  // Written by the workers at disjoint offsets; closed by the coordinator
  // after the last worker has ended.
  MappedFile file;
  std::string partPath;  // UTF-8
  std::string savePath;  // UTF-8
  int taskNumber = 0;
  int workerLimit = 1;
  int blockCount = 0;
  std::int64_t totalSizeBytes = 0;

  // Recursive, because a progress report is made under it and the routine
  // may call the control operations for its own task.
  std::recursive_mutex lock;
  // Wakes every 100 ms wait early: a worker's acknowledgement, a worker
  // ending, a state change.
  std::condition_variable_any changed;
  int activeWorkers = 0;
  TaskState state = TaskState::Running;
  int currentBlock = 0;  // the block most recently handed out, from 1
  bool startAcknowledged = false;
  std::int64_t doneBytes = 0;
  int wholeBlocks = 0;  // blocks that arrived complete and were written
  // Per kHugeWindowBytes stretch of the file, how many of its blocks are
  // whole; a full stretch is no longer mapped and can go to the disk.
  std::vector<int> wholeBlocksInStretch;
};

// The waits of the coordinator and of a paused worker last at most this
// long before they look again, and end early when what they wait for happens.
inline constexpr std::chrono::milliseconds kPollInterval{100};

}  // namespace lirevo
