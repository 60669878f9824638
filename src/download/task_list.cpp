// SPDX-License-Identifier: MIT
#include "task_list.h"

#include "download_task.h"

namespace lirevo {

TaskList& TaskList::shared() {
  static TaskList list;
  return list;
}

int TaskList::reserve() {
  std::lock_guard guard(m_mutex);
  m_entries.emplace_back();
  return static_cast<int>(m_entries.size());
}

void TaskList::fill(int taskNumber, const std::shared_ptr<DownloadTask>& task) {
  std::lock_guard guard(m_mutex);
  if (taskNumber >= 1 && taskNumber <= static_cast<int>(m_entries.size())) m_entries[taskNumber - 1] = task;
}

void TaskList::clear(int taskNumber) { fill(taskNumber, nullptr); }

std::shared_ptr<DownloadTask> TaskList::find(int taskNumber) {
  std::lock_guard guard(m_mutex);
  if (taskNumber < 1 || taskNumber > static_cast<int>(m_entries.size())) return nullptr;
  return m_entries[taskNumber - 1].lock();
}

std::vector<std::shared_ptr<DownloadTask>> TaskList::all() {
  std::lock_guard guard(m_mutex);
  std::vector<std::shared_ptr<DownloadTask>> tasks;
  for (const auto& entry : m_entries) {
    if (auto task = entry.lock()) tasks.push_back(std::move(task));
  }
  return tasks;
}

}  // namespace lirevo
