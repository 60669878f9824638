// SPDX-License-Identifier: MIT
#include "segmented_downloader.h"

#include <system_error>
#include <thread>

#include "block_plan.h"
#include "charset.h"
#include "download_coordinator.h"
#include "download_headers.h"
#include "download_request.h"
#include "download_task.h"
#include "save_path.h"
#include "task_list.h"

namespace lirevo {
namespace {

constexpr std::string_view kPartSuffix = ".part";

// The length the server gives for the whole file, or -1. Only a plain 200
// answer counts: an error page's length is no file's length, and a coded
// answer's length is that of the coded bytes.
std::int64_t probeLength(const std::string& url) {
  DownloadRequest request(url);
  request.setHeaderBlock(downloadHeaders());
  request.run({});
  if (request.head().status != 200 || !carriesPlainBytes(request.head().contentEncoding)) return -1;
  return request.head().contentLength;
}

bool namesAFile(const std::string& path) {
  const std::string name = lastPathComponent(path);
  return !name.empty() && name != "." && name != "..";
}

void setState(const std::shared_ptr<DownloadTask>& task, TaskState state) {
  if (!task) return;
  {
    std::lock_guard guard(task->lock);
    task->state = state;
  }
  task->changed.notify_all();
}

void stopThenResume(const std::shared_ptr<DownloadTask>& task) {
  if (!task) return;
  {
    std::lock_guard guard(task->lock);
    task->state = TaskState::StopRequested;
  }
  {
    std::lock_guard guard(task->lock);
    task->state = TaskState::Running;
  }
  task->changed.notify_all();
}

std::shared_ptr<DownloadTask> startTask(int taskNumber, const std::string& url, std::string& savePath,
                                        int threadCount, ProgressRoutine progress) {
  savePath = resolveSavePath(savePath, url);
  if (!namesAFile(savePath)) return nullptr;
  const std::int64_t totalSizeBytes = probeLength(url);
  if (totalSizeBytes <= 0 || totalSizeBytes > kLargestTotalSizeBytes) return nullptr;

  const std::string saveUtf8 = gbkToUtf8(savePath);
  const std::string partUtf8 = saveUtf8 + std::string(kPartSuffix);
  std::optional<MappedFile> file = MappedFile::create(partUtf8, totalSizeBytes);
  if (!file) return nullptr;

  auto task = std::make_shared<DownloadTask>(url, std::move(progress), std::move(*file));
  task->partPath = partUtf8;
  task->savePath = saveUtf8;
  task->taskNumber = taskNumber;
  task->totalSizeBytes = totalSizeBytes;
  task->blockCount = blockCountFor(totalSizeBytes);
  task->workerLimit = workerLimitFor(threadCount, task->blockCount);
  task->wholeBlocksInStretch.assign(
      static_cast<std::size_t>((totalSizeBytes + kHugeWindowBytes - 1) / kHugeWindowBytes), 0);
  // In the list before the threads run, so that a report's routine can
  // already pause or stop its own task.
  TaskList::shared().fill(taskNumber, task);
  try {
    std::thread(DownloadCoordinator(task)).detach();
  } catch (const std::system_error&) {
    TaskList::shared().clear(taskNumber);
    task->file.close();
    removeFile(partUtf8);
    return nullptr;
  }
  return task;
}

}  // namespace

int SegmentedDownloader::start(const std::string& url, std::string& savePath, int threadCount,
                               ProgressRoutine progress) {
  const int taskNumber = TaskList::shared().reserve();
  return startTask(taskNumber, url, savePath, threadCount, std::move(progress)) ? taskNumber : -1;
}

void SegmentedDownloader::pauseTask(int taskNumber) {
  setState(TaskList::shared().find(taskNumber), TaskState::Paused);
}

void SegmentedDownloader::pauseAll() {
  for (const auto& task : TaskList::shared().all()) setState(task, TaskState::Paused);
}

void SegmentedDownloader::stopTask(int taskNumber) {
  setState(TaskList::shared().find(taskNumber), TaskState::StopRequested);
}

void SegmentedDownloader::stopAll() {
  for (const auto& task : TaskList::shared().all()) setState(task, TaskState::StopRequested);
}

void SegmentedDownloader::resumeTask(int taskNumber) {
  setState(TaskList::shared().find(taskNumber), TaskState::Running);
}

void SegmentedDownloader::resumeAll() {
  for (const auto& task : TaskList::shared().all()) setState(task, TaskState::Running);
}

void SegmentedDownloader::stopThenResumeTask(int taskNumber) {
  stopThenResume(TaskList::shared().find(taskNumber));
}

void SegmentedDownloader::stopThenResumeAll() {
  for (const auto& task : TaskList::shared().all()) stopThenResume(task);
}

}  // namespace lirevo
