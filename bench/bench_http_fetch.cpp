// SPDX-License-Identifier: MIT
// Fetches a 200 KiB page from a loopback server N times with httpFetch and,
// in the same run and interleaved with it, with the curl command-line tool
// and with a bare libcurl handle, and prints the medians side by side.
//
//   bench_http_fetch [N=50]
//
// The curl tool pays a process start per fetch, so the run also compares
// httpFetch called N times back to back with one curl process given all N
// URLs (one connection per fetch in both, as the server closes after every
// answer). The charset step that httpFetch runs on every page is timed on
// its own as well.

#include <curl/curl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http_fetch.h"
#include "loopback_http_server.h"
#include "response_decoding.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using lirevo::testing::LoopbackHttpServer;
using lirevo::testing::ReceivedRequest;
using lirevo::testing::Reply;

constexpr std::size_t kPageBytes = 200 * 1024;

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs the curl tool with these arguments and waits for it; false when it
// could not start or failed.
bool runCurl(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  std::string program = "curl";
  argv.push_back(program.data());
  std::vector<std::string> copies = arguments;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::size_t keepBytes(char* data, std::size_t size, std::size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

// The least a libcurl fetch that hands back the page can do: one fresh
// handle, the body kept in memory.
std::size_t bareLibcurlFetch(const std::string& url) {
  std::string body;
  CURL* handle = curl_easy_init();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_PROXY, "");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, keepBytes);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  curl_easy_perform(handle);
  curl_easy_cleanup(handle);
  return body.size();
}

// The call the program makes for a live room: the address, one user-agent
// line, the page text as the result.
double timedHttpFetch(const std::string& url) {
  const Clock::time_point start = Clock::now();
  const std::string text = lirevo::httpFetch(
      {.url = url, .extraHeaders = "user-agent: Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N)"});
  const double elapsed = microsecondsSince(start);
  if (text.size() != kPageBytes) std::fprintf(stderr, "short page\n");
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  std::string page;
  for (std::size_t i = 0; page.size() < kPageBytes; ++i) page += "<p>line " + std::to_string(i) + "</p>\n";
  page.resize(kPageBytes);
  const std::string response = lirevo::testing::httpResponse("200 OK", page, {"Content-Type: text/html"});
  LoopbackHttpServer server([&](const ReceivedRequest&) { return Reply{response}; });
  const std::string url = server.url("/page.html");

  curl_global_init(CURL_GLOBAL_DEFAULT);
  // Warm up every path once, and check that each really fetches the page.
  lirevo::ByteData body;
  lirevo::httpFetch({.url = url, .responseBody = &body});
  if (body != page || bareLibcurlFetch(url) != kPageBytes || !runCurl({"-s", "-o", "/dev/null", url})) {
    std::fprintf(stderr, "warm-up fetch failed\n");
    return 1;
  }

  std::vector<double> fetchTimes, curlTimes, bareTimes, decodeTimes;
  for (int round = 0; round < rounds; ++round) {
    fetchTimes.push_back(timedHttpFetch(url));

    Clock::time_point start = Clock::now();
    runCurl({"-s", "-o", "/dev/null", url});
    curlTimes.push_back(microsecondsSince(start));

    start = Clock::now();
    bareLibcurlFetch(url);
    bareTimes.push_back(microsecondsSince(start));

    // The charset step that httpFetch runs on every page, on its own.
    start = Clock::now();
    const std::string decoded = lirevo::decodeResponseText(page, page);
    decodeTimes.push_back(microsecondsSince(start));
    if (decoded.size() != kPageBytes) std::fprintf(stderr, "decoding changed the page\n");
  }

  // Back to back in one process, httpFetch and the curl tool with every URL
  // in one command line: the same fetches without curl's process start.
  std::vector<double> batchTimes;
  for (int round = 0; round < rounds; ++round) batchTimes.push_back(timedHttpFetch(url));
  double fetchBatchPerFetch = 0;
  for (double time : batchTimes) fetchBatchPerFetch += time / rounds;
  std::vector<std::string> manyUrls = {"-s"};
  for (int round = 0; round < rounds; ++round) {
    manyUrls.push_back("-o");
    manyUrls.push_back("/dev/null");
    manyUrls.push_back(url);
  }
  const Clock::time_point batchStart = Clock::now();
  runCurl(manyUrls);
  const double curlBatchPerFetch = microsecondsSince(batchStart) / rounds;

  const double fetchMedian = median(fetchTimes);
  std::printf("page %zu bytes, %d rounds, loopback, one connection per fetch\n\n", kPageBytes, rounds);
  std::printf("interleaved, median per fetch\n");
  std::printf("  %-44s %8.0f us\n", "httpFetch", fetchMedian);
  std::printf("  %-44s %8.0f us   httpFetch/this %.2f\n", "curl -s -o /dev/null (a process each)",
              median(curlTimes), fetchMedian / median(curlTimes));
  std::printf("  %-44s %8.0f us   httpFetch/this %.2f\n", "bare libcurl handle", median(bareTimes),
              fetchMedian / median(bareTimes));
  std::printf("  %-44s %8.0f us   (part of httpFetch)\n", "decodeResponseText alone", median(decodeTimes));
  std::printf("back to back, mean per fetch\n");
  std::printf("  %-44s %8.0f us\n", "curl, all URLs in one process", curlBatchPerFetch);
  std::printf("  %-44s %8.0f us   this/curl %.2f   (median %.0f us)\n", "httpFetch", fetchBatchPerFetch,
              fetchBatchPerFetch / curlBatchPerFetch, median(batchTimes));
  curl_global_cleanup();
  return 0;
}
