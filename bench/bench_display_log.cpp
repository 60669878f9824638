// SPDX-License-Identifier: MIT
// Two threads append 100,000 status lines to the display box of the real
// window (offscreen), as two recording jobs would; prints the resident memory
// and the box's size along the way. Memory should stay flat and the box
// bounded by the 2000-byte limit plus one line.
#include <QApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "display_log.h"
#include "gbk_literal.h"
#include "main_window.h"

namespace {

long statusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stol(line.substr(prefix.size()));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace lirevo::literals;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);

  lirevo::MainWindowSetup setup;
  setup.programDirectory = "/tmp";
  setup.componentHost = "http://127.0.0.1:9";
  setup.actions.checkComponents = [](const lirevo::ComponentCheckContext&) {};
  setup.actions.runRecordingJob = [](const lirevo::RecordingContext&) {};
  lirevo::MainWindow window(std::move(setup));
  window.show();
  lirevo::ControlAccess& controls = window.controls();

  constexpr int kLinesPerThread = 50000;
  constexpr int kReportEvery = 10000;
  // Warm up, so that first-use allocations (fonts, layouts) are not counted as growth.
  for (int i = 0; i < 2000; ++i) lirevo::appendToDisplay(controls, "warm-up line " + std::to_string(i));
  QCoreApplication::processEvents();

  std::atomic<int> appended{0};
  std::atomic<int> running{2};
  auto writer = [&](int id) {
    const std::string status = lirevo::utf8ToGbk(
        "frame= 1234 fps= 25 q=-1.0 size=  10240kB time=00:00:41.00 bitrate=2048.0kbits/s speed=1x 线程");
    for (int i = 0; i < kLinesPerThread; ++i) {
      lirevo::appendToDisplay(controls, status + std::to_string(id) + " #" + std::to_string(i));
      ++appended;
    }
    --running;
  };

  const long rssBefore = statusKiB("VmRSS");
  std::printf("%10s %12s %12s\n", "lines", "RSS KiB", "box bytes");
  std::printf("%10d %12ld %12zu\n", 0, rssBefore, controls.text("编辑框_显示"_gbk).size());
  const auto start = std::chrono::steady_clock::now();
  std::thread a(writer, 1), b(writer, 2);
  int nextReport = kReportEvery;
  std::size_t largestBox = 0;
  while (running > 0) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    largestBox = std::max(largestBox, controls.text("编辑框_显示"_gbk).size());
    if (appended >= nextReport) {
      std::printf("%10d %12ld %12zu\n", appended.load(), statusKiB("VmRSS"), largestBox);
      nextReport += kReportEvery;
    }
  }
  a.join();
  b.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long rssAfter = statusKiB("VmRSS");
  const std::string text = controls.text("编辑框_显示"_gbk);
  std::printf("\nappended %d lines in %.2f s (%.0f lines/s)\n", appended.load(), seconds, appended / seconds);
  std::printf("RSS before %ld KiB, after %ld KiB (%+ld KiB), peak %ld KiB\n", rssBefore, rssAfter,
              rssAfter - rssBefore, statusKiB("VmHWM"));
  std::printf("box at the end %zu GBK bytes; largest seen %zu bytes (limit %zu plus one line)\n", text.size(),
              largestBox, lirevo::kDisplayLimitBytes);
  std::fflush(nullptr);
  return 0;
}
