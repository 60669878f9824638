// SPDX-License-Identifier: MIT
#pragma once

// Fetches one URL into one file with several threads, block by block, and
// reports through a routine. Every download is known by its task number:
// the 1-based position of its start among all starts of the program, on
// whatever SegmentedDownloader object; a start that failed takes a number too,
// and numbers are never reused.
//
// A download writes into "<save path>.part" and puts the finished file at the
// save path only when every block has arrived whole; a failed or stopped
// download removes its ".part" file and leaves the save path alone.

#include <functional>
#include <string>

namespace lirevo {

enum class TaskState : int {
  Running = 0,
  StopRequested = 1,
  Paused = 2,
  Failed = -1,
};

// Report kinds, the second argument of a ProgressRoutine.
inline constexpr int kReportProgress = 1;  // after every chunk written: total, done so far
inline constexpr int kReportFinished = 0;  // once: the file is complete at the save path
inline constexpr int kReportFailed = -1;   // once, with total and done 0
// A stopped download makes no end report.

// (task number, report kind, total bytes, done bytes). Called on the
// download's own threads, several at once; a progress report is made while
// the task's lock is held, which is recursive, so the routine may call the
// control operations for its own task.
using ProgressRoutine = std::function<void(int taskNumber, int kind, int totalBytes, int doneBytes)>;

class SegmentedDownloader {
 public:
  // Works out the output path (a save path without a file extension names a
  // folder, into which the server's file name is put) and writes it back into
  // `savePath`, asks the server for the length, creates the file at its full
  // size and starts the download's threads. Gives the task number, or -1
  // when nothing was started; then nothing is reported either. A missing
  // `progress` makes no reports.
  int start(const std::string& url, std::string& savePath, int threadCount, ProgressRoutine progress = {});

  // Each writes one state; none waits for the threads to notice. Numbers
  // that name no running download are passed over.
  void pauseTask(int taskNumber);
  void pauseAll();
  void stopTask(int taskNumber);
  void stopAll();
  void resumeTask(int taskNumber);
  void resumeAll();
  void stopThenResumeTask(int taskNumber);
  void stopThenResumeAll();
};

}  // namespace lirevo
