// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "control_access.h"

namespace lirevo {

struct RecordingContext {
  ControlAccess* window = nullptr;  // must outlive the job
  std::string programDirectory;     // no trailing separator
  std::string recorderPath;         // programDirectory + "/ffm.exe"
};

// The thread routine of one press of "开始下载": resolves the share link in
// "编辑框_url", shows the output path and runs the recorder until it exits.
void runRecordingJob(const RecordingContext& context);

}  // namespace lirevo
