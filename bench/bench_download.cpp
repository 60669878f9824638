// SPDX-License-Identifier: MIT
// Fetches one 48 MiB file from a loopback server with Lirevo's downloader
// (3 threads), with curl (one connection) and with aria2c (-x3 -s3 -k1M),
// first with every connection paced smoothly to 4 MiB/s, then unpaced, and
// prints the times side by side. Lirevo's time runs to its finished report,
// which comes after its file is flushed to the disk and renamed into place;
// curl and aria2c do not flush, so each is also timed to the end of an
// fdatasync of its file made right after it exits. Run by hand:
//   bench_download [rounds] [paced|unpaced] [lirevo|curl|aria2c ...]
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "charset.h"
#include "range_server.h"
#include "segmented_downloader.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using lirevo::test::RangeServer;
using lirevo::test::ServerFaults;

constexpr std::size_t kFileBytes = 48u * 1048576u;
constexpr std::int64_t kPacedBytesPerSecond = 4 * 1048576;

struct Run {
  double seconds = -1;  // -1: the tool failed or gave a wrong file
  // Up to its file being on the disk, for a tool that does not flush it
  // itself (Lirevo does, before it reports the download finished).
  double flushedSeconds = -1;
};

bool flushFile(const fs::path& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool flushed = ::fdatasync(descriptor) == 0;
  ::close(descriptor);
  return flushed;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a program to its end and gives its exit status.
int runProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Run timeProgram(const std::vector<std::string>& arguments, const fs::path& output, const std::string& body) {
  fs::remove(output);
  const auto began = Clock::now();
  const int status = runProgram(arguments);
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  const bool flushed = status == 0 && flushFile(output);
  const double flushedSeconds = std::chrono::duration<double>(Clock::now() - began).count();
  if (!flushed || fileBytes(output) != body) return {};
  return {seconds, flushedSeconds};
}

Run timeLirevo(const std::string& url, const fs::path& output, const std::string& body) {
  fs::remove(output);
  std::mutex mutex;
  std::condition_variable ended;
  int endKind = 99;
  lirevo::SegmentedDownloader downloader;
  std::string savePath = lirevo::utf8ToGbk(output.string());
  const auto began = Clock::now();
  const int task = downloader.start(url, savePath, 3, [&](int, int kind, int, int) {
    if (kind == lirevo::kReportProgress) return;
    std::lock_guard guard(mutex);
    endKind = kind;
    ended.notify_all();
  });
  if (task < 0) return {};
  std::unique_lock lock(mutex);
  ended.wait(lock, [&] { return endKind != 99; });
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  lock.unlock();
  if (endKind != lirevo::kReportFinished || fileBytes(output) != body) return {};
  return {seconds};
}

double median(std::vector<double> values) {
  values.erase(std::remove(values.begin(), values.end(), -1.0), values.end());
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void printRow(const char* tool, double seconds, double lirevoSeconds) {
  if (seconds < 0) {
    std::printf("  %-22s failed\n", tool);
    return;
  }
  const double mibPerSecond = static_cast<double>(kFileBytes) / 1048576.0 / seconds;
  std::printf("  %-22s %8.3f s %9.1f MiB/s   lirevo time / this time: %5.2f\n", tool, seconds, mibPerSecond,
              lirevoSeconds / seconds);
}

struct Selection {
  bool paced = true, unpaced = true;
  bool lirevo = true, curl = true, aria2c = true;
};

void measure(const char* title, const Selection& tools, RangeServer& server, const std::string& body,
             const fs::path& dir, int rounds) {
  const std::string url = server.url("/tool/big.bin");
  std::vector<double> lirevo, curl, curlFlushed, aria2c, aria2cFlushed;
  for (int round = 0; round < rounds; ++round) {
    if (tools.lirevo) lirevo.push_back(timeLirevo(url, dir / "lirevo.bin", body).seconds);
    if (tools.curl) {
      const Run run =
          timeProgram({"curl", "-s", "-f", "-o", (dir / "curl.bin").string(), url}, dir / "curl.bin", body);
      curl.push_back(run.seconds);
      curlFlushed.push_back(run.flushedSeconds);
    }
    if (tools.aria2c) {
      const Run run =
          timeProgram({"aria2c", "-q", "--no-conf", "-x3", "-s3", "-k1M", "--allow-overwrite=true",
                       "--auto-file-renaming=false", "-d", dir.string(), "-o", "aria2c.bin", url},
                      dir / "aria2c.bin", body);
      aria2c.push_back(run.seconds);
      aria2cFlushed.push_back(run.flushedSeconds);
    }
  }
  const double lirevoMedian = median(lirevo);
  std::printf("%s (median of %d)\n", title, rounds);
  if (tools.lirevo) printRow("lirevo, 3 threads", lirevoMedian, lirevoMedian);
  if (tools.curl) {
    printRow("curl", median(curl), lirevoMedian);
    printRow("curl, then fdatasync", median(curlFlushed), lirevoMedian);
  }
  if (tools.aria2c) {
    printRow("aria2c -x3 -s3 -k1M", median(aria2c), lirevoMedian);
    printRow("aria2c, then fdatasync", median(aria2cFlushed), lirevoMedian);
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  Selection tools;
  bool toolNamed = false;
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "paced" || word == "unpaced") {
      tools.paced = word == "paced";
      tools.unpaced = word == "unpaced";
      continue;
    }
    if (!toolNamed) tools.lirevo = tools.curl = tools.aria2c = false;
    toolNamed = true;
    if (word == "lirevo") tools.lirevo = true;
    if (word == "curl") tools.curl = true;
    if (word == "aria2c") tools.aria2c = true;
  }
  std::string pattern = (fs::temp_directory_path() / "lirevo-bench-XXXXXX").string();
  const fs::path dir = ::mkdtemp(pattern.data());

  std::mt19937_64 random(42);
  std::string body(kFileBytes, '\0');
  for (std::size_t at = 0; at + 8 <= body.size(); at += 8) {
    const std::uint64_t word = random();
    std::memcpy(body.data() + at, &word, 8);
  }

  RangeServer server;
  server.addFile("/tool/big.bin", body);
  if (tools.paced) {
    server.setFaults(ServerFaults{.bytesPerSecond = kPacedBytesPerSecond});
    measure("48 MiB from 127.0.0.1, every connection paced to 4 MiB/s", tools, server, body, dir, rounds);
  }
  if (tools.unpaced) {
    server.setFaults(ServerFaults{});
    measure("48 MiB from 127.0.0.1, unpaced", tools, server, body, dir, std::max(rounds, 5));
  }

  fs::remove_all(dir);
  return 0;
}
