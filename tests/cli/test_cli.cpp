// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <regex>

#include "charset.h"
#include "gbk_literal.h"
#include "page_server.h"
#include "recorder_stop.h"
#include "recording_fixtures.h"

namespace lirevo {
namespace {

using namespace std::chrono_literals;
using testing::TempDirectory;

struct CliRun {
  int exitStatus = -1;
  std::string output;  // standard output and error, UTF-8
};

CliRun runCli(const std::vector<std::string>& arguments) {
  TempDirectory scratch;
  std::vector<std::string> argv{LIREVO_CLI};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  CliRun run;
  run.exitStatus = testing::runToEnd(argv, scratch.path() + "/out.txt");
  run.output = testing::readWholeFile(scratch.path() + "/out.txt");
  return run;
}

std::string utf8(const std::string& gbk) { return gbkToUtf8(gbk); }

TEST(Cli, HelpExplainsBothCommands) {
  const CliRun run = runCli({"--help"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_NE(run.output.find("lirevo-cli resolve LINK"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("lirevo-cli record LINK [--dir DIR]"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("Ctrl+C"), std::string::npos) << run.output;
  EXPECT_EQ(runCli({}).exitStatus, 2);
  EXPECT_EQ(runCli({"record"}).exitStatus, 2);
}

TEST(Cli, ResolvePrintsMessageNoticeAndAddress) {
  testing::PageServer pages;
  pages.setPage("live", {.body = "<meta charset=\"utf-8\">http://pull-f5.example/stage/stream-1_hd.flv"});
  pages.setPage("ended", {.body = "<meta charset=\"utf-8\">" + utf8("直播已结束"_gbk)});
  struct Case {
    const char* name;
    std::string link;
    int exitStatus;
    std::string output;
  } cases[] = {
      {"live room", pages.shareLink("live"), 0,
       utf8("获取成功\n当前直播最高清晰度为：超清\n"_gbk) + "http://pull-f5.example/stage/stream-1_hd.flv\n"},
      {"ended room", pages.shareLink("ended"), 1, utf8("直播已结束\n"_gbk)},
      {"not a share link", "https://example.com/x", 1, utf8("直播分享链接有误\n"_gbk)},
      {"blanks in the link are removed", std::string(" ").append(pages.shareLink("live")).append(" "), 0,
       utf8("获取成功\n当前直播最高清晰度为：超清\n"_gbk) + "http://pull-f5.example/stage/stream-1_hd.flv\n"},
  };
  for (const Case& c : cases) {
    const CliRun run = runCli({"resolve", c.link});
    EXPECT_EQ(run.exitStatus, c.exitStatus) << c.name;
    EXPECT_EQ(run.output, c.output) << c.name;
  }
}

TEST(Cli, RecordWithoutALiveRoomFails) {
  testing::PageServer pages;
  pages.setPage("ended", {.body = utf8("直播已结束"_gbk)});
  TempDirectory directory;
  const CliRun run = runCli({"record", pages.shareLink("ended"), "--dir", directory.path()});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.output.find(utf8("直播已结束"_gbk)), std::string::npos) << run.output;
  EXPECT_TRUE(testing::mp4Files(directory.path()).empty());
}

TEST(CliUdp1111, RecordStopsGracefullyOnCtrlC) {
  TempDirectory work;
  const std::string sample = testing::makeSample(work.path(), 30);
  testing::LiveFlvSource source(sample);
  ASSERT_TRUE(source.listening());
  testing::PageServer pages;
  pages.setPage("live", {.body = source.streamUrl()});
  TempDirectory directory;  // no ffm.exe yet: the companion links one

  const std::string log = work.path() + "/cli.txt";
  testing::ChildProcess cli({LIREVO_CLI, "record", pages.shareLink("live"), "--dir", directory.path()}, log);
  auto mp4WithBytes = [&] {
    for (const std::string& name : testing::mp4Files(directory.path())) {
      struct stat info {};
      if (::stat((directory.path() + "/" + name).c_str(), &info) == 0 && info.st_size > 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(testing::waitUntil(mp4WithBytes, 60s)) << testing::readWholeFile(log);
  std::this_thread::sleep_for(3s);
  cli.signal(SIGINT);
  EXPECT_EQ(cli.wait(60s), 0) << testing::readWholeFile(log);

  const std::string output = testing::readWholeFile(log);
  EXPECT_NE(output.find(utf8("任务完成"_gbk)), std::string::npos) << output;
  EXPECT_NE(output.find(utf8("当前直播最高清晰度为：超清"_gbk)), std::string::npos) << output;
  EXPECT_TRUE(std::filesystem::is_symlink(directory.path() + "/ffm.exe"));
  const std::vector<std::string> files = testing::mp4Files(directory.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(files[0], std::regex("[0-9]{13}\\.mp4")));
  EXPECT_NE(output.find(directory.path() + "/" + files[0]), std::string::npos) << output;
  const testing::MediaSummary media = testing::probeMedia(directory.path() + "/" + files[0], work.path());
  EXPECT_TRUE(media.readable);
  EXPECT_TRUE(media.hasVideo);
  EXPECT_TRUE(media.hasAudio);
}

TEST(FaultCliUdp1111, CtrlCFinishesTheFileWhenTheSourceHasGoneSilent) {
  TempDirectory work;
  const std::string sample = testing::makeSample(work.path(), 30);
  testing::LiveFlvSource source(sample);
  ASSERT_TRUE(source.listening());
  testing::PageServer pages;
  pages.setPage("live", {.body = source.streamUrl()});
  TempDirectory directory;

  const std::string log = work.path() + "/cli.txt";
  testing::ChildProcess cli({LIREVO_CLI, "record", pages.shareLink("live"), "--dir", directory.path()}, log);
  auto mp4WithBytes = [&] {
    for (const std::string& name : testing::mp4Files(directory.path())) {
      struct stat info {};
      if (::stat((directory.path() + "/" + name).c_str(), &info) == 0 && info.st_size > 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(testing::waitUntil(mp4WithBytes, 60s)) << testing::readWholeFile(log);
  std::this_thread::sleep_for(3s);
  source.signal(SIGSTOP);  // silent, with the connection open
  std::this_thread::sleep_for(3s);
  cli.signal(SIGINT);
  const std::optional<int> status = cli.wait(60s);
  if (!status) terminateProcessByName(kRecorderProcessName);  // leave no recorder behind
  source.signal(SIGCONT);
  EXPECT_EQ(status, 0) << testing::readWholeFile(log);
  const std::vector<std::string> files = testing::mp4Files(directory.path());
  ASSERT_EQ(files.size(), 1u);
  const testing::MediaSummary media = testing::probeMedia(directory.path() + "/" + files[0], work.path());
  EXPECT_TRUE(media.readable) << "the file was finished, not abandoned";
  EXPECT_GT(media.durationSeconds, 1.5);
}

}  // namespace
}  // namespace lirevo
