// SPDX-License-Identifier: MIT
// lirevo-cli: the recorder for machines without a desktop. The same link
// resolution and the same recorder command line as the window; the display
// box is the terminal.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "live_stream_resolver.h"
#include "memory_window.h"
#include "recorder_stop.h"
#include "recording_job.h"
#include "terminal_output.h"

namespace lirevo {
namespace {

namespace fs = std::filesystem;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

constexpr const char* kHelp = R"(Usage:
  lirevo-cli resolve LINK
  lirevo-cli record LINK [--dir DIR]
  lirevo-cli --help

Records the live room behind a Douyin share link, as the Lirevo window does.

resolve LINK
    Fetches the page behind the share link and prints the result message,
    the quality notice of the stream found and the stream address.
    Exit status 0 only when a stream address was found.

record LINK [--dir DIR]
    Resolves the link the same way, then runs DIR/ffm.exe (FFmpeg) to copy the
    stream without re-encoding into DIR/<13-digit time stamp>.mp4 while relaying
    it to udp://127.0.0.1:1111 (watch it with: ffplay udp://127.0.0.1:1111).
    DIR defaults to the current directory; when it holds no ffm.exe, a link
    named ffm.exe to the ffmpeg found on PATH is created there.
    FFmpeg's status lines are printed as they come. Press Ctrl+C to stop: FFmpeg
    finishes the MP4 file, and lirevo-cli exits once it is complete.
    Exit status 0 when an MP4 file was written.

Blanks in LINK are removed, as in the window. Output is UTF-8.
)";

std::mutex& printLock() {
  static std::mutex lock;
  return lock;
}

void print(std::FILE* stream, const std::string& utf8) {
  std::lock_guard guard(printLock());
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

void printLine(std::FILE* stream, const std::string& gbk) { print(stream, terminalText(gbk) + "\n"); }

int resolveCommand(const std::string& link) {
  MemoryWindow window;
  const std::string& label = "标签1"_gbk;
  const std::string designNotice = window.text(label);
  std::string streamUrl;
  std::string resultMessage;
  const bool found = resolveLiveStream(window, removeBlanks(utf8ToGbk(link)), streamUrl, resultMessage);
  printLine(stdout, resultMessage);
  if (window.text(label) != designNotice) printLine(stdout, window.text(label));
  if (found) printLine(stdout, streamUrl);
  return found ? EXIT_SUCCESS : kExitFailure;
}

// The recorder in `directory`, linked to the system FFmpeg when missing.
// Empty (after saying why) when there is none to be had.
std::string prepareRecorder(const fs::path& directory) {
  const fs::path recorder = directory / "ffm.exe";
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(recorder, error)) || fs::exists(recorder, error))
    return recorder.string();
  std::string ffmpeg;
  std::stringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
  for (std::string entry; std::getline(path, entry, ':');) {
    const std::string candidate = (entry.empty() ? std::string(".") : entry) + "/ffmpeg";
    if (::access(candidate.c_str(), X_OK) == 0) {
      ffmpeg = fs::absolute(candidate).string();
      break;
    }
  }
  if (ffmpeg.empty()) {
    print(stderr, "lirevo-cli: no ffm.exe in " + directory.string() + " and no ffmpeg on PATH\n");
    return {};
  }
  fs::create_symlink(ffmpeg, recorder, error);
  if (error) {
    print(stderr, "lirevo-cli: cannot create " + recorder.string() + ": " + error.message() + "\n");
    return {};
  }
  print(stdout, "ffm.exe -> " + ffmpeg + "\n");
  return recorder.string();
}

int recordCommand(const std::string& link, const std::string& directoryArgument) {
  std::error_code error;
  fs::path directory = directoryArgument.empty() ? fs::current_path(error) : fs::path(directoryArgument);
  fs::create_directories(directory, error);
  directory = fs::canonical(directory, error);
  if (error || !fs::is_directory(directory)) {
    print(stderr, "lirevo-cli: " + directoryArgument + " is no directory\n");
    return kExitFailure;
  }
  const std::string recorder = prepareRecorder(directory);
  if (recorder.empty()) return kExitFailure;

  // Ctrl+C and its kin are taken by sigwait below: blocked here, before any
  // thread starts, so every thread inherits the mask. The recorder itself is
  // started with a clean mask and in a process group of its own, so the
  // terminal's Ctrl+C reaches only this program, which passes it on.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1}) sigaddset(&signals, number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  MemoryWindow window;
  DisplayFollower follower;
  window.onTextChanged([&follower](const std::string& name, const std::string& text) {
    if (name == "编辑框_显示"_gbk) {
      const std::string added = follower.newText(text);
      if (!added.empty()) print(stdout, terminalText(added));
    } else if (name == "标签1"_gbk || name == "编辑框_下载目录"_gbk) {
      printLine(stdout, text);
    }
  });
  window.setText("编辑框_url"_gbk, utf8ToGbk(link));

  std::atomic<std::uint32_t> recorderPid{0};
  RecordingContext context;
  context.window = &window;
  context.programDirectory = utf8ToGbk(directory.string());
  context.recorderPath = utf8ToGbk(recorder);

  const pthread_t mainThread = pthread_self();
  std::thread job([&] {
    runObservedRecordingJob(context, [&recorderPid](std::uint32_t pid) { recorderPid = pid; });
    pthread_kill(mainThread, SIGUSR1);
  });

  for (;;) {
    int number = 0;
    if (sigwait(&signals, &number) != 0) continue;
    if (number == SIGUSR1) break;
    const std::uint32_t pid = recorderPid;
    if (pid == 0) {
      // Still resolving the link: nothing is recorded yet, nothing to finish.
      print(stderr, "\n");
      std::_Exit(kExitInterrupted);
    }
    print(stderr, std::string("\n").append(gbkToUtf8("正在停止录制，等待 MP4 文件完成……"_gbk)).append("\n"));
    stopRecorderProcess(pid);
  }
  job.join();

  const std::vector<std::string> messages = window.messages();
  for (const std::string& message : messages) printLine(stderr, message);
  if (!messages.empty()) return kExitFailure;
  const std::string output = gbkToUtf8(window.text("编辑框_下载目录"_gbk));
  struct stat info {};
  return !output.empty() && ::stat(output.c_str(), &info) == 0 && info.st_size > 0 ? EXIT_SUCCESS
                                                                                   : kExitFailure;
}

int usage() {
  print(stderr, kHelp);
  return kExitUsage;
}

}  // namespace
}  // namespace lirevo

int main(int argc, char** argv) {
  using namespace lirevo;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) return usage();
  if (arguments[0] == "--help" || arguments[0] == "-h" || arguments[0] == "help") {
    print(stdout, kHelp);
    return EXIT_SUCCESS;
  }
  if (arguments[0] == "resolve" && arguments.size() == 2) return resolveCommand(arguments[1]);
  if (arguments[0] == "record" && arguments.size() == 2) return recordCommand(arguments[1], {});
  if (arguments[0] == "record" && arguments.size() == 4 && arguments[2] == "--dir")
    return recordCommand(arguments[1], arguments[3]);
  return usage();
}
