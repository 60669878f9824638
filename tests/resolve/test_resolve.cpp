// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>

#include "charset.h"
#include "gbk_literal.h"
#include "live_stream_resolver.h"
#include "loopback_http_server.h"
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

// --- Faults -------------------------------------------------------------------------------------

// A room page of `bytes` bytes: `pattern` over and over, then `tail`.
std::string repeated(std::string_view pattern, std::size_t bytes, std::string_view tail = {}) {
  std::string page;
  page.reserve(bytes + tail.size());
  while (page.size() + pattern.size() <= bytes) page.append(pattern);
  page.append(tail);
  return page;
}

// Bytes from a fixed seed, zero bytes among them.
std::string junk(std::size_t bytes, std::uint32_t seed, bool withZeroBytes) {
  std::string page(bytes, '\0');
  std::uint32_t state = seed;
  for (char& c : page) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
    if (!withZeroBytes && c == '\0') c = 'j';
  }
  return page;
}

TEST(FaultResolve, FiftyMebibytesOfJunkEndInAMessageNotACrash) {
  constexpr std::size_t kPageBytes = std::size_t{50} << 20;
  // Enough for the nested candidates of the old collection to need
  // terabytes; the walk that replaced it reads such a page about once.
  constexpr std::size_t kMarkerPageBytes = std::size_t{8} << 20;
  const std::string good = "http://pull-ok/stage/s_hd.flv";
  struct Case {
    const char* name;
    std::string page;
    bool result;
    std::string streamUrl;
  };
  // Built one at a time: each is 50 MiB.
  const std::function<Case()> cases[] = {
      [] {
        return Case{"random bytes with zero bytes", junk(kPageBytes, 1, true), false, ""};
      },
      [&] {
        return Case{"an address behind the first zero byte is not read",
                    junk(kPageBytes, 2, false) + std::string(1, '\0') + good, false, ""};
      },
      [] {
        return Case{"start markers and no end", repeated("http://pull", kMarkerPageBytes), false, ""};
      },
      [] {
        return Case{"nested candidates that all hold a quote",
                    repeated("http://pull\"", kMarkerPageBytes, ".flv"), false, ""};
      },
      [&] {
        return Case{"nested candidates with blanks, then a real address",
                    repeated("http://pull ", kMarkerPageBytes, ".flv \"" + good + "\""), true, good};
      },
      [] {
        return Case{"one address of page size", "http://pull" + std::string(kMarkerPageBytes, 'a') + ".flv",
                    false, ""};
      },
  };
  testing::PageServer pages;
  for (const auto& make : cases) {
    Case c = make();
    pages.setPage("room", {.body = std::move(c.page), .contentType = "application/octet-stream"});
    MemoryWindow window;
    std::string streamUrl, message;
    EXPECT_EQ(resolveLiveStream(window, pages.shareLink("room"), streamUrl, message), c.result) << c.name;
    EXPECT_EQ(message, c.result ? "获取成功"_gbk : "推流地址获取失败"_gbk) << c.name;
    EXPECT_EQ(streamUrl, c.streamUrl) << c.name;
  }
}

TEST(FaultResolve, APageSlowerThanTheTimeOutIsNoAddress) {
  // The answer's first byte comes at once, the next one only long after the
  // request's 30 s time-out.
  testing::LoopbackHttpServer server([](const testing::ReceivedRequest&) {
    return testing::Reply{.bytes = testing::httpResponse("200 OK", "http://pull-a/s_hd.flv"),
                          .trickleBytes = 1,
                          .trickleMs = 120000};
  });
  MemoryWindow window;
  std::string streamUrl, message;
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(resolveLiveStream(window, server.url("/s/slow?from=douyin.com"), streamUrl, message));
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(message, "推流地址获取失败"_gbk);
  EXPECT_EQ(streamUrl, "");
  EXPECT_GE(waited, std::chrono::seconds(29)) << "gave up before the time-out";
  EXPECT_LT(waited, std::chrono::seconds(90)) << "waited for the slow answer";
  EXPECT_EQ(server.requestCount(), 1u) << "no retry";
}

TEST(FaultResolve, AHundredKibibyteShareLinkGoesOutWhole) {
  const std::string page = "<html>\"http://pull-a/stage/s_sd.flv\"</html>";
  testing::LoopbackHttpServer server([&](const testing::ReceivedRequest&) {
    return testing::Reply{.bytes = testing::httpResponse("200 OK", page)};
  });
  const std::string path = "/s/room?from=douyin.com&pad=" + std::string(100 << 10, 'x');
  MemoryWindow window;
  std::string streamUrl, message;
  EXPECT_TRUE(resolveLiveStream(window, server.url(path), streamUrl, message));
  EXPECT_EQ(message, "获取成功"_gbk);
  EXPECT_EQ(streamUrl, "http://pull-a/stage/s_sd.flv");
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].target, path);

  // A server that refuses so long a line (as most do) is a failed request.
  testing::PageServer refusing;
  refusing.setPage("room", {.body = page});
  std::string refusedUrl;
  EXPECT_FALSE(resolveLiveStream(window, refusing.shareLink("room") + "&pad=" + std::string(100 << 10, 'x'),
                                 refusedUrl, message));
  EXPECT_EQ(message, "推流地址获取失败"_gbk);
  EXPECT_EQ(refusedUrl, "");

  // 100 KiB without the service's domain is rejected before any request.
  const int before = refusing.requests();
  EXPECT_FALSE(
      resolveLiveStream(window, "http://127.0.0.1/" + std::string(100 << 10, 'y'), refusedUrl, message));
  EXPECT_EQ(message, "直播分享链接有误"_gbk);
  EXPECT_EQ(refusing.requests(), before);
}

}  // namespace
}  // namespace lirevo
