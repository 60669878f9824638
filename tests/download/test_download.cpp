// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "block_plan.h"
#include "charset.h"
#include "download_headers.h"
#include "gbk_literal.h"
#include "mapped_file.h"
#include "range_server.h"
#include "save_path.h"
#include "segmented_downloader.h"

namespace lirevo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::RangeServer;
using test::ServerFaults;

constexpr int kMiB = 1048576;
constexpr auto kEndTimeout = 30s;

std::string sampleBytes(std::size_t size, unsigned seed = 7) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  return bytes;
}

std::optional<std::string> readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Says where a file differs instead of printing megabytes.
::testing::AssertionResult holds(const fs::path& path, const std::string& expected) {
  const auto bytes = readFile(path);
  if (!bytes) return ::testing::AssertionFailure() << path << " is missing";
  if (*bytes == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < bytes->size() && at < expected.size() && (*bytes)[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << path << " has " << bytes->size() << " bytes, expected "
                                       << expected.size() << ", first difference at " << at;
}

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "lirevo-download-XXXXXX").string();
    m_path = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
  }
  const fs::path& path() const { return m_path; }
  // A save path as the program holds it: GBK text.
  std::string savePath(const std::string& utf8Name) const { return utf8ToGbk((m_path / utf8Name).string()); }

 private:
  fs::path m_path;
};

struct Report {
  int task, kind, total, done;
};

// Collects the reports of downloads; outlives them, since their routines
// share it.
class ReportLog {
 public:
  ReportLog() : m_state(std::make_shared<State>()) {}

  // `hook` runs inside the routine, on the download's thread, under its lock.
  ProgressRoutine routine(std::function<void(const Report&)> hook = {}) {
    return [state = m_state, hook](int task, int kind, int total, int done) {
      const Report report{task, kind, total, done};
      {
        std::lock_guard guard(state->mutex);
        state->reports.push_back(report);
      }
      state->changed.notify_all();
      if (hook) hook(report);
    };
  }

  std::vector<Report> reports() const {
    std::lock_guard guard(m_state->mutex);
    return m_state->reports;
  }

  std::vector<Report> ends() const {
    std::vector<Report> ends;
    for (const Report& report : reports()) {
      if (report.kind != kReportProgress) ends.push_back(report);
    }
    return ends;
  }

  bool waitForEnds(std::size_t count) const {
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, kEndTimeout, [&] {
      return static_cast<std::size_t>(
                 std::count_if(m_state->reports.begin(), m_state->reports.end(),
                               [](const Report& r) { return r.kind != kReportProgress; })) >= count;
    });
  }

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Report> reports;
  };
  std::shared_ptr<State> m_state;
};

// ---------------------------------------------------------------- block plan

TEST(BlockPlan, BlocksAndRangeLines) {
  struct Case {
    const char* name;
    std::int64_t total;
    std::vector<std::string> lines;
    std::vector<std::int64_t> lengths;
  } cases[] = {
      {"two and a half blocks",
       2621440,
       {"\r\nRange:bytes=0-1048575", "\r\nRange:bytes=1048576-2097151", "\r\nRange:bytes=2097152-2621440"},
       {kMiB, kMiB, 524288}},
      {"exactly one block ends at the size", 1048576, {"\r\nRange:bytes=0-1048576"}, {kMiB}},
      {"one byte", 1, {"\r\nRange:bytes=0-1"}, {1}},
      {"one byte past a block",
       1048577,
       {"\r\nRange:bytes=0-1048575", "\r\nRange:bytes=1048576-1048577"},
       {kMiB, 1}},
      {"exactly two blocks",
       2097152,
       {"\r\nRange:bytes=0-1048575", "\r\nRange:bytes=1048576-2097152"},
       {kMiB, kMiB}},
  };
  for (const Case& c : cases) {
    const int count = blockCountFor(c.total);
    ASSERT_EQ(count, static_cast<int>(c.lines.size())) << c.name;
    std::int64_t covered = 0;
    for (int block = 1; block <= count; ++block) {
      const BlockSpan span = blockSpan(block, count, c.total);
      EXPECT_EQ(rangeLine(span), c.lines[block - 1]) << c.name << " block " << block;
      EXPECT_EQ(span.lengthBytes, c.lengths[block - 1]) << c.name << " block " << block;
      EXPECT_EQ(span.firstOffset, covered) << c.name << " block " << block;
      covered += span.lengthBytes;
    }
    EXPECT_EQ(covered, c.total) << c.name;
  }
  EXPECT_EQ(blockCountFor(0), 0);
}

TEST(BlockPlan, WorkerLimit) {
  struct Case {
    const char* name;
    int threads, blocks, limit;
  } cases[] = {
      {"as asked", 3, 10, 3},
      {"lowered to the block count", 8, 1, 1},
      {"three blocks", 3, 3, 3},
      {"zero threads count as one", 0, 5, 1},
      {"negative counts as one", -4, 5, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(workerLimitFor(c.threads, c.blocks), c.limit) << c.name;
}

TEST(BlockPlan, AcceptedAnswers) {
  const std::int64_t total = 2621440;
  const BlockSpan first = blockSpan(1, 3, total), second = blockSpan(2, 3, total);
  const BlockSpan whole = blockSpan(1, 1, kMiB);
  struct Case {
    const char* name;
    long status;
    std::string contentRange;
    BlockSpan span;
    std::int64_t total;
    bool accepted;
  } cases[] = {
      {"206 for the block", 206, "bytes 1048576-2097151/2621440", second, total, true},
      {"206 without Content-Range", 206, "", second, total, true},
      {"206 for another start", 206, "bytes 0-1048575/2621440", second, total, false},
      {"206 of another total", 206, "bytes 1048576-2097151/9999999", second, total, false},
      {"206 of unknown total", 206, "bytes 1048576-2097151/*", second, total, true},
      {"206 with a garbled range", 206, "bytes x-y/z", second, total, false},
      {"200 for a later block", 200, "", second, total, false},
      {"200 for the first of several blocks", 200, "", first, total, false},
      {"200 for a one-block file", 200, "", whole, kMiB, true},
      {"404", 404, "", first, total, false},
      {"416", 416, "bytes */2621440", first, total, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(acceptsBlockAnswer(c.status, c.contentRange, c.span, c.total), c.accepted) << c.name;
  }
}

TEST(SavePath, LastPathComponent) {
  struct Case {
    const char* name;
    std::string text, component;
  } cases[] = {
      {"url with query", "http://h/tool/ffmpeg.exe?x=1/2", "ffmpeg.exe"},
      {"backslashes", "c:\\dir\\name.bin", "name.bin"},
      {"mixed", "a\\b/c\\d.txt", "d.txt"},
      {"no separator", "name.bin", "name.bin"},
      {"ends in separator", "http://h/dir/", ""},
      {"query only after the name", "file?a?b", "file"},
      {"slashes in the query", "http://h/a/setup.exe?next=/b/c", "setup.exe"},
      {"GBK name", "http://h/" + "下载.bin"_gbk, "下载.bin"_gbk},
  };
  for (const Case& c : cases) EXPECT_EQ(lastPathComponent(c.text), c.component) << c.name;
}

TEST(SavePath, FileExtension) {
  struct Case {
    const char* name;
    std::string path;
    bool extension;
  } cases[] = {
      {"plain", "/tmp/a.exe", true},
      {"folder", "/tmp/dl", false},
      {"dot in a folder only", "/tmp/x.d/dl", false},
      {"blank after the dot", "/tmp/a.b c", false},
      {"trailing separator", "/tmp/dl/", false},
      {"hidden file", "/tmp/.profile", true},
  };
  for (const Case& c : cases) EXPECT_EQ(hasFileExtension(c.path), c.extension) << c.name;
}

TEST(MappedFile, WindowsWriteInPlaceAndRefuseWhatLiesOutside) {
  TempDir dir;
  const std::string path = (dir.path() / "m.part").string();
  EXPECT_FALSE(MappedFile::create(path, 0)) << "no file of size 0";
  EXPECT_FALSE(fs::exists(path));
  writeFile(path, std::string(500000, 'o'));
  auto file = MappedFile::create(path, 300000);
  ASSERT_TRUE(file);
  EXPECT_EQ(fs::file_size(path), 300000u) << "an existing file is emptied and sized at once";
  struct Case {
    const char* name;
    std::int64_t offset, length;
    bool maps;
  } windows[] = {
      {"whole file", 0, 300000, true},    {"unaligned start", 70000, 1000, true},
      {"up to the end", 299999, 1, true}, {"past the end", 299999, 2, false},
      {"negative offset", -1, 10, false}, {"empty", 10, 0, false},
  };
  for (const Case& c : windows) EXPECT_EQ(file->mapWindow(c.offset, c.length).has_value(), c.maps) << c.name;
  {
    auto window = file->mapWindow(70000, 1000);
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->write(70000, "abc", 3));
    EXPECT_TRUE(window->write(70997, "xyz", 3));
    EXPECT_FALSE(window->write(70998, "xyz", 3)) << "past the window";
    EXPECT_FALSE(window->write(69999, "x", 1)) << "before the window";
  }
  {
    // Windows are mapped at aligned addresses out of a larger reservation;
    // none of it may stay behind, also where the file ends inside a page.
    const auto mappedPages = [] {
      std::ifstream statm("/proc/self/statm");
      long pages = 0;
      statm >> pages;
      return pages;
    };
    const long before = mappedPages();
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(file->mapWindow(299000, 1000));
    // 100 leaks of the reservation would be some 200 MiB; allow for the
    // test's own threads coming and going.
    EXPECT_LT(mappedPages() - before, 4096) << "address space left mapped after the windows went";
  }
  EXPECT_TRUE(file->flush());
  file->close();
  const auto bytes = readFile(path);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 300000u);
  EXPECT_EQ(bytes->substr(70000, 3), "abc");
  EXPECT_EQ(bytes->substr(70997, 3), "xyz");
  EXPECT_EQ(bytes->substr(0, 3), std::string(3, '\0')) << "unwritten bytes are zero";
}

TEST(MappedFile, NeighbourWindowsInOneHugeStretchKeepToTheirOwnBytes) {
  TempDir dir;
  const std::string path = (dir.path() / "h.part").string();
  const std::int64_t size = kHugeWindowBytes + 1048576 + 12345;  // the last stretch is short
  auto file = MappedFile::create(path, size);
  ASSERT_TRUE(file);
  struct Case {
    const char* name;
    std::int64_t offset, length;
    char fill;
  } blocks[] = {
      {"first half of a huge stretch", 0, 1048576, 'a'},
      {"second half of the same stretch", 1048576, 1048576, 'b'},
      {"short last stretch", kHugeWindowBytes, size - kHugeWindowBytes, 'c'},
  };
  {
    // All mapped at once, as by three workers.
    std::vector<MappedFile::Window> windows;
    for (const Case& c : blocks) {
      auto window = file->mapWindow(c.offset, c.length);
      ASSERT_TRUE(window) << c.name;
      windows.push_back(std::move(*window));
    }
    for (std::size_t i = 0; i < windows.size(); ++i) {
      const Case& c = blocks[i];
      const std::string bytes(static_cast<std::size_t>(c.length), c.fill);
      EXPECT_FALSE(windows[i].write(c.offset - 1, bytes.data(), 1) ||
                   windows[i].write(c.offset + c.length, "x", 1))
          << c.name << ": the mapping is wider than the stretch, the writes are not";
      EXPECT_TRUE(windows[i].write(c.offset, bytes.data(), bytes.size())) << c.name;
    }
  }
  file->startWriteback(0, kHugeWindowBytes);
  EXPECT_TRUE(file->flush());
  file->close();
  const auto bytes = readFile(path);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), static_cast<std::size_t>(size));
  for (const Case& c : blocks) {
    EXPECT_EQ(bytes->substr(static_cast<std::size_t>(c.offset), static_cast<std::size_t>(c.length)),
              std::string(static_cast<std::size_t>(c.length), c.fill))
        << c.name;
  }
}

// ---------------------------------------------------------------- downloads

class Download : public ::testing::Test {
 protected:
  RangeServer server;
  TempDir dir;
  ReportLog log;
  SegmentedDownloader downloader;

  // Starts, waits for the end report and gives it.
  Report fetch(const std::string& path, std::string& savePath, int threads) {
    const int task = downloader.start(server.url(path), savePath, threads, log.routine());
    EXPECT_GT(task, 0);
    EXPECT_TRUE(log.waitForEnds(1));
    const auto ends = log.ends();
    return ends.empty() ? Report{task, 99, 0, 0} : ends.front();
  }
};

TEST_F(Download, ThreeBlocksWithTheirRangeLinesAndHeaders) {
  const std::string body = sampleBytes(2621440);
  server.addFile("/f.bin", body);
  for (const int threads : {3, 1}) {
    RangeServer one;
    one.addFile("/f.bin", body);
    one.setFaults(ServerFaults{.bytesPerSecond = 8 * kMiB});
    ReportLog runLog;
    std::string savePath = dir.savePath("three-" + std::to_string(threads) + ".bin");
    const std::string asked = savePath;
    const int task = downloader.start(one.url("/f.bin"), savePath, threads, runLog.routine());
    ASSERT_GT(task, 0) << threads;
    EXPECT_EQ(savePath, asked) << "a path with an extension stays as it is";
    ASSERT_TRUE(runLog.waitForEnds(1)) << threads;
    const Report end = runLog.ends().front();
    EXPECT_EQ(end.task, task);
    EXPECT_EQ(end.kind, kReportFinished);
    EXPECT_EQ(end.total, 2621440);
    EXPECT_EQ(end.done, 2621440);
    EXPECT_TRUE(holds(gbkToUtf8(savePath), body)) << threads;
    EXPECT_FALSE(fs::exists(gbkToUtf8(savePath) + ".part"));

    std::vector<std::string> lines = one.rangeLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"Range:bytes=0-1048575", "Range:bytes=1048576-2097151",
                                               "Range:bytes=2097152-2621440"}))
        << threads;
    EXPECT_LE(one.mostRangedAtOnce(), threads);
    if (threads == 1) {
      EXPECT_EQ(one.mostRangedAtOnce(), 1);
    }

    // Every request carries the fixed header block byte for byte; only the
    // host line is added by the transport.
    const auto requests = one.requests();
    ASSERT_EQ(requests.size(), 4u);
    for (const auto& request : requests) {
      std::vector<std::string> expected = {
          "Accept: */*", "Accept-Language: zh-cn", "Accept-Encoding: gzip, deflate",
          std::string(downloadHeaders().substr(downloadHeaders().find("User-Agent")))};
      std::vector<std::string> got;
      for (const auto& line : request.headerLines) {
        if (line.rfind("Host:", 0) != 0 && line.rfind("Range:", 0) != 0) got.push_back(line);
      }
      EXPECT_EQ(request.method, "GET");
      EXPECT_EQ(got, expected);
    }

    // Progress after every chunk, each no larger than a read, counting up.
    int previous = 0;
    for (const Report& report : runLog.reports()) {
      if (report.kind != kReportProgress) continue;
      EXPECT_EQ(report.task, task);
      EXPECT_EQ(report.total, 2621440);
      EXPECT_GT(report.done, previous);
      EXPECT_LE(report.done - previous, 20480);
      previous = report.done;
    }
    EXPECT_EQ(previous, 2621440);
  }
}

TEST_F(Download, OneBlockFileTakesOneWorkerWhateverIsAsked) {
  const std::string body = sampleBytes(kMiB);
  server.addFile("/one.bin", body);
  std::string savePath = dir.savePath("one.bin");
  const Report end = fetch("/one.bin", savePath, 8);
  EXPECT_EQ(end.kind, kReportFinished);
  EXPECT_EQ(server.rangeLines(), (std::vector<std::string>{"Range:bytes=0-1048576"}));
  EXPECT_TRUE(holds(gbkToUtf8(savePath), body));
}

TEST_F(Download, ThreadCountBelowOneStillDownloads) {
  const std::string body = sampleBytes(kMiB + 1000);
  server.addFile("/z.bin", body);
  std::string savePath = dir.savePath("z.bin");
  EXPECT_EQ(fetch("/z.bin", savePath, 0).kind, kReportFinished);
  EXPECT_EQ(server.mostRangedAtOnce(), 1);
  EXPECT_TRUE(holds(gbkToUtf8(savePath), body));
}

TEST_F(Download, NumbersRunAcrossObjectsAndFailedStarts) {
  server.addFile("/a.bin", sampleBytes(1000, 1));
  SegmentedDownloader other;
  std::string pathA = dir.savePath("a1.bin"), pathB = dir.savePath("a2.bin"), pathC = dir.savePath("a3.bin");
  std::string missing = dir.savePath("missing.bin");
  const int first = downloader.start(server.url("/a.bin"), pathA, 3, log.routine());
  const int second = other.start(server.url("/a.bin"), pathB, 3, log.routine());
  const int failed = other.start(server.url("/missing.bin"), missing, 3, log.routine());
  const int fourth = downloader.start(server.url("/a.bin"), pathC, 3, log.routine());
  ASSERT_GT(first, 0);
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(failed, -1);
  EXPECT_EQ(fourth, first + 3) << "the failed start took a number";
  ASSERT_TRUE(log.waitForEnds(3));
  std::vector<int> finished;
  for (const Report& end : log.ends()) {
    EXPECT_EQ(end.kind, kReportFinished);
    finished.push_back(end.task);
  }
  std::sort(finished.begin(), finished.end());
  EXPECT_EQ(finished, (std::vector<int>{first, second, fourth}));
  EXPECT_FALSE(fs::exists(gbkToUtf8(missing)));
}

// A pause ends every worker's reading after the chunk in progress (a worker
// that had just been started may still get its first one) and hands out no
// further block; no timing is assumed beyond a pause long enough for a
// running worker to have gone on many chunks.
TEST_F(Download, PauseThenResumeGivesTheSameFile) {
  const std::string body = sampleBytes(3 * kMiB + 4096);
  server.addFile("/p.bin", body);
  server.setFaults(ServerFaults{.bytesPerSecond = 2 * kMiB});
  std::string savePath = dir.savePath("p.bin");
  std::atomic<bool> paused{false};
  std::atomic<int> reportsWhilePaused{0};
  std::atomic<std::size_t> requestsAtPause{0};
  // The routine pauses its own download from inside a report, under the
  // task's lock.
  const int task = downloader.start(server.url("/p.bin"), savePath, 3, log.routine([&](const Report& r) {
    if (paused) ++reportsWhilePaused;
    if (!paused && r.kind == kReportProgress && r.done >= 2 * kMiB) {
      requestsAtPause = server.rangeLines().size();
      paused = true;
      downloader.pauseTask(r.task);
    }
  }));
  ASSERT_GT(task, 0);
  ASSERT_TRUE(waitUntil([&] { return paused.load(); }, 20s));
  std::this_thread::sleep_for(1000ms);
  EXPECT_LE(reportsWhilePaused.load(), 3) << "each running worker ends at most its current chunk";
  EXPECT_LE(server.rangeLines().size(), requestsAtPause + 1) << "no block handed out while paused";
  EXPECT_TRUE(log.ends().empty());
  downloader.resumeTask(task);
  ASSERT_TRUE(log.waitForEnds(1));
  EXPECT_EQ(log.ends().front().kind, kReportFinished);
  EXPECT_TRUE(holds(gbkToUtf8(savePath), body));
}

TEST_F(Download, PauseAllAndResumeAllReachEveryDownload) {
  const std::string body = sampleBytes(2 * kMiB + 10, 3);
  server.addFile("/m.bin", body);
  server.setFaults(ServerFaults{.bytesPerSecond = 2 * kMiB});
  std::string first = dir.savePath("m1.bin"), second = dir.savePath("m2.bin");
  const int taskA = downloader.start(server.url("/m.bin"), first, 3, log.routine());
  const int taskB = downloader.start(server.url("/m.bin"), second, 3, log.routine());
  ASSERT_GT(taskA, 0);
  ASSERT_GT(taskB, 0);
  ASSERT_TRUE(waitUntil([&] { return log.reports().size() > 20; }, 20s));
  downloader.pauseAll();
  const std::size_t reportsAtPause = log.reports().size();
  std::this_thread::sleep_for(1000ms);
  const auto reports = log.reports();
  for (const int task : {taskA, taskB}) {
    const auto after = std::count_if(reports.begin() + static_cast<std::ptrdiff_t>(reportsAtPause),
                                     reports.end(), [&](const Report& r) { return r.task == task; });
    EXPECT_LE(after, 3) << "task " << task << ": each running worker ends at most its current chunk";
  }
  downloader.resumeAll();
  ASSERT_TRUE(log.waitForEnds(2));
  for (const Report& end : log.ends()) EXPECT_EQ(end.kind, kReportFinished);
  EXPECT_TRUE(holds(gbkToUtf8(first), body));
  EXPECT_TRUE(holds(gbkToUtf8(second), body));
}

TEST_F(Download, StopLeavesNoFileAndMakesNoEndReport) {
  const std::string body = sampleBytes(3 * kMiB, 5);
  server.addFile("/s.bin", body);
  server.setFaults(ServerFaults{.bytesPerSecond = kMiB});
  struct Case {
    const char* name;
    bool all;
  } cases[] = {{"stopTask from the routine", false}, {"stopAll from outside", true}};
  for (const Case& c : cases) {
    ReportLog runLog;
    std::string savePath = dir.savePath(std::string("s-") + (c.all ? "all" : "one") + ".bin");
    const std::string partPath = gbkToUtf8(savePath) + ".part";
    std::atomic<bool> stopped{false};
    const int task = downloader.start(server.url("/s.bin"), savePath, 3, runLog.routine([&](const Report& r) {
      if (!c.all && !stopped && r.done > 100000) {
        stopped = true;
        downloader.stopTask(r.task);
      }
    }));
    ASSERT_GT(task, 0) << c.name;
    EXPECT_TRUE(fs::exists(partPath)) << c.name;
    if (c.all) {
      ASSERT_TRUE(waitUntil([&] { return runLog.reports().size() > 5; }, 20s)) << c.name;
      downloader.stopAll();
    }
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(partPath); }, 20s)) << c.name;
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(runLog.ends().empty()) << c.name;
    EXPECT_FALSE(fs::exists(gbkToUtf8(savePath))) << c.name;
    int mostDone = 0;
    for (const Report& r : runLog.reports()) mostDone = std::max(mostDone, r.done);
    EXPECT_LT(mostDone, 2 * kMiB) << c.name << ": the workers ended after their current chunk";
  }
}

TEST_F(Download, StopThenResumeNeverReportsAnIncompleteFileFinished) {
  const std::string body = sampleBytes(3 * kMiB, 9);
  server.addFile("/r.bin", body);
  server.setFaults(ServerFaults{.bytesPerSecond = 4 * kMiB});
  for (int round = 0; round < 3; ++round) {
    ReportLog runLog;
    std::string savePath = dir.savePath(std::to_string(round) + "-r.bin");
    const int task = downloader.start(server.url("/r.bin"), savePath, 3, runLog.routine());
    ASSERT_GT(task, 0);
    while (runLog.ends().empty()) {
      downloader.stopThenResumeTask(task);
      std::this_thread::sleep_for(1ms);
    }
    const Report end = runLog.ends().front();
    if (end.kind == kReportFinished) {
      EXPECT_TRUE(holds(gbkToUtf8(savePath), body)) << round;
    } else {
      EXPECT_EQ(end.kind, kReportFailed) << round;
      EXPECT_FALSE(fs::exists(gbkToUtf8(savePath))) << round;
    }
    EXPECT_EQ(runLog.ends().size(), 1u);
  }
}

TEST_F(Download, FaultsReportFailedAndLeaveNoFile) {
  const std::string body = sampleBytes(2621440, 11);
  struct Case {
    const char* name;
    ServerFaults faults;
  } cases[] = {
      {"range ignored", ServerFaults{.ignoreRange = true}},
      {"connection cut in the middle of a block", ServerFaults{.cutRangesAfterBytes = 300000}},
      {"404 for the blocks", ServerFaults{.notFoundForRanges = true}},
      {"connection cut before the first byte", ServerFaults{.cutRangesAfterBytes = 0}},
  };
  for (const Case& c : cases) {
    RangeServer faulty;
    faulty.addFile("/x.bin", body);
    faulty.setFaults(c.faults);
    ReportLog runLog;
    std::string savePath = dir.savePath("fault.bin");
    const int task = downloader.start(faulty.url("/x.bin"), savePath, 3, runLog.routine());
    ASSERT_GT(task, 0) << c.name;
    ASSERT_TRUE(runLog.waitForEnds(1)) << c.name;
    std::this_thread::sleep_for(100ms);
    const auto ends = runLog.ends();
    ASSERT_EQ(ends.size(), 1u) << c.name;
    EXPECT_EQ(ends[0].task, task) << c.name;
    EXPECT_EQ(ends[0].kind, kReportFailed) << c.name;
    EXPECT_EQ(ends[0].total, 0) << c.name;
    EXPECT_EQ(ends[0].done, 0) << c.name;
    EXPECT_FALSE(fs::exists(gbkToUtf8(savePath))) << c.name;
    EXPECT_FALSE(fs::exists(gbkToUtf8(savePath) + ".part")) << c.name;
  }
}

TEST_F(Download, StartFailuresGiveMinusOneAndNoFile) {
  const std::string body = sampleBytes(50000, 13);
  struct Case {
    const char* name;
    std::string path;
    ServerFaults faults;
  } cases[] = {
      {"no Content-Length", "/x.bin", ServerFaults{.dropContentLength = true}},
      {"404 for the probe", "/nothing.bin", ServerFaults{}},
      {"empty file", "/x.bin", ServerFaults{.claimedLength = 0}},
      {"2 GiB", "/x.bin", ServerFaults{.claimedLength = 2147483648LL}},
  };
  for (const Case& c : cases) {
    RangeServer faulty;
    faulty.addFile("/x.bin", body);
    faulty.setFaults(c.faults);
    ReportLog runLog;
    std::string savePath = dir.savePath("start.bin");
    EXPECT_EQ(downloader.start(faulty.url(c.path), savePath, 3, runLog.routine()), -1) << c.name;
    EXPECT_TRUE(faulty.rangeLines().empty()) << c.name;
    EXPECT_TRUE(runLog.reports().empty()) << c.name;
    EXPECT_FALSE(fs::exists(gbkToUtf8(savePath))) << c.name;
    EXPECT_FALSE(fs::exists(gbkToUtf8(savePath) + ".part")) << c.name;
  }
  std::string unwritable = utf8ToGbk((dir.path() / "no-such-folder" / "f.bin").string());
  server.addFile("/x.bin", body);
  EXPECT_EQ(downloader.start(server.url("/x.bin"), unwritable, 3, log.routine()), -1);
}

TEST_F(Download, AnEarlierFileStaysUntilTheNewOneIsWhole) {
  const std::string body = sampleBytes(2 * kMiB, 17);
  const std::string earlier(3 * kMiB, 'e');
  server.addFile("/e.bin", body);
  std::string savePath = dir.savePath("e.bin");
  writeFile(gbkToUtf8(savePath), earlier);

  server.setFaults(ServerFaults{.cutRangesAfterBytes = 500000});
  EXPECT_EQ(fetch("/e.bin", savePath, 3).kind, kReportFailed);
  EXPECT_TRUE(holds(gbkToUtf8(savePath), earlier)) << "a failed download leaves the save path alone";

  server.setFaults(ServerFaults{});
  ReportLog again;
  ASSERT_GT(downloader.start(server.url("/e.bin"), savePath, 3, again.routine()), 0);
  ASSERT_TRUE(again.waitForEnds(1));
  EXPECT_EQ(again.ends().front().kind, kReportFinished);
  EXPECT_TRUE(holds(gbkToUtf8(savePath), body)) << "a whole download replaces the earlier file";
}

TEST_F(Download, FolderSavePathTakesTheServersName) {
  const std::string body = sampleBytes(70000, 19);
  server.addFile("/files/data.bin", body);
  server.addFile("/files/located.bin", body, "/elsewhere/named.bin");
  fs::create_directory(dir.path() / "下载");
  const std::string folder = utf8ToGbk((dir.path() / "下载").string());
  struct Case {
    const char* name;
    std::string savePath;
    std::string urlPath;
    std::string fileName;
  } cases[] = {
      {"no final separator, name from the URL", folder, "/files/data.bin?token=1/2", "data.bin"},
      {"final separator, name from the URL", folder + "/", "/files/data.bin?token=3", "data.bin"},
      {"no final separator, Content-Location", folder, "/files/located.bin?x=1", "named.bin"},
      {"final separator, Content-Location", folder + "/", "/files/located.bin", "named.bin"},
  };
  for (const Case& c : cases) {
    ReportLog runLog;
    std::string savePath = c.savePath;
    const int task = downloader.start(server.url(c.urlPath), savePath, 3, runLog.routine());
    ASSERT_GT(task, 0) << c.name;
    EXPECT_EQ(savePath, folder + "/" + c.fileName) << c.name;
    ASSERT_TRUE(runLog.waitForEnds(1)) << c.name;
    EXPECT_EQ(runLog.ends().front().kind, kReportFinished) << c.name;
    EXPECT_TRUE(holds(dir.path() / "下载" / c.fileName, body)) << c.name;
    fs::remove(dir.path() / "下载" / c.fileName);
  }
  // The name request goes without redirects and with its own agent.
  bool sawNameRequest = false;
  for (const auto& request : server.requests()) {
    for (const auto& line : request.headerLines) {
      if (line.rfind("User-Agent: " + "我的下载"_gbk, 0) == 0) sawNameRequest = true;
    }
  }
  EXPECT_TRUE(sawNameRequest);
}

TEST_F(Download, ControlOperationsPassOverUnknownNumbers) {
  for (const int number : {-1, 0, 1, 1000000}) {
    downloader.pauseTask(number);
    downloader.resumeTask(number);
    downloader.stopThenResumeTask(number);
  }
  downloader.stopThenResumeAll();
  downloader.resumeAll();
  SUCCEED();
}

// ---------------------------------------------------------------- faults

// The bytes gzip-coded, as a server that keeps its files compressed sends them.
std::string gzipped(const std::string& bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string coded(deflateBound(&stream, bytes.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(coded.data());
  stream.avail_out = static_cast<uInt>(coded.size());
  const int result = deflate(&stream, Z_FINISH);
  coded.resize(stream.total_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END ? coded : std::string();
}

// The component check fetches the recorder to "<program directory>/ffm.exe":
// whatever the server does, that path holds the whole program or nothing.
TEST(FaultDownload, AComponentServerThatMisbehavesNeverLeavesABrokenRecorder) {
  // Compressible, as programs are, so that the coded file is much shorter.
  std::string program = sampleBytes(1 * kMiB, 21);
  program += std::string(2 * kMiB, 'P');
  const std::string coded = gzipped(program);
  ASSERT_FALSE(coded.empty());
  const auto size = static_cast<std::int64_t>(program.size());
  struct Case {
    const char* name;
    std::string servedBytes;
    ServerFaults faults;
  } cases[] = {
      {"connections reset in the middle of a block", program,
       ServerFaults{.cutRangesAfterBytes = 200000, .resetWhenCut = true}},
      {"connections reset before the first byte", program,
       ServerFaults{.cutRangesAfterBytes = 0, .resetWhenCut = true}},
      {"a length larger than the file", program, ServerFaults{.claimedLength = size + kMiB}},
      {"a length smaller than the file", program, ServerFaults{.claimedLength = size - kMiB}},
      {"block answers shorter than their Content-Length", program,
       ServerFaults{.cutRangesAfterBytes = 700000}},
      {"a gzip body for the whole file and its ranges", coded, ServerFaults{.contentEncoding = "gzip"}},
  };
  for (const Case& c : cases) {
    TempDir programDirectory;
    RangeServer server;
    server.addFile("/tool/ffmpeg.exe", c.servedBytes);
    server.setFaults(c.faults);
    ReportLog log;
    SegmentedDownloader downloader;
    std::string savePath = programDirectory.savePath("ffm.exe");
    const fs::path recorder = programDirectory.path() / "ffm.exe";
    const int task = downloader.start(server.url("/tool/ffmpeg.exe"), savePath, 3, log.routine());
    if (task > 0) {
      ASSERT_TRUE(log.waitForEnds(1)) << c.name;
      const std::vector<Report> ends = log.ends();
      ASSERT_EQ(ends.size(), 1u) << c.name;
      EXPECT_EQ(ends[0].kind, kReportFailed) << c.name;
      EXPECT_EQ(ends[0].total, 0) << c.name;
      EXPECT_EQ(ends[0].done, 0) << c.name;
    }
    // Every worker has ended with the end report; the file is in place (or
    // not) before the report is made.
    EXPECT_FALSE(fs::exists(recorder)) << c.name;
    EXPECT_FALSE(fs::exists(recorder.string() + ".part")) << c.name;
    for (const auto& entry : fs::directory_iterator(programDirectory.path()))
      ADD_FAILURE() << c.name << ": left behind " << entry.path();
  }

  // The same server, behaving, gives the whole program.
  TempDir programDirectory;
  RangeServer server;
  server.addFile("/tool/ffmpeg.exe", program);
  ReportLog log;
  SegmentedDownloader downloader;
  std::string savePath = programDirectory.savePath("ffm.exe");
  ASSERT_GT(downloader.start(server.url("/tool/ffmpeg.exe"), savePath, 3, log.routine()), 0);
  ASSERT_TRUE(log.waitForEnds(1));
  EXPECT_EQ(log.ends()[0].kind, kReportFinished);
  EXPECT_TRUE(holds(programDirectory.path() / "ffm.exe", program));
}

TEST(FaultDownload, OnlyAnswersWithoutACodingCarryTheFile) {
  struct Case {
    const char* name;
    std::string contentEncoding;
    bool plain;
  } cases[] = {
      {"no Content-Encoding", "", true},
      {"identity", "identity", true},
      {"Identity with blanks", " Identity ", true},
      {"gzip", "gzip", false},
      {"deflate", "deflate", false},
      {"two codings", "gzip, identity", false},
      {"br", "br", false},
  };
  for (const Case& c : cases) EXPECT_EQ(carriesPlainBytes(c.contentEncoding), c.plain) << c.name;
}

}  // namespace
}  // namespace lirevo
