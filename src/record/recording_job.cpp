// SPDX-License-Identifier: MIT
#include "recording_job.h"

#include "display_log.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "live_stream_resolver.h"
#include "process_runner.h"
#include "recording_name.h"

namespace lirevo {

std::string buildRecorderCommandLine(const std::string& streamUrl, const std::string& baseName) {
  std::string line = " -hide_banner -i \"";
  line += streamUrl;
  line += "\" -c copy -f mpegts -y udp://127.0.0.1:1111 -c copy ";
  line += baseName;
  line += ".mp4";
  return line;
}

void runRecordingJob(const RecordingContext& context) { runObservedRecordingJob(context, {}); }

void runObservedRecordingJob(const RecordingContext& context,
                             const RecorderStartedCallback& onRecorderStarted) {
  ControlAccess& window = *context.window;
  const std::string& urlBox = "编辑框_url"_gbk;
  window.setText(urlBox, removeBlanks(window.text(urlBox)));

  std::string streamUrl;
  std::string resultMessage;
  if (!resolveLiveStream(window, window.text(urlBox), streamUrl, resultMessage)) {
    window.showMessage(resultMessage);
    return;
  }

  const std::string baseName = reserveOutputName(context.programDirectory, std::chrono::system_clock::now());
  const std::string outputPath = context.programDirectory + "/" + baseName + ".mp4";
  window.setText("编辑框_下载目录"_gbk, outputPath);

  runProcess(
      context.recorderPath, buildRecorderCommandLine(streamUrl, baseName),
      [&window](const std::string& status) { appendToDisplay(window, status); }, nullptr, nullptr, nullptr,
      onRecorderStarted);
  releaseUnusedOutput(outputPath);
}

}  // namespace lirevo
