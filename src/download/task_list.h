// SPDX-License-Identifier: MIT
#pragma once

// The one list of downloads for the whole program, shared by every
// SegmentedDownloader: entry n belongs to task number n. Entries are never
// removed; an entry holds nothing once its start has failed or its download
// has ended and released its record.

#include <memory>
#include <mutex>
#include <vector>

namespace lirevo {

struct DownloadTask;

class TaskList {
 public:
  static TaskList& shared();

  // Appends an empty entry and gives its number. Reserving the number before
  // the download's threads run lets them report under it from the start.
  int reserve();
  void fill(int taskNumber, const std::shared_ptr<DownloadTask>& task);
  // Empties the entry of a download that has ended.
  void clear(int taskNumber);
  // The running download of that number, or null.
  std::shared_ptr<DownloadTask> find(int taskNumber);
  // Every running download, first to last.
  std::vector<std::shared_ptr<DownloadTask>> all();

 private:
  TaskList() = default;
  std::mutex m_mutex;
  std::vector<std::weak_ptr<DownloadTask>> m_entries;
};

}  // namespace lirevo
