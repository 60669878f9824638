// SPDX-License-Identifier: MIT
// Placeholders until the recorder lands; the window links against them.
#include "player.h"
#include "recorder_stop.h"
#include "recording_job.h"

namespace lirevo {

void runRecordingJob(const RecordingContext&) {}
std::uint32_t findProcessIdByName(std::string_view, bool) { return 0; }
void stopRecorder() {}
bool terminateProcessByName(std::string_view) { return false; }
bool waitForProcessToEnd(std::string_view, int) { return true; }
void startPlayer(const std::string&) {}

}  // namespace lirevo
