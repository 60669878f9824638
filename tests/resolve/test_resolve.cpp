// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "charset.h"
#include "gbk_literal.h"
#include "live_stream_resolver.h"
#include "memory_window.h"
#include "page_server.h"

namespace lirevo {
namespace {

const std::string& label() { return "标签1"_gbk; }

std::string utf8(const std::string& gbk) { return gbkToUtf8(gbk); }

TEST(CollectBetweenMarkers, FollowsThePageOrderAndOverlaps) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> candidates;
  } cases[] = {
      {"none", "no address here", {}},
      {"start without end", "x http://pull-a/b_hd", {}},
      {"two in order",
       "a http://pull-1/a.flv b http://pull-2/b.flv c",
       {"http://pull-1/a.flv", "http://pull-2/b.flv"}},
      {"a second start before the first end",
       "http://pull-a/xhttp://pull-b/y.flv",
       {"http://pull-a/xhttp://pull-b/y.flv", "http://pull-b/y.flv"}},
      {"duplicates are kept",
       "http://pull/a.flv http://pull/a.flv",
       {"http://pull/a.flv", "http://pull/a.flv"}},
      {"markers in capitals or https are none", "HTTP://PULL/a.flv https://pull/b.flv http://pull/c.FLV", {}},
      {"no match on the trail byte of a GBK character", "\x81http://pullx.flv", {}},
      {"after a whole GBK character", "中http://pullx.flv"_gbk, {"http://pullx.flv"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(collectBetweenMarkers(c.text, "http://pull", ".flv"), c.candidates) << c.name;
}

TEST(StreamAddressCheck, RejectsWhatCouldLeaveItsQuotes) {
  struct Case {
    const char* name;
    std::string candidate;
    bool safe;
  } cases[] = {
      {"plain", "http://pull-f5.example/stage/stream-1_hd.flv", true},
      {"query", "http://pull-f5.example/stage/s_hd.flv?expire=1&sign=ab%22cd", true},
      {"double quote", "http://pull.x/a\" -y /tmp/evil.mp4 -i \"b.flv", false},
      {"blank", "http://pull.x/a b.flv", false},
      {"full-width blank", "http://pull.x/a　b.flv"_gbk, false},
      {"tab", "http://pull.x/a\tb.flv", false},
      {"line feed", "http://pull.x/a\nb.flv", false},
      {"delete",
       "http://pull.x/a\x7f"
       "b.flv",
       false},
  };
  for (const Case& c : cases) EXPECT_EQ(isSafeStreamAddress(c.candidate), c.safe) << c.name;
}

struct ResolveCase {
  const char* name;
  std::string pageUtf8;  // the room page as the server sends it
  bool result;
  std::string message;    // GBK
  std::string streamUrl;  // afterwards; "keep": the caller's value, kept
  std::string notice;     // the label's caption afterwards; empty: unchanged
};

class LiveStreamResolver : public ::testing::Test {
 protected:
  testing::PageServer m_pages;
};

TEST_F(LiveStreamResolver, PageCases) {
  const std::string ended = utf8("直播已结束"_gbk);
  const std::string hd = "http://pull-f5.example/stage/stream-1_hd.flv";
  const ResolveCase cases[] = {
      {"ended room", "<html>" + ended + " " + hd + "</html>", false, "直播已结束"_gbk, "keep", ""},
      {"ended room whose page declares utf-8",
       "<html><head><meta charset=\"utf-8\"><title>" + utf8("抖音直播"_gbk) + "</title></head><body>" +
           ended + "<script>var u=\"" + hd + "\"</script></body></html>",
       false, "直播已结束"_gbk, "keep", ""},
      {"no address", "<html><body>" + utf8("欢迎"_gbk) + "</body></html>", false, "推流地址获取失败"_gbk, "",
       ""},
      {"empty body", "", false, "推流地址获取失败"_gbk, "", ""},
      {"start marker without end", "http://pull-f5.example/stage/stream-1_hd", false, "推流地址获取失败"_gbk,
       "", ""},
      {"https, capitals and .FLV are no address",
       "https://pull-a/x_hd.flv HTTP://PULL-b/y_hd.flv http://pull-c/z_hd.FLV", false, "推流地址获取失败"_gbk,
       "", ""},
      {"first candidate wins, uhd", "\"http://pull-a/s_uhd.flv\",\"http://pull-b/s_hd.flv\"", true,
       "获取成功"_gbk, "http://pull-a/s_uhd.flv", "当前直播最高清晰度为：蓝光高清"_gbk},
      {"hd", "x " + hd + " y", true, "获取成功"_gbk, hd, "当前直播最高清晰度为：超清"_gbk},
      {"sd", "http://pull-a/s_sd.flv", true, "获取成功"_gbk, "http://pull-a/s_sd.flv",
       "当前直播最高清晰度为：高清"_gbk},
      {"ld", "http://pull-a/s_ld.flv", true, "获取成功"_gbk, "http://pull-a/s_ld.flv",
       "当前直播最高清晰度为：标清"_gbk},
      {"d", "http://pull-a/s_d.flv", true, "获取成功"_gbk, "http://pull-a/s_d.flv",
       "当前主播的直播设备或网络不好，清晰度不高"_gbk},
      {"no quality marker leaves the caption", "http://pull-a/stage/stream.flv", true, "获取成功"_gbk,
       "http://pull-a/stage/stream.flv", ""},
      {"overlapping candidates: the first holds the second start", "http://pull-a/xhttp://pull-b/y_sd.flv",
       true, "获取成功"_gbk, "http://pull-a/xhttp://pull-b/y_sd.flv", "当前直播最高清晰度为：高清"_gbk},
      {"a candidate with a quote is skipped for the next",
       "http://pull-x/a\" -y /tmp/evil.mp4 -i \"b.flv http://pull-ok/s_ld.flv", true, "获取成功"_gbk,
       "http://pull-ok/s_ld.flv", "当前直播最高清晰度为：标清"_gbk},
      {"only unsafe candidates", "http://pull-x/a b_hd.flv http://pull-y/c\"d_hd.flv http://pull-z/e\tf.flv",
       false, "推流地址获取失败"_gbk, "", ""},
  };
  for (const ResolveCase& c : cases) {
    m_pages.setPage("room", {.body = c.pageUtf8});
    MemoryWindow window;
    const std::string before = window.text(label());
    // The caller's value survives only the ended test (and the link check).
    std::string streamUrl = c.streamUrl == "keep" ? "keep" : "";
    std::string message;
    EXPECT_EQ(resolveLiveStream(window, m_pages.shareLink("room"), streamUrl, message), c.result) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(streamUrl, c.streamUrl) << c.name;
    EXPECT_EQ(window.text(label()), c.notice.empty() ? before : c.notice) << c.name;
  }
}

TEST_F(LiveStreamResolver, OneRequestWithTheMobileUserAgentFollowingTheRedirect) {
  m_pages.setPage("room", {.body = "http://pull-a/s_hd.flv"});
  MemoryWindow window;
  std::string streamUrl, message;
  EXPECT_TRUE(resolveLiveStream(window, m_pages.shareLink("room"), streamUrl, message));
  EXPECT_EQ(m_pages.requests(), 2) << "the share link and the room page it redirects to";
  EXPECT_EQ(m_pages.lastUserAgent(),
            "Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/83.0.4103.106 Mobile Safari/537.36");
}

TEST_F(LiveStreamResolver, ALinkWithoutTheDomainIsRejectedWithoutARequest) {
  MemoryWindow window;
  const std::string before = window.text(label());
  std::string link = m_pages.shareLink("room");
  link = link.substr(0, link.find('?'));
  std::string streamUrl = "keep", message;
  EXPECT_FALSE(resolveLiveStream(window, link, streamUrl, message));
  EXPECT_EQ(message, "直播分享链接有误"_gbk);
  EXPECT_EQ(streamUrl, "keep");
  EXPECT_EQ(m_pages.requests(), 0);
  EXPECT_EQ(window.text(label()), before);
}

TEST_F(LiveStreamResolver, FailedRequestsReportNoAddress) {
  struct Case {
    const char* name;
    std::string link;
  } cases[] = {
      {"a room that is not there (404)", m_pages.shareLink("missing")},
      {"nobody listening", "http://127.0.0.1:9/s/x?from=douyin.com"},
      {"no scheme", "v.douyin.com/abc"},
  };
  for (const Case& c : cases) {
    MemoryWindow window;
    std::string streamUrl, message;
    EXPECT_FALSE(resolveLiveStream(window, c.link, streamUrl, message)) << c.name;
    EXPECT_EQ(message, "推流地址获取失败"_gbk) << c.name;
    EXPECT_EQ(streamUrl, "") << c.name;
  }
}

}  // namespace
}  // namespace lirevo
