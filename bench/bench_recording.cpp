// SPDX-License-Identifier: MIT
// Records from a loopback live source the way a press of "开始下载" does and
// reports, side by side with FFmpeg run by hand on the same command line:
//   - the program's own CPU time (FFmpeg's not included) per minute recorded,
//   - the delay from the start to the first bytes of the MP4 file.
// Usage: bench_recording [recordSeconds=30] [delayRounds=5]
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <future>

#include "command_line_split.h"
#include "gbk_literal.h"
#include "memory_window.h"
#include "page_server.h"
#include "recorder_stop.h"
#include "recording_fixtures.h"
#include "recording_job.h"

namespace lirevo {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

double cpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double childrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool hasBytes(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

// Polls every millisecond: precise enough for a delay of hundreds of them.
bool waitForBytes(const std::string& path, std::chrono::seconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!hasBytes(path)) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

struct ProgramRun {
  double delaySeconds = -1;
  double resolveSeconds = -1;     // until the output path is shown
  double jobCpuSeconds = 0;       // the job thread while recording
  double processCpuSeconds = 0;   // the whole program while recording
  double recorderCpuSeconds = 0;  // FFmpeg, for comparison
  double recordedSeconds = 0;
};

// One press of the start button, the recording held for `holdFor` after the
// first bytes, then the stop button.
ProgramRun runProgram(const std::string& sample, std::chrono::seconds holdFor) {
  testing::LiveFlvSource source(sample);
  testing::PageServer pages;
  pages.setPage("room", {.body = "<html>\"" + source.streamUrl() + "\"</html>"});
  testing::TempDirectory directory;
  testing::addRecorderLink(directory.path());
  MemoryWindow window;
  window.setText("编辑框_url"_gbk, pages.shareLink("room"));
  RecordingContext context{&window, directory.path(), directory.path() + "/ffm.exe"};

  ProgramRun run;
  const double childrenBefore = childrenCpuSeconds();
  const auto pressed = Clock::now();
  std::promise<void> done;
  std::thread job([&] {
    runRecordingJob(context);
    done.set_value();
  });
  clockid_t jobClock{};
  pthread_getcpuclockid(job.native_handle(), &jobClock);
  std::string output;
  while ((output = window.text("编辑框_下载目录"_gbk)).empty() && Clock::now() - pressed < 60s)
    std::this_thread::sleep_for(1ms);
  run.resolveSeconds = seconds(Clock::now() - pressed);
  if (waitForBytes(output, 60s)) {
    const auto firstBytes = Clock::now();
    run.delaySeconds = seconds(firstBytes - pressed);
    const double jobBefore = cpuSeconds(jobClock);
    const double processBefore = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    std::this_thread::sleep_for(holdFor);
    run.jobCpuSeconds = cpuSeconds(jobClock) - jobBefore;
    run.processCpuSeconds = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
    run.recordedSeconds = seconds(Clock::now() - firstBytes);
  }
  stopRecorder();
  done.get_future().wait();
  job.join();
  run.recorderCpuSeconds = childrenCpuSeconds() - childrenBefore;
  return run;
}

// The recorder's command line run by hand: FFmpeg started directly in the
// directory, nothing resolved, nobody reading its output but a pipe to nowhere.
double runBareFfmpeg(const std::string& sample) {
  testing::LiveFlvSource source(sample);
  testing::TempDirectory directory;
  const std::string commandLine = buildRecorderCommandLine(source.streamUrl(), "1700000000000");
  std::vector<std::string> arguments{"ffmpeg"};
  for (const std::string& argument : splitCommandLine(commandLine)) arguments.push_back(argument);
  const std::string output = directory.path() + "/1700000000000.mp4";
  // The same command as the program runs, but with the output path absolute
  // since this process's working directory is elsewhere.
  arguments.back() = output;
  const auto started = Clock::now();
  testing::ChildProcess ffmpeg(arguments);
  const double delay = waitForBytes(output, 60s) ? seconds(Clock::now() - started) : -1;
  ffmpeg.signal(SIGINT);
  ffmpeg.wait(30s);
  return delay;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace
}  // namespace lirevo

int main(int argc, char** argv) {
  using namespace lirevo;
  const int recordSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  testing::TempDirectory work;
  std::printf("making a %d s sample, 720x1280 at 2.5 Mbit/s ...\n", recordSeconds + 15);
  std::fflush(stdout);
  const std::string sample = work.path() + "/sample.flv";
  testing::runToEnd({"ffmpeg",       "-nostdin",
                     "-hide_banner", "-loglevel",
                     "error",        "-y",
                     "-f",           "lavfi",
                     "-i",           "testsrc2=size=720x1280:rate=25",
                     "-f",           "lavfi",
                     "-i",           "sine=frequency=440:sample_rate=44100",
                     "-t",           std::to_string(recordSeconds + 15),
                     "-c:v",         "libx264",
                     "-preset",      "ultrafast",
                     "-b:v",         "2500k",
                     "-maxrate",     "2500k",
                     "-bufsize",     "5000k",
                     "-g",           "25",
                     "-pix_fmt",     "yuv420p",
                     "-c:a",         "aac",
                     "-b:a",         "128k",
                     "-f",           "flv",
                     sample});

  std::printf("recording %d s ...\n", recordSeconds);
  std::fflush(stdout);
  const ProgramRun steady = runProgram(sample, std::chrono::seconds(recordSeconds));
  const double perMinute = 60.0 / std::max(steady.recordedSeconds, 1e-9);
  std::printf("\nCPU while recording %.1f s (steady state, from the first bytes of the MP4 to the stop):\n",
              steady.recordedSeconds);
  std::printf("  recording job thread     %8.4f CPU-s  = %7.4f CPU-s per recorded minute (goal <= 0.1)\n",
              steady.jobCpuSeconds, steady.jobCpuSeconds * perMinute);
  std::printf("  whole program            %8.4f CPU-s  = %7.4f CPU-s per recorded minute\n",
              steady.processCpuSeconds, steady.processCpuSeconds * perMinute);
  std::printf("  FFmpeg, for comparison   %8.4f CPU-s  = %7.4f CPU-s per recorded minute (whole run)\n",
              steady.recorderCpuSeconds, steady.recorderCpuSeconds * perMinute);

  std::vector<double> programDelays, bareDelays, resolveDelays;
  for (int round = 0; round < rounds; ++round) {
    std::printf("delay round %d of %d ...\n", round + 1, rounds);
    std::fflush(stdout);
    const ProgramRun run = runProgram(sample, 1s);
    programDelays.push_back(run.delaySeconds);
    resolveDelays.push_back(run.resolveSeconds);
    bareDelays.push_back(runBareFfmpeg(sample));
  }
  std::printf("\nDelay to the first bytes of the MP4 (median of %d):\n", rounds);
  std::printf("  start button (resolve + start FFmpeg)  %7.1f ms\n", median(programDelays) * 1000);
  std::printf("    of which resolving the link          %7.1f ms\n", median(resolveDelays) * 1000);
  std::printf("  FFmpeg by hand, same command line      %7.1f ms\n", median(bareDelays) * 1000);
  std::printf("  difference                             %+7.1f ms (goal within 100 ms)\n",
              (median(programDelays) - median(bareDelays)) * 1000);
  std::printf("  rounds, program: ");
  for (const double d : programDelays) std::printf("%.0f ", d * 1000);
  std::printf("ms; by hand: ");
  for (const double d : bareDelays) std::printf("%.0f ", d * 1000);
  std::printf("ms\n");
  return 0;
}
