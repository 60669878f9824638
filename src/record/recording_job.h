// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "control_access.h"

namespace lirevo {

struct RecordingContext {
  ControlAccess* window = nullptr;  // must outlive the job
  std::string programDirectory;     // no trailing separator
  std::string recorderPath;         // programDirectory + "/ffm.exe"
};

using RecorderStartedCallback = std::function<void(std::uint32_t processId)>;

// The recorder's command line: one read of the stream, copied without
// re-encoding to the UDP relay and into `baseName`.mp4 in the recorder's
// working directory.
std::string buildRecorderCommandLine(const std::string& streamUrl, const std::string& baseName);

// The thread routine of one press of "开始下载": resolves the share link in
// "编辑框_url", shows the output path and runs the recorder until it exits.
void runRecordingJob(const RecordingContext& context);

// The same job, telling `onRecorderStarted` (on the job's thread) the
// recorder's process identifier once it runs, so that the caller can stop
// exactly this recorder (the terminal companion does).
void runObservedRecordingJob(const RecordingContext& context,
                             const RecorderStartedCallback& onRecorderStarted);

}  // namespace lirevo
