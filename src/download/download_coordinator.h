// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

#include "download_task.h"

namespace lirevo {

// The thread routine that hands the blocks out to workers, never more at
// once than the worker limit, waits for the last of them, puts the file in
// place when it is complete, makes the end report and releases the task.
class DownloadCoordinator {
 public:
  explicit DownloadCoordinator(std::shared_ptr<DownloadTask> task) : m_task(std::move(task)) {}
  void operator()();

 private:
  // Ends when every block is handed out, or early on a stop or a failure.
  void handOutBlocks();
  void waitForWorkers();
  void finish();

  std::shared_ptr<DownloadTask> m_task;
};

}  // namespace lirevo
