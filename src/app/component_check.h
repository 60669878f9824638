// SPDX-License-Identifier: MIT
#pragma once

#include <string>

#include "control_access.h"

namespace lirevo {

struct ComponentCheckContext {
  ControlAccess* window = nullptr;  // must outlive the downloads
  std::string programDirectory;     // no trailing separator
  std::string recorderPath;         // programDirectory + "/ffm.exe"
  std::string componentHost;        // scheme and host of the component server
};

// The start-up thread routine: restores the settings, warns about a blank in
// the program's path and fetches a missing recorder or player. A missing
// component is taken from the system first: a program of its kind on the
// PATH ("ffmpeg", "ffplay") is linked into the program directory under the
// component's name; only when there is none is it downloaded from the
// component server. Returns once the downloads have started; they report
// into the display box from their own threads.
void checkComponents(const ComponentCheckContext& context);

// Replaces the display box's text with the download's progress, for any
// report kind: "<task>:已完成<done>/<total>", a line break and the reminder
// not to record yet.
void reportComponentProgress(ControlAccess& window, int taskNumber, int kind, int totalBytes, int doneBytes);

}  // namespace lirevo
