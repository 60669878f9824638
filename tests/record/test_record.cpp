// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <set>
#include <thread>

#include "charset.h"
#include "command_line_split.h"
#include "display_log.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "immutable_path.h"
#include "memory_window.h"
#include "page_server.h"
#include "player.h"
#include "process_output.h"
#include "process_runner.h"
#include "recorder_stop.h"
#include "recording_fixtures.h"
#include "recording_job.h"
#include "recording_name.h"

namespace lirevo {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::TempDirectory;
namespace fs = std::filesystem;

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    text.push_back(digits[static_cast<unsigned char>(c) >> 4]);
    text.push_back(digits[static_cast<unsigned char>(c) & 15]);
  }
  return text;
}

// Quotes one argument for the runner's command line (every test argument
// is free of quotes and backslashes).
std::string commandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  return line;
}

struct RunResult {
  std::vector<std::string> statuses;
  std::string outputLog;
  std::uint32_t processId = 0;
  int exitStatus = -2;
};

RunResult runChild(const std::vector<std::string>& steps) {
  RunResult result;
  runProcess(
      LIREVO_RUNNER_CHILD, commandLine(steps),
      [&result](const std::string& status) { result.statuses.push_back(status); }, &result.processId,
      &result.outputLog, &result.exitStatus);
  return result;
}

TEST(DisplayLog, EmptiedOnlyPastTheLimit) {
  struct Case {
    const char* name;
    std::size_t before;
    bool emptied;
  } cases[] = {{"exactly 2000 bytes stay", 2000, false}, {"2001 bytes are emptied", 2001, true}};
  for (const Case& c : cases) {
    MemoryWindow window;
    const std::string before(c.before, 'x');
    window.setText("编辑框_显示"_gbk, before);
    appendToDisplay(window, "new");
    EXPECT_EQ(window.text("编辑框_显示"_gbk), (c.emptied ? std::string() : before) + "new\r\n") << c.name;
  }
}

TEST(DisplayLog, EmptyTextAppendsALineBreakAndTwoThreadsNeverInterleave) {
  MemoryWindow window;
  appendToDisplay(window, "");
  EXPECT_EQ(window.text("编辑框_显示"_gbk), "\r\n");
  window.setText("编辑框_显示"_gbk, "");
  const std::string lineA(30, 'a'), lineB(30, 'b');
  auto writer = [&](const std::string& line) {
    for (int i = 0; i < 2000; ++i) appendToDisplay(window, line);
  };
  std::thread a(writer, lineA), b(writer, lineB);
  a.join();
  b.join();
  const std::string text = window.text("编辑框_显示"_gbk);
  EXPECT_LE(text.size(), kDisplayLimitBytes + 32);
  // Every line is whole: only complete "aaa...\r\n" or "bbb...\r\n" lines.
  for (std::size_t at = 0; at < text.size(); at += 32) {
    const std::string line = text.substr(at, 32);
    EXPECT_TRUE(line == lineA + "\r\n" || line == lineB + "\r\n") << at;
  }
}

TEST(CommandLineSplit, FollowsTheWindowsStartUpRules) {
  struct Case {
    const char* name;
    const char* line;
    std::vector<std::string> arguments;
  } cases[] = {
      {"empty", "", {}},
      {"blanks only", "  \t ", {}},
      {"blanks and tabs separate", " a  b\tc ", {"a", "b", "c"}},
      {"quotes group", R"(-i "x y" z)", {"-i", "x y", "z"}},
      {"quotes inside a word", R"(a"b c"d)", {"ab cd"}},
      {"empty quotes give an empty argument", R"(a "" b)", {"a", "", "b"}},
      {"escaped quote", R"(a\"b)", {"a\"b"}},
      {"two backslashes then a quote", R"("a\\" b)", {"a\\", "b"}},
      {"three backslashes then a quote", R"(a\\\"b)", {"a\\\"b"}},
      {"backslashes elsewhere are literal", R"(C:\dir\file a\\b)", {"C:\\dir\\file", "a\\\\b"}},
      {"doubled quote inside quotes", R"("a""b" c)", {"a\"b", "c"}},
      {"unclosed quote runs to the end", R"(a "b c)", {"a", "b c"}},
      {"the recorder's line",
       " -hide_banner -i \"http://pull-x.example/stage/s_hd.flv?a=1&b=2\" -c copy -f mpegts -y "
       "udp://127.0.0.1:1111 -c copy 1700000000123.mp4",
       {"-hide_banner", "-i", "http://pull-x.example/stage/s_hd.flv?a=1&b=2", "-c", "copy", "-f", "mpegts",
        "-y", "udp://127.0.0.1:1111", "-c", "copy", "1700000000123.mp4"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitCommandLine(c.line), c.arguments) << c.name;
}

TEST(ProcessOutput, RewritesLineEnds) {
  struct Case {
    const char* name;
    std::string in, out;
  } cases[] = {
      {"a lone line feed", "a\nb", "a\r\nb"},
      {"carriage return and line feed", "a\r\nb", "a\r\r\nb"},
      {"blank and line feed stay", "a \nb", "a \nb"},
      {"progress reports run on", "frame=1 \rframe=2 \r", "frame=1 frame=2 "},
      {"a carriage return after a letter stays", "a\rb", "a\rb"},
      {"two blanks keep both", "a  \rb", "a  b"},
      {"nothing to do", "plain", "plain"},
  };
  for (const Case& c : cases) EXPECT_EQ(rewriteLineEnds(c.in), c.out) << c.name;
}

TEST(ProcessOutput, TranslatesTheFirstMarkerOfTheTable) {
  struct Case {
    const char* name;
    std::string chunk;
    std::string status;
  } cases[] = {
      {"final statistics", "video:1kB muxing overhead: unknown", "任务完成"_gbk},
      {"statistics beat a failure", "Conversion failed! muxing overhead: 1%", "任务完成"_gbk},
      {"input/output error", "x: Input/output error", "输入/输出 错误"_gbk},
      {"conversion beats a missing file", "No such file or directory\r\nConversion failed!", "转换失败"_gbk},
      {"missing file", "a.flv: No such file or directory", "输入/输出 的 文件/路径 不存在"_gbk},
      {"other letter case is no marker", "MUXING OVERHEAD: 1% conversion FAILED",
       "MUXING OVERHEAD: 1% conversion FAILED"},
      {"no marker", "frame=  10 fps=0.0", "frame=  10 fps=0.0"},
  };
  for (const Case& c : cases) EXPECT_EQ(translateStatus(c.chunk), c.status) << c.name;
}

TEST(ProcessOutput, KeepsAUtf8CharacterCutByAReadWhole) {
  const std::string utf8 = gbkToUtf8("任务"_gbk);  // two characters of three bytes each
  ChildOutputDecoder decoder;
  EXPECT_EQ(decoder.decode(utf8.substr(0, 4)), "任"_gbk);
  EXPECT_EQ(decoder.decode(utf8.substr(4)), "务"_gbk);
  EXPECT_EQ(decoder.decode(std::string("ab\0cd", 5)), "ab");  // the text ends at a zero byte
  EXPECT_EQ(decoder.decode(utf8.substr(0, 1)), "");
  EXPECT_EQ(decoder.flush(), "?");  // a cut that never completes
}

TEST(ProcessRunner, MissingProgramIsReportedOnceAndNothingStarts) {
  TempDirectory directory;
  const std::string path = directory.path() + "/ffm.exe";
  RunResult result;
  runProcess(
      path, " -version", [&](const std::string& status) { result.statuses.push_back(status); },
      &result.processId, &result.outputLog, &result.exitStatus);
  ASSERT_EQ(result.statuses.size(), 1u);
  EXPECT_EQ(result.statuses[0], path + " 不存在"_gbk);
  EXPECT_EQ(result.outputLog, path + " 不存在"_gbk);
  EXPECT_EQ(result.processId, 0u);
  EXPECT_EQ(result.exitStatus, -1);
}

TEST(ProcessRunner, ChunksTranslationsAndLog) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    std::vector<std::string> statuses;
    std::string outputLog;
  } cases[] = {
      {"no output", {"exit", "0"}, {}, ""},
      {"a lone line feed", {"hex", hex("a\nb")}, {"a\r\nb"}, "a\r\nb\r\n"},
      {"carriage return and line feed", {"hex", hex("a\r\n")}, {"a\r\r\n"}, "a\r\r\n\r\n"},
      {"blank and line feed", {"hex", hex("a \n")}, {"a \n"}, "a \n\r\n"},
      {"progress reports joined",
       {"hex", hex("frame=1 \rframe=2 \r")},
       {"frame=1 frame=2 "},
       "frame=1 frame=2 \r\n"},
      {"statistics translated, log untranslated",
       {"hex", hex("video:1kB muxing overhead: unknown\n")},
       {"任务完成"_gbk},
       "video:1kB muxing overhead: unknown\r\n\r\n"},
      {"marker order",
       {"hex", hex("Conversion failed! No such file or directory")},
       {"转换失败"_gbk},
       "Conversion failed! No such file or directory\r\n"},
      {"standard error shares the pipe",
       {"err", hex("x: Input/output error")},
       {"输入/输出 错误"_gbk},
       "x: Input/output error\r\n"},
      {"a chunk that ends at a zero byte", {"hex", hex(std::string("ok\0hidden", 9))}, {"ok"}, "ok\r\n"},
      {"a chunk of only a zero byte is no chunk", {"hex", "00"}, {}, ""},
  };
  for (const Case& c : cases) {
    const RunResult result = runChild(c.steps);
    EXPECT_EQ(result.statuses, c.statuses) << c.name;
    EXPECT_EQ(result.outputLog, c.outputLog) << c.name;
    EXPECT_NE(result.processId, 0u) << c.name;
  }
}

TEST(ProcessRunner, LongOutputArrivesInChunksOfAtMost1023Bytes) {
  const RunResult result = runChild({"repeat", "2500", "z"});
  ASSERT_EQ(result.statuses.size(), 3u);
  EXPECT_EQ(result.statuses[0], std::string(1023, 'z'));
  EXPECT_EQ(result.statuses[1], std::string(1023, 'z'));
  EXPECT_EQ(result.statuses[2], std::string(454, 'z'));
  EXPECT_EQ(result.outputLog, std::string(1023, 'z') + "\r\n" + std::string(1023, 'z') + "\r\n" +
                                  std::string(454, 'z') + "\r\n");
}

TEST(ProcessRunner, EachChunkIsTranslatedOnItsOwn) {
  // The marker lies in the second read only.
  const RunResult result = runChild({"hex", hex(std::string(1023, 'a') + "muxing overhead: 1%")});
  ASSERT_EQ(result.statuses.size(), 2u);
  EXPECT_EQ(result.statuses[0], std::string(1023, 'a'));
  EXPECT_EQ(result.statuses[1], "任务完成"_gbk);
}

TEST(ProcessRunner, ReportsHowTheChildEnded) {
  struct Case {
    const char* name;
    std::vector<std::string> steps;
    int exitStatus;
  } cases[] = {
      {"success", {}, 0},
      {"failure code", {"exit", "3"}, 3},
      {"code 255 after output", {"hex", hex("bye"), "exit", "255"}, 255},
      {"killed", {"kill-self"}, 128 + SIGKILL},
  };
  for (const Case& c : cases) EXPECT_EQ(runChild(c.steps).exitStatus, c.exitStatus) << c.name;
}

TEST(ProcessRunner, StartsTheChildAsTheRecorderNeedsIt) {
  TempDirectory directory;
  const std::string link = directory.path() + "/child.exe";
  fs::create_symlink(LIREVO_RUNNER_CHILD, link);
  std::string log;
  runProcess(link, " args -i \"a b\" c  \"\" end", {}, nullptr, &log);
  EXPECT_EQ(log, "[-i]\r\n[a b]\r\n[c]\r\n[]\r\n[end]\r\n\r\n")
      << "arguments split like a Windows command line";
  runProcess(link, " cwd", {}, nullptr, &log);
  EXPECT_EQ(log, fs::canonical(directory.path()).string() + "\r\n\r\n") << "working directory";
  runProcess(link, " stdin group signals", {}, nullptr, &log);
  // Three writes: one chunk each or fewer, as the reads happen to fall.
  EXPECT_EQ(replaceAll(log, "\r\n", ""), "eofownint:default mask:none");
}

TEST(ProcessRunner, ChildStartsWithSignalsAtTheirDefaultsWhateverTheCallerBlocks) {
  // The terminal companion blocks SIGINT and ignores SIGPIPE for itself.
  std::string log;
  std::thread([&log] {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    runProcess(LIREVO_RUNNER_CHILD, " signals", {}, nullptr, &log);
  }).join();
  EXPECT_EQ(log, "int:default mask:none\r\n");
}

TEST(ProcessRunner, ReturnsWhenTheChildEndsEvenIfSomethingItStartedKeepsThePipe) {
  const auto started = std::chrono::steady_clock::now();
  const RunResult result = runChild({"orphan", "5000", "hex", hex("done")});
  EXPECT_EQ(result.statuses, std::vector<std::string>{"done"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
}

TEST(ProcessRunner, TellsTheProcessIdBeforeTheChildEnds) {
  std::atomic<std::uint32_t> seen{0};
  std::string log;
  std::thread runner([&] {
    runProcess(LIREVO_RUNNER_CHILD, " pid wait-int", {}, nullptr, &log, nullptr,
               [&seen](std::uint32_t pid) { seen = pid; });
  });
  ASSERT_TRUE(testing::waitUntil([&] { return seen != 0; }, 20s));
  // The child leads its own group, so this interrupt reaches it alone.
  std::this_thread::sleep_for(100ms);
  ::kill(static_cast<pid_t>(seen), SIGINT);
  runner.join();
  EXPECT_TRUE(containsText(log, std::to_string(seen.load()))) << log;
  EXPECT_TRUE(containsText(log, "interrupted")) << log;
}

// A child of this test started under another program name.
class NamedChild {
 public:
  NamedChild(const std::string& directory, const std::string& name) : m_path(directory + "/" + name) {
    fs::create_symlink(LIREVO_RUNNER_CHILD, m_path);
    m_process = std::make_unique<ChildProcess>(std::vector<std::string>{m_path, "sleep", "30000"});
  }
  pid_t pid() const { return m_process->pid(); }
  ChildProcess& process() { return *m_process; }

 private:
  std::string m_path;
  std::unique_ptr<ChildProcess> m_process;
};

TEST(RecorderStop, FindsAProcessByItsWholeNameWithoutRegardToCase) {
  TempDirectory directory;
  NamedChild upper(directory.path(), "LRVTEST.EXE");
  NamedChild longName(directory.path(), "lirevo-find-test-long.exe");
  ASSERT_TRUE(testing::waitUntil([&] { return findProcessIdByName("LRVTEST.EXE", true) != 0; }, 10s));
  ASSERT_TRUE(testing::waitUntil([&] { return findProcessIdByName("lirevo-find-test-long.exe") != 0; }, 10s));
  struct Case {
    const char* name;
    const char* wanted;
    bool caseSensitive;
    pid_t pid;
  } cases[] = {
      {"any letter case", "lrvtest.exe", false, upper.pid()},
      {"mixed case", "LrvTest.Exe", false, upper.pid()},
      {"exact case asked and given", "LRVTEST.EXE", true, upper.pid()},
      {"exact case asked, other case given", "lrvtest.exe", true, 0},
      {"a longer name is no match", "lrvtest.exe.bak", false, 0},
      {"a prefixed name is no match", "xlrvtest.exe", false, 0},
      {"part of the name is no match", "lrvtest", false, 0},
      {"names past the kernel's 15 bytes", "LIREVO-FIND-TEST-LONG.EXE", false, longName.pid()},
      {"a cut-down long name is no match", "lirevo-find-tes", false, 0},
      {"empty", "", false, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(findProcessIdByName(c.wanted, c.caseSensitive), static_cast<std::uint32_t>(c.pid)) << c.name;
}

TEST(RecorderStop, TerminatesTheFirstOfSeveralAndWaitsForTheEnd) {
  TempDirectory directory;
  NamedChild first(directory.path(), "lrvkill.exe");
  fs::remove(directory.path() + "/lrvkill.exe");
  NamedChild second(directory.path(), "lrvkill.exe");
  ASSERT_TRUE(testing::waitUntil(
      [&] {
        return findProcessIdByName("lrvkill.exe") != 0 &&
               findProcessIdByName("lrvkill.exe") ==
                   static_cast<std::uint32_t>(std::min(first.pid(), second.pid()));
      },
      10s));
  const pid_t earlier = std::min(first.pid(), second.pid());
  ChildProcess& earlierProcess = earlier == first.pid() ? first.process() : second.process();
  ChildProcess& laterProcess = earlier == first.pid() ? second.process() : first.process();
  EXPECT_FALSE(waitForProcessToEnd("lrvkill.exe", 100));

  EXPECT_TRUE(terminateProcessByName("LRVKILL.EXE"));
  EXPECT_EQ(earlierProcess.wait(10s), 128 + SIGKILL);
  EXPECT_TRUE(laterProcess.running());
  // A process that has ended but is not yet reaped no longer counts.
  EXPECT_EQ(findProcessIdByName("lrvkill.exe"), static_cast<std::uint32_t>(laterProcess.pid()));

  laterProcess.signal(SIGKILL);
  EXPECT_TRUE(waitForProcessToEnd("lrvkill.exe", 10000));
  EXPECT_FALSE(terminateProcessByName("lrvkill.exe"));
  EXPECT_EQ(findProcessIdByName("lrvkill.exe"), 0u);
}

TEST(RecordingName, ThirteenDigitsFromUnixTimeAndTheRealMillisecond) {
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  struct Case {
    const char* name;
    long long sinceEpochMs;
    const char* baseName;
  } cases[] = {
      {"one day", 86400000, "86400000"},
      {"September 2001", 1000000000000, "1000000000000"},
      {"with milliseconds", 1700000000123, "1700000000123"},
      {"milliseconds padded", 1700000000007, "1700000000007"},
      {"last millisecond of a second", 1700000000999, "1700000000999"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(makeTimestampName(system_clock::time_point(milliseconds(c.sinceEpochMs))), c.baseName)
        << c.name;
}

TEST(RecordingName, NeverReusesTheNameOfAnExistingFile) {
  TempDirectory directory;
  const auto start = std::chrono::system_clock::time_point(std::chrono::milliseconds(1700000000123));
  { std::ofstream(directory.path() + "/1700000000123.mp4") << "an earlier recording"; }
  EXPECT_EQ(reserveOutputName(directory.path(), start), "1700000000124");
  EXPECT_EQ(testing::readWholeFile(directory.path() + "/1700000000123.mp4"), "an earlier recording");

  // Jobs started at the very same moment on several threads.
  std::vector<std::future<std::string>> names;
  for (int i = 0; i < 8; ++i)
    names.push_back(
        std::async(std::launch::async, [&] { return reserveOutputName(directory.path(), start); }));
  std::set<std::string> distinct;
  for (auto& name : names) distinct.insert(name.get());
  EXPECT_EQ(distinct.size(), 8u);
  EXPECT_EQ(distinct.count("1700000000123"), 0u);
  EXPECT_EQ(distinct.count("1700000000124"), 0u);
  for (const std::string& name : distinct) EXPECT_EQ(name.size(), 13u) << name;

  releaseUnusedOutput(directory.path() + "/1700000000124.mp4");
  EXPECT_FALSE(fs::exists(directory.path() + "/1700000000124.mp4")) << "an empty reservation is removed";
  releaseUnusedOutput(directory.path() + "/1700000000123.mp4");
  EXPECT_TRUE(fs::exists(directory.path() + "/1700000000123.mp4")) << "a written file stays";
}

TEST(RecordingJob, CommandLineByteForByte) {
  EXPECT_EQ(buildRecorderCommandLine("http://pull-f5.example/stage/stream-1_hd.flv", "1700000000123"),
            " -hide_banner -i \"http://pull-f5.example/stage/stream-1_hd.flv\" -c copy -f mpegts -y "
            "udp://127.0.0.1:1111 -c copy 1700000000123.mp4");
}

// A stand-in player in the program directory that notes how it was started.
void addFakePlayer(const std::string& directory, const std::string& name, const std::string& notes) {
  const std::string path = directory + "/" + name;
  std::ofstream(path) << "#!/bin/sh\n"
                      << "echo \"$$ $(cut -d' ' -f6 /proc/$$/stat) $*\" >> '" << notes << "'\n"
                      << "sleep 20\n";
  fs::permissions(path, fs::perms::owner_all);
}

std::vector<std::string> noteLines(const std::string& notes) {
  std::vector<std::string> lines;
  std::istringstream text(testing::readWholeFile(notes));
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

TEST(Player, WritesTheScriptAndStartsThePlayerFromTheProgramDirectory) {
  TempDirectory directory;
  const std::string notes = directory.path() + "/notes.txt";
  addFakePlayer(directory.path(), "ffplay.exe", notes);

  startPlayer(directory.path());
  const std::string script = directory.path() + "/play.sh";
  EXPECT_EQ(testing::readWholeFile(script), playerScript());
  EXPECT_TRUE(containsText(playerScript(), "-x 360 -y 640 udp://127.0.0.1:1111"));
  ASSERT_TRUE(testing::waitUntil([&] { return noteLines(notes).size() == 1; }, 20s));

  // A second press writes and runs the script again; the first player stays.
  { std::ofstream(script) << "damaged"; }
  startPlayer(directory.path());
  EXPECT_EQ(testing::readWholeFile(script), playerScript());
  ASSERT_TRUE(testing::waitUntil([&] { return noteLines(notes).size() == 2; }, 20s));

  for (const std::string& line : noteLines(notes)) {
    std::istringstream fields(line);
    pid_t pid = 0, session = 0;
    std::string arguments;
    fields >> pid >> session;
    std::getline(fields, arguments);
    EXPECT_EQ(arguments, " -x 360 -y 640 udp://127.0.0.1:1111");
    EXPECT_EQ(pid, session) << "the player leads a session of its own";
    EXPECT_NE(session, ::getsid(0));
    EXPECT_EQ(::kill(pid, 0), 0) << "players are left running";
    ::kill(pid, SIGKILL);
  }
}

TEST(Player, FallsBackToThePlayerOnTheSearchPath) {
  TempDirectory programDirectory, pathDirectory;
  const std::string notes = programDirectory.path() + "/notes.txt";
  addFakePlayer(pathDirectory.path(), "ffplay", notes);
  const std::string savedPath = std::getenv("PATH");
  ::setenv("PATH", (pathDirectory.path() + ":" + savedPath).c_str(), 1);
  startPlayer(programDirectory.path());
  ::setenv("PATH", savedPath.c_str(), 1);
  ASSERT_TRUE(testing::waitUntil([&] { return noteLines(notes).size() == 1; }, 20s));
  std::istringstream fields(noteLines(notes)[0]);
  pid_t pid = 0;
  fields >> pid;
  ::kill(pid, SIGKILL);
}

// --- Recording from a share link, with the real FFmpeg ------------------------------------------

const std::string& display() { return "编辑框_显示"_gbk; }

// A page of the service's kind that holds the given stream address.
std::string roomPage(const std::string& streamUrl) {
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + gbkToUtf8("直播间"_gbk) +
         "</title></head><body><script>window.__room={\"stream_url\":{\"flv_pull_url\":{\"FULL_HD1\":\"" +
         streamUrl + "\"}}}</script></body></html>";
}

class SharedSample {
 public:
  static const std::string& path() {
    static SharedSample sample;
    return sample.m_path;
  }

 private:
  SharedSample() : m_path(testing::makeSample(m_directory.path(), 40)) {}
  TempDirectory m_directory;
  std::string m_path;
};

// One recording from a loopback room: program directory, page server and window.
struct Studio {
  TempDirectory programDirectory;
  testing::PageServer pages;
  MemoryWindow window;
  std::atomic<std::uint32_t> recorderPid{0};
  RecordingContext context;

  explicit Studio(bool withRecorder = true) {
    if (withRecorder) testing::addRecorderLink(programDirectory.path());
    context.window = &window;
    context.programDirectory = programDirectory.path();
    context.recorderPath = programDirectory.path() + "/ffm.exe";
  }
  void setRoom(const std::string& streamUrl, std::chrono::milliseconds delay = 0ms) {
    pages.setPage("room1", {.body = roomPage(streamUrl), .delay = delay});
    window.setText("编辑框_url"_gbk, pages.shareLink("room1"));
  }
  std::future<void> start() {
    return std::async(std::launch::async, [this] {
      runObservedRecordingJob(context, [this](std::uint32_t pid) { recorderPid = pid; });
    });
  }
  std::string outputPath() { return window.text("编辑框_下载目录"_gbk); }
  bool mp4HasBytes() {
    struct stat info {};
    return !outputPath().empty() && ::stat(outputPath().c_str(), &info) == 0 && info.st_size > 0;
  }
};

TEST(RecordingJob, AFailedResolutionShowsTheMessageAndStartsNothing) {
  Studio studio;
  studio.window.setText("编辑框_url"_gbk, " https://example.com/ live ");
  studio.start().get();
  EXPECT_EQ(studio.window.text("编辑框_url"_gbk), "https://example.com/live");
  EXPECT_EQ(studio.window.messages(), std::vector<std::string>{"直播分享链接有误"_gbk});
  EXPECT_EQ(studio.outputPath(), "");
  EXPECT_EQ(studio.window.text(display()), "");
  EXPECT_TRUE(testing::mp4Files(studio.programDirectory.path()).empty());
}

TEST(RecordingJob, MissingRecorderIsReportedInTheDisplay) {
  Studio studio(false);
  studio.setRoom("http://pull@127.0.0.1:9/stage/stream-1_hd.flv");
  // Blanks pasted around and inside the link are removed first.
  studio.window.setText("编辑框_url"_gbk, "　"_gbk + studio.pages.shareLink("room1") + " "_gbk);
  studio.start().get();
  EXPECT_EQ(studio.window.text("编辑框_url"_gbk), studio.pages.shareLink("room1"));
  EXPECT_TRUE(studio.window.messages().empty());
  EXPECT_EQ(studio.window.text("标签1"_gbk), "当前直播最高清晰度为：超清"_gbk);
  EXPECT_EQ(studio.window.text(display()), studio.programDirectory.path() + "/ffm.exe 不存在\r\n"_gbk);
  EXPECT_TRUE(
      std::regex_match(studio.outputPath(), std::regex(studio.programDirectory.path() + "/[0-9]{13}\\.mp4")))
      << studio.outputPath();
  EXPECT_TRUE(testing::mp4Files(studio.programDirectory.path()).empty()) << "no empty file is left behind";
}

// These record from the live source and so write to the fixed relay port.
class RecordingUdp1111 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(SharedSample::path().empty()); }
};

TEST_F(RecordingUdp1111, RecordsUntilStoppedAndRelaysTheStream) {
  testing::UdpRelayListener relay;
  ASSERT_TRUE(relay.bound());
  testing::LiveFlvSource source(SharedSample::path());
  ASSERT_TRUE(source.listening());
  Studio studio;
  studio.setRoom(source.streamUrl());

  std::future<void> job = studio.start();
  ASSERT_TRUE(testing::waitUntil([&] { return studio.mp4HasBytes(); }, 60s)) << studio.window.text(display());
  const auto recordingSince = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(4s);
  stopRecorder();
  const double recordedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - recordingSince).count();
  ASSERT_EQ(job.wait_for(60s), std::future_status::ready);

  EXPECT_EQ(studio.window.text("标签1"_gbk), "当前直播最高清晰度为：超清"_gbk);
  EXPECT_TRUE(containsText(studio.window.text(display()), "任务完成\r\n"_gbk))
      << studio.window.text(display());
  const std::vector<std::string> files = testing::mp4Files(studio.programDirectory.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex("[0-9]{13}\\.mp4"))) << files[0];
  EXPECT_EQ(studio.outputPath(), studio.programDirectory.path() + "/" + files[0]);
  const testing::MediaSummary media =
      testing::probeMedia(studio.outputPath(), studio.programDirectory.path());
  EXPECT_TRUE(media.readable);
  EXPECT_TRUE(media.hasVideo);
  EXPECT_TRUE(media.hasAudio);
  EXPECT_GT(media.durationSeconds, recordedSeconds - 2.5);
  EXPECT_LT(media.durationSeconds, recordedSeconds + 2.5);
  relay.stop();
  EXPECT_GT(relay.transportStreamPackets(), 100u);
  EXPECT_LT(relay.bytesOutOfSync(), relay.bytesReceived() / 100) << relay.bytesReceived();
}

TEST_F(RecordingUdp1111, SourceDyingMidStreamStillLeavesAPlayableFile) {
  testing::LiveFlvSource source(SharedSample::path());
  ASSERT_TRUE(source.listening());
  Studio studio;
  studio.setRoom(source.streamUrl());
  std::future<void> job = studio.start();
  ASSERT_TRUE(testing::waitUntil([&] { return studio.mp4HasBytes(); }, 60s)) << studio.window.text(display());
  std::this_thread::sleep_for(3s);
  source.kill();
  // The recorder ends by itself: nobody stops it.
  ASSERT_EQ(job.wait_for(60s), std::future_status::ready);
  const testing::MediaSummary media =
      testing::probeMedia(studio.outputPath(), studio.programDirectory.path());
  EXPECT_TRUE(media.readable) << studio.window.text(display());
  EXPECT_TRUE(media.hasVideo);
  EXPECT_TRUE(media.hasAudio);
  EXPECT_GT(media.durationSeconds, 1.0);
}

TEST_F(RecordingUdp1111, StopWhileResolvingSendsNothing) {
  testing::LiveFlvSource source(SharedSample::path());
  ASSERT_TRUE(source.listening());
  Studio studio;
  studio.setRoom(source.streamUrl(), 1500ms);
  std::future<void> job = studio.start();
  ASSERT_TRUE(testing::waitUntil([&] { return studio.pages.requests() >= 2; }, 20s));
  EXPECT_EQ(findProcessIdByName(kRecorderProcessName), 0u);
  stopRecorder();  // nothing to stop yet, and this program goes on
  // The recording then starts as usual and is stopped for real.
  ASSERT_TRUE(testing::waitUntil([&] { return studio.mp4HasBytes(); }, 60s)) << studio.window.text(display());
  EXPECT_NE(studio.recorderPid.load(), 0u);
  EXPECT_EQ(findProcessIdByName(kRecorderProcessName), studio.recorderPid.load());
  stopRecorder();
  ASSERT_EQ(job.wait_for(60s), std::future_status::ready);
  EXPECT_TRUE(containsText(studio.window.text(display()), "任务完成"_gbk));
  EXPECT_TRUE(testing::probeMedia(studio.outputPath(), studio.programDirectory.path()).readable);
}

// --- Faults -------------------------------------------------------------------------------------

// These record from the live source too, and so write to the relay port.
class FaultRecordingUdp1111 : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(SharedSample::path().empty()); }
};

TEST_F(FaultRecordingUdp1111, AStalledSourceKeepsTheRecorderWaitingAndStopStillFinishesTheFile) {
  testing::LiveFlvSource source(SharedSample::path());
  ASSERT_TRUE(source.listening());
  Studio studio;
  studio.setRoom(source.streamUrl());
  std::future<void> job = studio.start();
  ASSERT_TRUE(testing::waitUntil([&] { return studio.mp4HasBytes(); }, 60s)) << studio.window.text(display());
  std::this_thread::sleep_for(3s);
  // The source goes silent with its connection open: no end, no error.
  source.signal(SIGSTOP);
  std::this_thread::sleep_for(6s);
  EXPECT_EQ(job.wait_for(0s), std::future_status::timeout) << "the recorder waits for the stream";
  EXPECT_EQ(findProcessIdByName(kRecorderProcessName), studio.recorderPid.load());
  stopRecorder();
  const bool stopped = job.wait_for(60s) == std::future_status::ready;
  if (!stopped) terminateProcessByName(kRecorderProcessName);  // so that the job can end
  ASSERT_TRUE(stopped) << "a stop ends a waiting recorder too";
  source.signal(SIGCONT);
  EXPECT_TRUE(containsText(studio.window.text(display()), "任务完成\r\n"_gbk))
      << studio.window.text(display());
  const testing::MediaSummary media =
      testing::probeMedia(studio.outputPath(), studio.programDirectory.path());
  EXPECT_TRUE(media.readable) << "the file was finished, not abandoned";
  EXPECT_TRUE(media.hasVideo);
  EXPECT_TRUE(media.hasAudio);
  EXPECT_GT(media.durationSeconds, 1.5);
  EXPECT_EQ(testing::mp4Files(studio.programDirectory.path()).size(), 1u);
}

TEST_F(FaultRecordingUdp1111, AProgramDirectoryNobodyMayWriteInShowsFFmpegsFailure) {
  testing::LiveFlvSource source(SharedSample::path());
  ASSERT_TRUE(source.listening());
  Studio studio;
  studio.setRoom(source.streamUrl());
  // Root may write anywhere the permission bits say no; into an immutable
  // directory not even root may create a file.
  testing::ImmutablePath locked(studio.programDirectory.path());
  if (!locked.set()) GTEST_SKIP() << locked.reason();
  std::future<void> job = studio.start();
  ASSERT_EQ(job.wait_for(60s), std::future_status::ready) << studio.window.text(display());
  const std::string path = studio.outputPath();
  ASSERT_TRUE(std::regex_match(path, std::regex(studio.programDirectory.path() + "/[0-9]{13}\\.mp4")))
      << path;
  const std::string fileName = path.substr(path.rfind('/') + 1);
  // FFmpeg's own words, as it wrote them, name the file it could not open.
  const std::string shown = studio.window.text(display());
  EXPECT_TRUE(containsText(shown, fileName + ": Operation not permitted")) << shown;
  EXPECT_TRUE(studio.window.messages().empty());
  std::vector<std::string> entries;
  for (const auto& entry : fs::directory_iterator(studio.programDirectory.path()))
    entries.push_back(entry.path().filename().string());
  EXPECT_EQ(entries, std::vector<std::string>{"ffm.exe"});
}

TEST_F(FaultRecordingUdp1111, TwoRecordingsStartedAtOnceWriteTwoFiles) {
  testing::LiveFlvSource first(SharedSample::path()), second(SharedSample::path());
  ASSERT_TRUE(first.listening());
  ASSERT_TRUE(second.listening());
  Studio studio;
  studio.pages.setPage("a", {.body = roomPage(first.streamUrl())});
  studio.pages.setPage("b", {.body = roomPage(second.streamUrl())});
  // A second window on the same program directory, as a second press after
  // a stop that found no recorder would start.
  MemoryWindow otherWindow;
  RecordingContext otherContext = studio.context;
  otherContext.window = &otherWindow;
  studio.window.setText("编辑框_url"_gbk, studio.pages.shareLink("a"));
  otherWindow.setText("编辑框_url"_gbk, studio.pages.shareLink("b"));

  std::promise<void> go;
  std::shared_future<void> ready = go.get_future().share();
  auto run = [ready](const RecordingContext& context) {
    ready.wait();
    runRecordingJob(context);
  };
  std::future<void> jobA = std::async(std::launch::async, run, studio.context);
  std::future<void> jobB = std::async(std::launch::async, run, otherContext);
  go.set_value();
  auto hasBytes = [](MemoryWindow& window) {
    struct stat info {};
    const std::string path = window.text("编辑框_下载目录"_gbk);
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && info.st_size > 0;
  };
  ASSERT_TRUE(testing::waitUntil([&] { return hasBytes(studio.window) && hasBytes(otherWindow); }, 60s))
      << studio.window.text(display()) << otherWindow.text(display());
  std::this_thread::sleep_for(3s);
  // One stop reaches one recorder: the first one by name, then the next.
  ASSERT_TRUE(testing::waitUntil(
      [&] {
        stopRecorder();
        return jobA.wait_for(1s) == std::future_status::ready &&
               jobB.wait_for(1s) == std::future_status::ready;
      },
      60s));

  const std::string pathA = studio.window.text("编辑框_下载目录"_gbk);
  const std::string pathB = otherWindow.text("编辑框_下载目录"_gbk);
  EXPECT_NE(pathA, pathB);
  EXPECT_EQ(testing::mp4Files(studio.programDirectory.path()).size(), 2u);
  for (const std::string& path : {pathA, pathB}) {
    EXPECT_TRUE(std::regex_match(path, std::regex(studio.programDirectory.path() + "/[0-9]{13}\\.mp4")))
        << path;
    const testing::MediaSummary media = testing::probeMedia(path, studio.programDirectory.path());
    EXPECT_TRUE(media.readable) << path;
    EXPECT_GT(media.durationSeconds, 1.5) << path;
  }
}

}  // namespace
}  // namespace lirevo
