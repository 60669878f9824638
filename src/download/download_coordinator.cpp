// SPDX-License-Identifier: MIT
#include "download_coordinator.h"

#include <system_error>
#include <thread>

#include "block_worker.h"
#include "task_list.h"

namespace lirevo {
namespace {

bool endsHandingOut(TaskState state) {
  return state == TaskState::StopRequested || state == TaskState::Failed;
}

}  // namespace

void DownloadCoordinator::operator()() {
  handOutBlocks();
  waitForWorkers();
  finish();
}

void DownloadCoordinator::handOutBlocks() {
  DownloadTask& task = *m_task;
  std::unique_lock lock(task.lock);
  int handedOut = 0;
  while (handedOut < task.blockCount) {
    if (task.activeWorkers >= task.workerLimit) {
      task.changed.wait_for(lock, kPollInterval, [&] { return task.activeWorkers < task.workerLimit; });
      continue;
    }
    if (endsHandingOut(task.state)) return;
    if (task.state == TaskState::Paused) {
      task.changed.wait_for(lock, kPollInterval, [&] { return task.state != TaskState::Paused; });
      continue;
    }
    ++handedOut;
    task.currentBlock = handedOut;
    task.startAcknowledged = false;
    lock.unlock();
    bool started = true;
    try {
      std::thread(BlockWorker(m_task)).detach();
    } catch (const std::system_error&) {
      started = false;
    }
    lock.lock();
    if (!started) {
      task.state = TaskState::Failed;
      task.changed.notify_all();
      return;
    }
    // The worker takes the block number before the next one is written, and
    // counts itself active, so the limit holds.
    while (!task.startAcknowledged) {
      task.changed.wait_for(lock, kPollInterval, [&] { return task.startAcknowledged; });
    }
  }
}

void DownloadCoordinator::waitForWorkers() {
  DownloadTask& task = *m_task;
  std::unique_lock lock(task.lock);
  while (task.activeWorkers > 0) {
    task.changed.wait_for(lock, kPollInterval, [&] { return task.activeWorkers == 0; });
  }
}

void DownloadCoordinator::finish() {
  DownloadTask& task = *m_task;
  TaskState state;
  bool complete;
  std::int64_t doneBytes;
  {
    std::lock_guard guard(task.lock);
    state = task.state;
    doneBytes = task.doneBytes;
    // A stop that was taken back at once (stopThenResume) may have ended a
    // worker or the handing out while the state reads "running" again, so the
    // state alone does not tell that the file is whole. A pause that came
    // after the last chunk takes nothing away.
    complete =
        !endsHandingOut(state) && task.wholeBlocks == task.blockCount && doneBytes == task.totalSizeBytes;
  }
  if (complete) {
    complete = task.file.flush();
    task.file.close();
    complete = complete && replaceFile(task.partPath, task.savePath);
  } else {
    task.file.close();
  }
  if (!complete) removeFile(task.partPath);
  TaskList::shared().clear(task.taskNumber);

  if (!task.progress) return;
  if (complete) {
    task.progress(task.taskNumber, kReportFinished, static_cast<int>(task.totalSizeBytes),
                  static_cast<int>(doneBytes));
  } else if (state != TaskState::StopRequested) {
    task.progress(task.taskNumber, kReportFailed, 0, 0);
  }
}

}  // namespace lirevo
