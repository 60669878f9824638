// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include "charset.h"
#include "fetch_failure.h"
#include "gbk_literal.h"
#include "header_cookie.h"
#include "http_fetch.h"
#include "loopback_http_server.h"
#include "request_headers.h"
#include "response_decoding.h"
#include "response_headers.h"
#include "self_signed_certificate.h"
#include "split_url.h"

namespace lirevo {
namespace {

TEST(HeaderCookie, SmallHelpers) {
  EXPECT_EQ(textBefore("Set-Cookie: a=1", ": "), "Set-Cookie");
  EXPECT_EQ(textBefore("abc", "x"), "") << "missing marker";
  EXPECT_EQ(textBefore("abc", "a"), "");
  EXPECT_EQ(textBefore("aBc", "b"), "") << "case-sensitive";
  EXPECT_EQ(textBefore("\x95\x5C"
                       "a\\b",
                       "\\"),
            "\x95\x5C"
            "a")
      << "trail 0x5C is no marker";

  EXPECT_EQ(textAfterLast("a: b: c", ": "), "c");
  EXPECT_EQ(textAfterLast("abc", "x"), "");
  EXPECT_EQ(textAfterLast("abc", "c"), "");
  EXPECT_EQ(textAfterLast("aaa", "aa"), "") << "overlapping: last occurrence starts at 2";
  EXPECT_EQ(textAfterLast("x\\y\x95\x5Cz", "\\"), "y\x95\x5Cz") << "trail 0x5C is no marker";

  EXPECT_EQ(textBetween("Set-Cookie: a=1; path=/", "Set-Cookie:", ";"), " a=1");
  EXPECT_EQ(textBetween("x=\"v\"; y", "=#引号"_gbk, "#引号"_gbk), "v") << "quote token in both markers";
  EXPECT_EQ(textBetween(";a[b;", "[", ";"), "b") << "end marker searched behind the start marker";
  EXPECT_EQ(textBetween("a[b", "[", ";"), "");
  EXPECT_EQ(textBetween("a;b", "[", ";"), "");
  EXPECT_EQ(textBetween("[]", "[", "]"), "");

  EXPECT_EQ(capitalizeFirst("host"), "Host");
  EXPECT_EQ(capitalizeFirst("Host"), "Host");
  EXPECT_EQ(capitalizeFirst("1a"), "1a");
  EXPECT_EQ(capitalizeFirst(""), "");
  EXPECT_EQ(capitalizeFirst("\xC4\xE3"), "\xC4\xE3");

  EXPECT_EQ(cookieName(" sid = abc"), "sid");
  EXPECT_EQ(cookieName("a=b=c"), "a");
  EXPECT_EQ(cookieName(" flag "), "flag") << "no '=': the whole item";
  EXPECT_EQ(cookieName(""), "");

  EXPECT_EQ(removeDuplicateItems("a; b; a; A; b", "; "), "a; b; A");
  EXPECT_EQ(removeDuplicateItems("", "; "), "");
  EXPECT_EQ(removeDuplicateItems("a,,a,", ","), "a,") << "empty piece kept once, none after the end";
}

TEST(HeaderCookie, NormalizeHeaderNames) {
  struct Case {
    const char* name;
    std::string block, expected;
  } cases[] = {
      {"drops lines without a colon, no final line end", "accept-language: zh-cn\r\nbad line\r\n\r\nHost:x",
       "Accept-Language: zh-cn\r\nHost:x"},
      {"empty block", "", ""},
      {"every piece capitalised", "x-requested-with: XMLHttpRequest", "X-Requested-With: XMLHttpRequest"},
      {"upper case stays", "USER-AGENT: a", "USER-AGENT: a"},
      {"value untouched", "accept: text/html-x; q=a-b", "Accept: text/html-x; q=a-b"},
      {"final line end removed", "host: x\r\n", "Host: x"},
      {"only the name before the first colon", "a-b:c-d:e", "A-B:c-d:e"},
      {"duplicates and order kept", "b: 1\r\na: 2\r\nb: 1", "B: 1\r\nA: 2\r\nB: 1"},
      {"odd dashes keep every character", "-x--y-: 1", "-X--Y-: 1"},
      {"empty name", ": v", ": v"},
      {"only bad lines", "a\r\nb\r\n", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(normalizeHeaderNames(c.block), c.expected) << c.name;
}

TEST(HeaderCookie, FindHeaderValue) {
  struct Case {
    const char* name;
    std::string block, header, expected;
  } cases[] = {
      {"found", "Accept: */*\r\nConnection: keep-alive\r\nConnection: close", "Connection", "keep-alive"},
      {"name is case-sensitive", "connection: keep-alive", "Connection", ""},
      {"a longer name that comes first is taken", "Connection-Foo: x\r\nConnection: close", "Connection", ""},
      {"blank after the colon needed", "Connection:keep-alive", "Connection", ""},
      {"text after the last marker", "Connection: a Connection: b", "Connection", "b"},
      {"missing", "Accept: */*", "Connection", ""},
      {"empty block", "", "Connection", ""},
      {"empty value", "Connection: ", "Connection", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(findHeaderValue(c.block, c.header), c.expected) << c.name;
}

TEST(HeaderCookie, ScanResponseHeaders) {
  struct Case {
    const char* name;
    std::string headers, cookies, location;
  } cases[] = {
      {"attributes dropped, no trailing separator",
       "HTTP/1.1 200 OK\r\nSet-Cookie: sid=abc; path=/; HttpOnly\r\nSet-Cookie: lang=zh\r\n\r\n",
       "sid=abc; lang=zh", "unset"},
      {"no cookies", "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "", "unset"},
      {"other letter case is no cookie", "set-cookie: a=1\r\nSET-COOKIE: b=2\r\n\r\n", "", "unset"},
      {"no blank after the colon is no cookie", "Set-Cookie:a=1\r\n\r\n", "", "unset"},
      {"deleted and repeated items stay",
       "Set-Cookie: a=deleted; path=/\r\nSet-Cookie: b=1\r\nSet-Cookie: b=1\r\n", "a=deleted; b=1; b=1",
       "unset"},
      {"value kept with its case", "Set-Cookie: Token=AbC\r\n", "Token=AbC", "unset"},
      {"location", "HTTP/1.1 302 Found\r\nLocation: /next\r\n\r\n", "", "/next"},
      {"location in lower case", "location: /next\r\n", "", "/next"},
      {"location needs the blank", "Location:/next\r\n", "", "unset"},
      {"later location wins", "Location: /a\r\nLOCATION: /b\r\n", "", "/b"},
      {"location keeps the rest of the line", "Location: http://h/p?a=1: x\r\n", "", "http://h/p?a=1: x"},
      {"empty text", "", "", "unset"},
      {"empty cookie value is no cookie", "Set-Cookie: a=1\r\nSet-Cookie: \r\nSet-Cookie:  ; path=/\r\n",
       "a=1", "unset"},
  };
  for (const Case& c : cases) {
    std::string cookies;
    std::string location = "unset";
    scanResponseHeaders(c.headers, cookies, &location);
    EXPECT_EQ(cookies, c.cookies) << c.name;
    EXPECT_EQ(location, c.location) << c.name;
  }
  std::string cookies;
  scanResponseHeaders("Set-Cookie: a=1\r\nLocation: /x\r\n", cookies, nullptr);
  EXPECT_EQ(cookies, "a=1") << "no redirect target asked for";
}

TEST(HeaderCookie, MergeCookieText) {
  struct Case {
    const char* name;
    std::string sent, received, expected;
  } cases[] = {
      {"received replace sent and come first; deleted dropped", "a=1; b=2; c=3", "b=5; c=deleted; d=4",
       "b=5; d=4; a=1"},
      {"final semicolon", "a=1;", "", "a=1"},
      {"first of two sent items with one name", "a=1; a=1", "b=2", "b=2; a=1"},
      {"first of two sent items with different values", "a=1; a=2", "", "a=1"},
      {"deleted by the server", "a=1", "a=deleted", ""},
      {"deleted among the sent", "x=deleted; y=1", "", "y=1"},
      {"both empty", "", "", ""},
      {"nothing sent", "", "s=1; t=2", "s=1; t=2"},
      {"exact repeats among the received removed", "", "b=2; b=2", "b=2"},
      {"blanks trimmed", "  a=1  ", " b=2; ", "b=2; a=1"},
      {"names compared trimmed and case-sensitive", "A=1; b =2", "a=9; b=3", "a=9; b=3; A=1"},
  };
  for (const Case& c : cases) {
    std::string sent = c.sent;
    EXPECT_EQ(mergeCookieText(sent, c.received), c.expected) << c.name;
    EXPECT_EQ(sent, c.expected) << c.name << ": left in the sent cookies";
  }
}

std::string utf16Bytes(std::u16string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST(HeaderCookie, WideToGbk) {
  struct Case {
    const char* name;
    ByteData bytes;
    std::string expected;
  } cases[] = {
      {"empty", "", ""},
      {"chinese", utf16Bytes(u"中文 ok"), "中文 ok"_gbk},
      {"stops at the first zero unit", utf16Bytes(std::u16string(u"ab\0cd", 5)), "ab"},
      {"zero unit first", utf16Bytes(std::u16string(u"\0a", 2)), ""},
      {"a zero byte inside a unit is no terminator",
       std::string("\x00\x4E"
                   "a\x00",
                   4),
       "\xD2\xBB"
       "a"},
      {"lone final byte",
       std::string("a\x00"
                   "b",
                   3),
       "ab"},
      {"not in GBK", utf16Bytes(u"a\U0001F600b"), "a?b"},
  };
  for (const Case& c : cases) EXPECT_EQ(wideToGbk(c.bytes), c.expected) << c.name;
}

// A page as a server would send it: declaration on the first line, Chinese
// text in title and body.
std::string utf8Page() {
  return "<meta charset=\"utf-8\">\r\n<!DOCTYPE html>\r\n<html><head><title>直播间</title></head>\r\n"
         "<body><p>主播正在直播：欢迎来到直播间！</p><a href=\"http://pull-flv.example/a.flv\">链接</a>"
         "</body></html>\r\n";
}

std::string padding(std::size_t bytes) { return "<!--" + std::string(bytes - 7, 'x') + "-->"; }

TEST(ResponseDecoding, ConvertsDeclaredCharsets) {
  const std::string expectedUtf8Page =
      "<meta charset=\"utf-8\">\r\n<!DOCTYPE html>\r\n<html><head><title>直播间</title></head>\r\n"
      "<body><p>主播正在直播：欢迎来到直播间！</p><a href=\"http://pull-flv.example/a.flv\">链接</a>"
      "</body></html>\r\n"_gbk;
  const std::string bigFive =
      "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=big5\">"
      "</head><body>\xA4\xA4\xA4\xE5\xC5\xE9</body></html>";  // 中文體
  const std::string bigFiveExpected =
      "<html><head><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=big5\">"
      "</head><body>中文體</body></html>"_gbk;
  // A big5 character straddles the end of the search window.
  const std::string head = "<meta charset=big5>" + padding(1024 - 19 - 1);
  const std::string straddling = head +
                                 "\xA4\xA4"
                                 "end";
  const std::string gbkPage = "<meta charset=\"gbk\"><p>中文</p>"_gbk;
  const std::string upperGbkPage = "<meta charset=\"GBK\"><p>中文</p>"_gbk;

  struct Case {
    const char* name;
    ByteData body;
    std::string expected;
  } cases[] = {
      {"utf-8 page", utf8Page(), expectedUtf8Page},
      {"declaration in capitals, charset inside content", bigFive, bigFiveExpected},
      {"window cuts a character", straddling, head + "中end"_gbk},
      {"GBK in capitals goes through the converter", upperGbkPage, upperGbkPage},
      {"single quote before the name", "<meta charset='utf-8'>\xE4\xB8\xAD", "<meta charset='utf-8'>中"_gbk},
      {"iso-8859-1", "<meta charset=iso-8859-1>caf\xE9", "<meta charset=iso-8859-1>caf\xA8\xA6"},
      {"gbk page unchanged", gbkPage, gbkPage},
  };
  for (const Case& c : cases) {
    const ByteData before = c.body;
    EXPECT_EQ(decodeResponseText(c.body, c.body), c.expected) << c.name;
    EXPECT_EQ(c.body, before) << c.name << ": body untouched";
  }
  const std::string decoded = decodeResponseText(utf8Page(), utf8Page());
  EXPECT_NE(decoded.find("\xD6\xB1\xB2\xA5\xBC\xE4"), std::string::npos) << "直播间 as GBK bytes";
}

TEST(ResponseDecoding, KeepsTextWithoutUsableDeclaration) {
  const std::string late = padding(1024) + "<meta charset=\"utf-8\">\xE4\xB8\xAD";
  const std::string cutName = padding(1024 - 16) + "<meta charset=utf-8>";  // window ends in "ut"
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"no declaration", "<html><body>\xE4\xB8\xAD</body></html>"},
      {"declaration only after 1024 bytes", late},
      {"name cut by the window end", cutName},
      {"charset on the line after <meta",
       "<meta http-equiv=\"Content-Type\"\ncontent=\"text/html; charset=utf-8\">\xE4\xB8\xAD"},
      {"blank and quote after the equals sign", "<meta charset= \"utf-8\">\xE4\xB8\xAD"},
      {"gb2312 kept byte for byte", "<meta charset=gb2312>\xD6\xD0\xFF\x80"},
      {"gbk kept byte for byte", "<meta charset=gbk>\xD6\xD0\xFF\x80"},
      {"unknown charset", "<meta charset=x-no-such-charset>\xE4\xB8\xAD"},
      {"empty page", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(decodeResponseText(c.text, c.text), c.text) << c.name;
}

TEST(ResponseDecoding, ZeroBytes) {
  // The result text is the body up to its first zero byte; a declared page is
  // converted from the whole body, and the converted text again ends at its
  // first zero byte.
  const ByteData gbkBody = std::string("<meta charset=gbk>a\0b", 21);
  EXPECT_EQ(decodeResponseText("<meta charset=gbk>a", gbkBody), "<meta charset=gbk>a");
  const ByteData utf8Body = std::string("<meta charset=utf-8>\xE4\xB8\xAD\0tail", 28);
  EXPECT_EQ(decodeResponseText("<meta charset=utf-8>\xE4\xB8\xAD", utf8Body), "<meta charset=utf-8>中"_gbk);
}

// ================================================================ the request routine

using testing::httpResponse;
using testing::LoopbackHttpServer;
using testing::ReceivedRequest;
using testing::Reply;

constexpr std::string_view kDefaultUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
constexpr std::string_view kDefaultAccept = "Accept: text/html, application/xhtml+xml, */*";
constexpr std::string_view kDefaultEncoding = "Accept-Encoding: gbk, GB2312";
constexpr std::string_view kDefaultLanguage = "Accept-Language: zh-cn";
constexpr std::string_view kDefaultContentType = "Content-Type: application/x-www-form-urlencoded";
constexpr std::string_view kDefaultCacheControl = "Cache-Control: no-cache";

std::string join(std::initializer_list<std::string_view> lines, std::string_view separator = "\r\n") {
  std::string joined;
  for (std::string_view line : lines) {
    if (!joined.empty()) joined += separator;
    joined += line;
  }
  return joined;
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    unsigned value = static_cast<unsigned char>(bytes[at]) << 16;
    if (at + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[at + 1]) << 8;
    if (at + 2 < bytes.size()) value |= static_cast<unsigned char>(bytes[at + 2]);
    encoded += kAlphabet[(value >> 18) & 63];
    encoded += kAlphabet[(value >> 12) & 63];
    encoded += at + 1 < bytes.size() ? kAlphabet[(value >> 6) & 63] : '=';
    encoded += at + 2 < bytes.size() ? kAlphabet[value & 63] : '=';
  }
  return encoded;
}

// A loopback port with nothing listening on it.
int closedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// The header lines of a request after its Host line.
std::vector<std::string> linesAfterHost(const ReceivedRequest& request) {
  std::vector<std::string> lines = request.headerLines();
  EXPECT_FALSE(lines.empty());
  if (!lines.empty()) {
    EXPECT_EQ(lines.front().rfind("Host: ", 0), 0u) << lines.front();
    lines.erase(lines.begin());
  }
  return lines;
}

Reply echoMethod(const ReceivedRequest& request) { return {httpResponse("200 OK", request.method)}; }

// ---------------------------------------------------------------- verbs and header block

TEST(FetchTimeout, ZeroOrLessMeansThirtySeconds) {
  const struct {
    int seconds;
    long ms;
  } cases[] = {{0, 30000}, {-5, 30000}, {5, 5000}, {1, 1000}, {INT_MAX, (INT_MAX / 1000) * 1000L}};
  for (const auto& c : cases) EXPECT_EQ(fetchTimeoutMs(c.seconds), c.ms) << c.seconds;
}

TEST(RequestVerb, TableAndOutOfRange) {
  const struct {
    int method;
    std::string_view verb;
  } cases[] = {{0, "GET"},   {1, "POST"},    {2, "HEAD"}, {3, "PUT"},  {4, "OPTIONS"}, {5, "DELETE"},
               {6, "TRACE"}, {7, "CONNECT"}, {8, "GET"},  {-1, "GET"}, {1000, "GET"}};
  for (const auto& c : cases) EXPECT_EQ(requestVerb(c.method), c.verb) << c.method;
}

TEST(RequestHeaderBlock, BuildsTheBlockLineByLine) {
  struct Case {
    const char* name;
    std::string extraHeaders;
    int method;
    bool addDefaultHeaders;
    bool normalizeHeaders;
    std::string sendCookies;
    std::string expected;
  };
  const std::string defaults =
      join({kDefaultUserAgent, kDefaultAccept, kDefaultEncoding, kDefaultLanguage, kDefaultCacheControl});
  const Case cases[] = {
      {"defaults for GET, no final line end", "", 0, true, true, "", defaults},
      {"POST adds Content-Type before Cache-Control", "", 1, true, true, "",
       join({kDefaultUserAgent, kDefaultAccept, kDefaultEncoding, kDefaultLanguage, kDefaultContentType,
             kDefaultCacheControl})},
      {"PUT gets no Content-Type", "", 3, true, true, "", defaults},
      {"the resolver's call", "user-agent: Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N)", 0, true,
       true, "",
       join({"User-Agent: Mozilla/5.0 (Linux; Android 6.0; Nexus 5 Build/MRA58N)", kDefaultAccept,
             kDefaultEncoding, kDefaultLanguage, kDefaultCacheControl})},
      {"User-Agent without the blank keeps the default beside it", "User-Agent:Mine", 0, true, true, "",
       "User-Agent:Mine\r\n" + defaults},
      {"a test text inside a value suppresses its line", "X-Note: we accept: anything", 0, true, true, "",
       join({"X-Note: we accept: anything", kDefaultUserAgent, kDefaultEncoding, kDefaultLanguage,
             kDefaultCacheControl})},
      {"a caller's Content-Type without blank counts for POST", "content-type:text/plain", 1, true, true, "",
       join({"Content-Type:text/plain", kDefaultUserAgent, kDefaultAccept, kDefaultEncoding, kDefaultLanguage,
             kDefaultCacheControl})},
      {"a keep-alive line followed by a line end goes", "Connection: keep-alive\r\nX-A: 1", 0, false, true,
       "", "X-A: 1"},
      {"a keep-alive line that ends the block stays", "X-A: 1\r\nConnection: keep-alive", 0, false, true, "",
       "X-A: 1\r\nConnection: keep-alive"},
      {"Keep-Alive in other case stays", "Connection: Keep-Alive\r\nX-A: 1", 0, false, true, "",
       "Connection: Keep-Alive\r\nX-A: 1"},
      {"keep-alive line removed after the defaults", "Connection: keep-alive", 0, true, true, "", defaults},
      {"the cookie line is added after normalisation", "x-a: 1", 0, false, true, "a=1; b=2",
       "X-A: 1\r\nCookie: a=1; b=2\r\n"},
      {"a caller's Cookie line wins", "cookie: z=9", 0, false, true, "a=1", "Cookie: z=9"},
      {"sendCookies with its own Cookie: prefix", "", 0, false, true, "Cookie: a=1", "\r\nCookie: a=1\r\n"},
      {"without normalisation the block keeps its line end and bad lines", "bad line\r\nx-a: 1", 0, false,
       false, "", "bad line\r\nx-a: 1\r\n"},
      {"normalisation drops lines without a colon", "bad\r\n\r\nhost:x", 0, false, true, "", "Host:x"},
      {"nothing at all", "", 0, false, true, "", ""},
  };
  for (const Case& c : cases) {
    std::string cookies = c.sendCookies;
    const HttpFetchParams params{.url = "http://127.0.0.1/",
                                 .method = c.method,
                                 .sendCookies = &cookies,
                                 .extraHeaders = c.extraHeaders,
                                 .addDefaultHeaders = c.addDefaultHeaders,
                                 .normalizeHeaders = c.normalizeHeaders};
    EXPECT_EQ(buildRequestHeaderBlock(params), c.expected) << c.name;
  }
}

TEST(RequestHeaderBlock, LinesForTheTransportSkipEmptyPieces) {
  EXPECT_EQ(requestHeaderLines("A: 1\r\n\r\nB: 2\r\n"), (std::vector<std::string>{"A: 1", "B: 2"}));
  EXPECT_TRUE(requestHeaderLines("").empty());
}

// ---------------------------------------------------------------- URL split

TEST(SplitUrl, SplitsWhatItCan) {
  struct Case {
    const char* name;
    std::string url;
    std::string scheme, host;
    int port;
    std::string objectName;
  } cases[] = {
      {"path, query and fragment", "http://example.com/a/b?x=1#f", "http", "example.com", 80, "/a/b?x=1#f"},
      {"https with a port", "https://h:8443/p", "https", "h", 8443, "/p"},
      {"scheme in capitals, no path", "HTTP://h", "http", "h", 80, "/"},
      {"query without path is not sent", "http://h?x=1", "http", "h", 80, "/"},
      {"fragment without path", "https://h#top", "https", "h", 443, "/"},
      {"user information is dropped", "http://user:pw@h:81/x", "http", "h", 81, "/x"},
      {"IPv6 literal", "http://[::1]:8080/x", "http", "[::1]", 8080, "/x"},
      {"empty port means the default", "http://h:/x", "http", "h", 80, "/x"},
      {"GBK text stays as written", "http://h/\xD6\xD0\xCE\xC4?q=\xB0\xA1", "http", "h", 80,
       "/\xD6\xD0\xCE\xC4?q=\xB0\xA1"},
  };
  for (const Case& c : cases) {
    const std::optional<UrlParts> parts = splitUrl(c.url);
    ASSERT_TRUE(parts) << c.name;
    EXPECT_EQ(parts->scheme, c.scheme) << c.name;
    EXPECT_EQ(parts->host, c.host) << c.name;
    EXPECT_EQ(parts->port, c.port) << c.name;
    EXPECT_EQ(parts->objectName(), c.objectName) << c.name;
    EXPECT_EQ(parts->secure(), c.scheme == "https") << c.name;
  }
}

TEST(SplitUrl, RefusesWhatCannotBeSplit) {
  const char* urls[] = {"",
                        "example.com/x",
                        "ftp://h/x",
                        "http://",
                        "http:///x",
                        "http://h:0/",
                        "http://h:99999/",
                        "http://h:8a/",
                        "http://[::1/",
                        "//h/x"};
  for (const char* url : urls) EXPECT_FALSE(splitUrl(url)) << url;
}

// ---------------------------------------------------------------- response headers

TEST(ResponseHeaderCollector, KeepsOnlyTheLastResponse) {
  struct Case {
    const char* name;
    std::vector<std::string> lines;
    std::string expected;
    bool complete;
  } cases[] = {
      {"one response", {"HTTP/1.1 200 OK\r\n", "A: 1\r\n", "\r\n"}, "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n", true},
      {"interim 100 Continue",
       {"HTTP/1.1 100 Continue\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "B: 2\r\n", "\r\n"},
       "HTTP/1.1 200 OK\r\nB: 2\r\n\r\n",
       true},
      {"redirect chain",
       {"HTTP/1.1 302 Found\r\n", "Location: /n\r\n", "\r\n", "HTTP/1.1 200 OK\r\n", "\r\n"},
       "HTTP/1.1 200 OK\r\n\r\n",
       true},
      {"bare line feeds become CRLF",
       {"HTTP/1.0 200 OK\n", "A: 1\n", "\n"},
       "HTTP/1.0 200 OK\r\nA: 1\r\n\r\n",
       true},
      {"trailers after the block are ignored",
       {"HTTP/1.1 200 OK\r\n", "\r\n", "X-Trailer: 1\r\n", "\r\n"},
       "HTTP/1.1 200 OK\r\n\r\n",
       true},
      {"unfinished block", {"HTTP/1.1 200 OK\r\n", "A: 1\r\n"}, "HTTP/1.1 200 OK\r\nA: 1\r\n", false},
  };
  for (const Case& c : cases) {
    ResponseHeaderCollector collector;
    for (const std::string& line : c.lines) collector.addLine(line);
    EXPECT_EQ(collector.text(), c.expected) << c.name;
    EXPECT_EQ(collector.complete(), c.complete) << c.name;
  }
}

TEST(ResponseHeaderCollector, StatusFromTheFirstLine) {
  EXPECT_EQ(statusFromHeaders("HTTP/1.1 200 OK\r\nA: 1\r\n\r\n"), "200 OK");
  EXPECT_EQ(statusFromHeaders("HTTP/1.1 404 Not Found\r\n\r\n"), "404 Not Found");
  EXPECT_EQ(statusFromHeaders("HTTP/1.1 302\r\n\r\n"), "302");
  EXPECT_EQ(statusFromHeaders("HTTP/1.1 "), "");
  EXPECT_EQ(statusFromHeaders(""), "");
}

TEST(FetchFailure, MessagesAreExact) {
  const struct {
    FetchFailure failure;
    const char* utf8;
  } cases[] = {
      {FetchFailure::TransportMissing, "700 当前系统不支持WinHttp服务!"},
      {FetchFailure::BadUrl, "701 解析URL地址失败!"},
      {FetchFailure::Session, "702 创建WinHttp会话失败!"},
      {FetchFailure::Connection, "703 创建WinHttp连接失败!"},
      {FetchFailure::Request, "704 创建WinHttp请求失败!"},
      {FetchFailure::Timeouts, "705 设置超时时间失败!"},
      {FetchFailure::Credentials, "707 设置代理凭证失败!"},
      {FetchFailure::Certificate, "忽略错误/证书错误  失败！"},
      {FetchFailure::Cookies, "708 禁止自动设置Cookies失败!"},
      {FetchFailure::Redirects, "709 重定向设置失败!"},
      {FetchFailure::Headers, "710 设置协议头失败!"},
      {FetchFailure::Send, "711 发送请求失败!"},
      {FetchFailure::NoResponse, "712 服务器未响应!"},
      {FetchFailure::Read, "713 读取数据失败!"},
  };
  for (const auto& c : cases) EXPECT_EQ(fetchFailureMessage(c.failure), utf8ToGbk(c.utf8)) << c.utf8;
}

// ---------------------------------------------------------------- what goes over the wire

TEST(HttpFetchWire, DefaultLinesInOrderAndNothingOfCurlsOwn) {
  LoopbackHttpServer server(echoMethod);
  std::string status;
  EXPECT_EQ(httpFetch({.url = server.url("/page?q=1"), .statusText = &status}), "GET");
  EXPECT_EQ(status, "200 OK");
  ASSERT_EQ(server.requestCount(), 1u);
  const ReceivedRequest request = server.requests()[0];
  EXPECT_EQ(request.raw, "GET /page?q=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                             "\r\n" +
                             join({kDefaultUserAgent, kDefaultAccept, kDefaultEncoding, kDefaultLanguage,
                                   kDefaultCacheControl}) +
                             "\r\n\r\n");
}

TEST(HttpFetchWire, HeaderRulesOnTheWire) {
  struct Case {
    const char* name;
    HttpFetchParams params;
    std::string sendCookies;
    std::vector<std::string> expectedLines;  // after Host
    std::string expectedBody;
  };
  const std::vector<std::string> defaults = {std::string(kDefaultUserAgent), std::string(kDefaultAccept),
                                             std::string(kDefaultEncoding), std::string(kDefaultLanguage),
                                             std::string(kDefaultCacheControl)};
  auto with = [](std::vector<std::string> lines, std::initializer_list<std::string> more) {
    lines.insert(lines.end(), more);
    return lines;
  };
  Case cases[] = {
      {"POST sends the form Content-Type and a zero length",
       {.method = 1},
       "",
       {std::string(kDefaultUserAgent), std::string(kDefaultAccept), std::string(kDefaultEncoding),
        std::string(kDefaultLanguage), std::string(kDefaultContentType), std::string(kDefaultCacheControl),
        "Content-Length: 0"},
       ""},
      {"PUT with a body sends no Content-Type",
       {.method = 3, .postText = "k=v"},
       "",
       with(defaults, {"Content-Length: 3"}),
       "k=v"},
      {"postBytes win over postText",
       {.method = 1, .postText = "text", .addDefaultHeaders = false, .postBytes = std::string("b\0y", 3)},
       "",
       {"Content-Length: 3"},
       std::string("b\0y", 3)},
      {"a body with GET keeps the verb and sends no Content-Type",
       {.postText = "q", .addDefaultHeaders = false},
       "",
       {"Content-Length: 1"},
       "q"},
      {"no defaults: Host alone", {.addDefaultHeaders = false}, "", {}, ""},
      {"user-agent in any case suppresses the default",
       {.extraHeaders = "USER-AGENT: Mine"},
       "",
       {"USER-AGENT: Mine", std::string(kDefaultAccept), std::string(kDefaultEncoding),
        std::string(kDefaultLanguage), std::string(kDefaultCacheControl)},
       ""},
      {"User-Agent: without blank goes out beside the default",
       {.extraHeaders = "User-Agent:Mine"},
       "",
       {"User-Agent:Mine", std::string(kDefaultUserAgent), std::string(kDefaultAccept),
        std::string(kDefaultEncoding), std::string(kDefaultLanguage), std::string(kDefaultCacheControl)},
       ""},
      {"an empty value still goes out",
       {.extraHeaders = "X-Empty:", .addDefaultHeaders = false},
       "",
       {"X-Empty:"},
       ""},
      {"the caller's Cookie line wins over sendCookies",
       {.extraHeaders = "Cookie: mine=1", .addDefaultHeaders = false},
       "a=1",
       {"Cookie: mine=1"},
       ""},
      {"sendCookies become a Cookie line",
       {.addDefaultHeaders = false},
       "a=1; b=2",
       {"Cookie: a=1; b=2"},
       ""},
      {"sendCookies with their own prefix are not prefixed again",
       {.addDefaultHeaders = false},
       "Cookie: a=1",
       {"Cookie: a=1"},
       ""},
      {"a keep-alive line followed by others is dropped",
       {.extraHeaders = "Connection: keep-alive\r\nX-A: 1", .addDefaultHeaders = false},
       "",
       {"X-A: 1"},
       ""},
      {"a keep-alive line at the end stays",
       {.extraHeaders = "X-A: 1\r\nConnection: keep-alive", .addDefaultHeaders = false},
       "",
       {"X-A: 1", "Connection: keep-alive"},
       ""},
      {"lower-case names are normalised",
       {.extraHeaders = "x-requested-with: yes", .addDefaultHeaders = false},
       "",
       {"X-Requested-With: yes"},
       ""},
      {"names stay as written without normalisation",
       {.extraHeaders = "x-requested-with: yes", .addDefaultHeaders = false, .normalizeHeaders = false},
       "",
       {"x-requested-with: yes"},
       ""},
  };
  for (Case& c : cases) {
    LoopbackHttpServer server(echoMethod);
    std::string cookies = c.sendCookies;
    c.params.url = server.url("/h");
    c.params.sendCookies = &cookies;
    std::string status;
    c.params.statusText = &status;
    httpFetch(c.params);
    EXPECT_EQ(status, "200 OK") << c.name;
    ASSERT_EQ(server.requestCount(), 1u) << c.name;
    const ReceivedRequest request = server.requests()[0];
    EXPECT_EQ(linesAfterHost(request), c.expectedLines) << c.name;
    EXPECT_EQ(request.body, c.expectedBody) << c.name;
  }
}

TEST(HttpFetchWire, VerbTable) {
  const struct {
    int method;
    const char* verb;
  } cases[] = {{0, "GET"},    {1, "POST"},  {2, "HEAD"},    {3, "PUT"}, {4, "OPTIONS"},
               {5, "DELETE"}, {6, "TRACE"}, {7, "CONNECT"}, {8, "GET"}, {-1, "GET"}};
  for (const auto& c : cases) {
    LoopbackHttpServer server(echoMethod);
    std::string status;
    const std::string text = httpFetch({.url = server.url("/v"), .method = c.method, .statusText = &status});
    EXPECT_EQ(status, "200 OK") << c.verb;
    ASSERT_EQ(server.requestCount(), 1u) << c.verb;
    EXPECT_EQ(server.requests()[0].requestLine, std::string(c.verb) + " /v HTTP/1.1") << c.method;
    // HEAD reads no body.
    EXPECT_EQ(text, c.method == 2 ? "" : c.verb) << c.method;
  }
}

TEST(HttpFetchWire, LargeBodyGoesOutWithoutExpect) {
  LoopbackHttpServer server([](const ReceivedRequest& r) { return Reply{httpResponse("200 OK", r.method)}; });
  std::string big(2 << 20, 'x');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>('a' + (i / 4096) % 26);
  std::string status;
  httpFetch({.url = server.url("/up"), .method = 1, .statusText = &status, .postBytes = big});
  EXPECT_EQ(status, "200 OK");
  ASSERT_EQ(server.requestCount(), 1u);
  const ReceivedRequest request = server.requests()[0];
  EXPECT_FALSE(request.header("Expect"));
  EXPECT_EQ(request.body, big);
}

TEST(HttpFetchWire, AddressPieces) {
  LoopbackHttpServer server(echoMethod);
  const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
  const struct {
    const char* name;
    std::string url;
    std::string target;
  } cases[] = {
      {"query without path asks for /", base + "?x=1", "/"},
      {"fragment is not sent", base + "/p?x=1#frag", "/p?x=1"},
      {"dot segments stay as written", base + "/a/../b", "/a/../b"},
      {"GBK path goes out as escaped UTF-8", base + "/" + "中文"_gbk + "?q=a b",
       "/%E4%B8%AD%E6%96%87?q=a%20b"},
  };
  for (const auto& c : cases) {
    const std::size_t before = server.requestCount();
    std::string status;
    httpFetch({.url = c.url, .statusText = &status});
    EXPECT_EQ(status, "200 OK") << c.name;
    ASSERT_EQ(server.requestCount(), before + 1) << c.name;
    EXPECT_EQ(server.requests().back().target, c.target) << c.name;
  }
}

TEST(HttpFetchWire, BasicCredentialsOnlyWhenBothAreGiven) {
  const struct {
    const char* name;
    std::string user, password;
    std::optional<std::string> expected;
  } cases[] = {
      {"both", "user", "secret", "Basic " + base64("user:secret")},
      {"only the user", "user", "", std::nullopt},
      {"only the password", "", "secret", std::nullopt},
  };
  for (const auto& c : cases) {
    LoopbackHttpServer server(echoMethod);
    std::string status;
    httpFetch(
        {.url = server.url("/auth"), .userName = c.user, .password = c.password, .statusText = &status});
    EXPECT_EQ(status, "200 OK") << c.name;
    ASSERT_EQ(server.requestCount(), 1u) << c.name;
    EXPECT_EQ(server.requests()[0].header("Authorization"), c.expected) << c.name;
  }
}

TEST(HttpFetchWire, HeaderLinesThatCannotBeHeadersAreRefused) {
  const struct {
    const char* name;
    std::string extraHeaders;
    std::string sendCookies;
  } cases[] = {
      {"a line without a colon", "not a header", ""},
      {"a bare line feed inside a line", "X-A: 1\nX-Injected: 2", ""},
      {"a bare line feed inside the cookies", "", "a=1\nX-Injected: 2"},
  };
  for (const auto& c : cases) {
    LoopbackHttpServer server(echoMethod);
    std::string status, cookies = c.sendCookies;
    EXPECT_EQ(httpFetch({.url = server.url("/x"),
                         .sendCookies = &cookies,
                         .extraHeaders = c.extraHeaders,
                         .statusText = &status,
                         .normalizeHeaders = false}),
              "")
        << c.name;
    EXPECT_EQ(status, "710 设置协议头失败!"_gbk) << c.name;
    EXPECT_EQ(server.connectionCount(), 0) << c.name;
  }
}

// ---------------------------------------------------------------- responses

TEST(HttpFetchResponse, OutputsCookiesAndMerge) {
  // Header bytes come back as they were sent: a GBK value stays GBK.
  const std::string responseBytes =
      "HTTP/1.1 200 OK\r\nSet-Cookie: sid=abc; path=/; HttpOnly\r\nSet-Cookie: lang=zh\r\n"
      "X-Room: " +
      "直播间"_gbk +
      "\r\n"
      "Content-Length: 4\r\nConnection: close\r\n\r\nbody";
  LoopbackHttpServer server([&](const ReceivedRequest&) { return Reply{responseBytes}; });

  std::string status, headers, returned;
  ByteData body;
  EXPECT_EQ(httpFetch({.url = server.url("/c"),
                       .returnedCookies = &returned,
                       .returnedHeaders = &headers,
                       .statusText = &status,
                       .responseBody = &body}),
            "body");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(headers, responseBytes.substr(0, responseBytes.size() - 4));
  EXPECT_EQ(returned, "sid=abc; lang=zh");
  EXPECT_EQ(body, "body");

  std::string sent = "a=1; sid=old";
  returned.clear();
  httpFetch({.url = server.url("/c"), .sendCookies = &sent, .returnedCookies = &returned});
  EXPECT_EQ(sent, "sid=abc; lang=zh; a=1");
  EXPECT_EQ(returned, sent);
  EXPECT_EQ(server.requests().back().header("Cookie"), "a=1; sid=old");

  sent = "a=1";
  returned.clear();
  httpFetch({.url = server.url("/c"),
             .sendCookies = &sent,
             .returnedCookies = &returned,
             .autoMergeCookies = false});
  EXPECT_EQ(sent, "a=1") << "no merge asked";
  EXPECT_EQ(returned, "sid=abc; lang=zh");
}

TEST(HttpFetchResponse, ACallersCookieLineWinsAndTheMergeStillRuns) {
  LoopbackHttpServer server(
      [](const ReceivedRequest&) { return Reply{httpResponse("200 OK", "", {"Set-Cookie: b=5"})}; });
  std::string sent = "a=1";
  httpFetch({.url = server.url("/"), .sendCookies = &sent, .extraHeaders = "Cookie: own=1"});
  EXPECT_EQ(server.requests()[0].header("Cookie"), "own=1");
  EXPECT_EQ(sent, "b=5; a=1");
}

struct CallerOutputsForRedirect {
  std::string status;
  ByteData body = "untouched";
};

Reply redirectingHandler(const ReceivedRequest& request) {
  if (request.target == "/start")
    return {httpResponse("302 Found", "moved", {"Location: /next", "Set-Cookie: hop=1"})};
  return {httpResponse("200 OK", "final", {"X-Final: yes"})};
}

TEST(HttpFetchResponse, RedirectsFollowedAndNot) {
  LoopbackHttpServer server(redirectingHandler);
  std::string status, headers, location = "untouched", returned;
  EXPECT_EQ(httpFetch({.url = server.url("/start"),
                       .returnedCookies = &returned,
                       .returnedHeaders = &headers,
                       .redirectLocation = &location,
                       .statusText = &status}),
            "final");
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
  EXPECT_NE(headers.find("X-Final: yes\r\n"), std::string::npos);
  EXPECT_EQ(headers.find("Location"), std::string::npos) << "only the last response";
  EXPECT_EQ(location, "untouched");
  EXPECT_EQ(returned, "");
  ASSERT_EQ(server.requestCount(), 2u);
  EXPECT_FALSE(server.requests()[1].header("Cookie")) << "cookie handling is off without sendCookies";

  ByteData body;
  EXPECT_EQ(httpFetch({.url = server.url("/start"),
                       .returnedCookies = &returned,
                       .returnedHeaders = &headers,
                       .disableRedirects = true,
                       .redirectLocation = &location,
                       .statusText = &status,
                       .responseBody = &body}),
            "moved");
  EXPECT_EQ(status, "302 Found");
  EXPECT_EQ(location, "/next");
  EXPECT_EQ(returned, "hop=1");
  EXPECT_EQ(body, "moved");
  EXPECT_EQ(server.requestCount(), 3u);
}

TEST(HttpFetchResponse, RedirectsThatCannotBeFollowedAreNoAnswer) {
  const struct {
    const char* name;
    std::string location;
  } cases[] = {
      {"a redirect loop", "/again"},
      {"a redirect to another scheme", "ftp://127.0.0.1/file"},
  };
  for (const auto& c : cases) {
    LoopbackHttpServer server([&](const ReceivedRequest&) {
      return Reply{httpResponse("302 Found", "", {"Location: " + c.location})};
    });
    CallerOutputsForRedirect outputs;
    EXPECT_EQ(
        httpFetch(
            {.url = server.url("/again"), .statusText = &outputs.status, .responseBody = &outputs.body}),
        "")
        << c.name;
    EXPECT_EQ(outputs.status, "712 服务器未响应!"_gbk) << c.name;
    EXPECT_EQ(outputs.body, "untouched") << c.name;
    EXPECT_LE(server.requestCount(), 11u) << c.name;
  }
}

TEST(HttpFetchResponse, WithCookiesToSendTheChainCarriesCookiesItIsSet) {
  LoopbackHttpServer server(redirectingHandler);
  std::string sent = "mine=1";
  EXPECT_EQ(httpFetch({.url = server.url("/start"), .sendCookies = &sent}), "final");
  ASSERT_EQ(server.requestCount(), 2u);
  const std::string secondHop = server.requests()[1].headerBlock;
  EXPECT_NE(secondHop.find("hop=1"), std::string::npos) << secondHop;
  EXPECT_NE(secondHop.find("Cookie: mine=1\r\n"), std::string::npos) << secondHop;
}

TEST(HttpFetchResponse, BodiesWithZeroBytesEmptyBodiesAndErrorStatus) {
  struct Case {
    const char* name;
    std::string response;
    std::string status, text, body;
  };
  const Case cases[] = {
      {"zero byte ends the text, not the body", httpResponse("200 OK", std::string("ab\0cd", 5)), "200 OK",
       "ab", std::string("ab\0cd", 5)},
      {"empty body", httpResponse("204 No Content", ""), "204 No Content", "", ""},
      {"an error status is no failure", httpResponse("404 Not Found", "missing"), "404 Not Found", "missing",
       "missing"},
      {"interim 100 Continue before the answer",
       "HTTP/1.1 100 Continue\r\n\r\n" + httpResponse("200 OK", "after"), "200 OK", "after", "after"},
      {"chunked body with a trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: "
       "close\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n"
       "X-Trailer: t\r\n\r\n",
       "200 OK", "abcde", "abcde"},
      {"content coding stays as received",
       httpResponse("200 OK", std::string("\x1f\x8b\x08\x00", 4), {"Content-Encoding: gzip"}), "200 OK",
       std::string("\x1f\x8b\x08", 3), std::string("\x1f\x8b\x08\x00", 4)},
  };
  for (const Case& c : cases) {
    LoopbackHttpServer server([&](const ReceivedRequest&) { return Reply{c.response}; });
    std::string status, headers;
    ByteData body = "stale";
    EXPECT_EQ(httpFetch({.url = server.url("/b"),
                         .returnedHeaders = &headers,
                         .statusText = &status,
                         .responseBody = &body}),
              c.text)
        << c.name;
    EXPECT_EQ(status, c.status) << c.name;
    EXPECT_EQ(body, c.body) << c.name;
    EXPECT_EQ(headers.rfind("HTTP/1.1 " + c.status + "\r\n", 0), 0u) << c.name << headers;
    EXPECT_EQ(headers.find("X-Trailer"), std::string::npos) << c.name;
  }
}

TEST(HttpFetchResponse, MetaCharsetUtf8PageComesBackAsGbk) {
  const std::string page = "<html><head><meta charset=\"utf-8\"></head><body>直播间</body></html>";
  LoopbackHttpServer server([&](const ReceivedRequest&) { return Reply{httpResponse("200 OK", page)}; });
  ByteData body;
  EXPECT_EQ(httpFetch({.url = server.url("/"), .responseBody = &body}), utf8ToGbk(page));
  EXPECT_EQ(body, page) << "the bytes stay as received";
}

// ---------------------------------------------------------------- failures

struct CallerOutputs {
  std::string sendCookies = "keep=1";
  std::string returnedCookies = "rc";
  std::string returnedHeaders = "rh";
  std::string redirectLocation = "rl";
  std::string statusText = "st";
  ByteData responseBody = "rb";

  HttpFetchParams params(std::string url, int timeoutSeconds = 0) {
    return {.url = std::move(url),
            .sendCookies = &sendCookies,
            .returnedCookies = &returnedCookies,
            .returnedHeaders = &returnedHeaders,
            .timeoutSeconds = timeoutSeconds,
            .redirectLocation = &redirectLocation,
            .statusText = &statusText,
            .responseBody = &responseBody};
  }

  // Every output but the status as the caller passed it.
  void expectUntouched(const char* name) const {
    EXPECT_EQ(sendCookies, "keep=1") << name;
    EXPECT_EQ(returnedCookies, "rc") << name;
    EXPECT_EQ(returnedHeaders, "rh") << name;
    EXPECT_EQ(redirectLocation, "rl") << name;
    EXPECT_EQ(responseBody, "rb") << name;
  }
};

TEST(HttpFetchFailure, AddressesThatCannotBeSplit) {
  const char* urls[] = {
      "", "127.0.0.1/x", "ftp://127.0.0.1/", "file:///etc/passwd", "http://", "http://127.0.0.1:70000/"};
  for (const char* url : urls) {
    CallerOutputs outputs;
    EXPECT_EQ(httpFetch(outputs.params(url)), "") << url;
    EXPECT_EQ(outputs.statusText, "701 解析URL地址失败!"_gbk) << url;
    outputs.expectUntouched(url);
  }
}

TEST(HttpFetchFailure, RefusedConnectionCannotSend) {
  CallerOutputs outputs;
  EXPECT_EQ(httpFetch(outputs.params("http://127.0.0.1:" + std::to_string(closedPort()) + "/", 2)), "");
  EXPECT_EQ(outputs.statusText, "711 发送请求失败!"_gbk);
  outputs.expectUntouched("refused");
}

TEST(HttpFetchFailure, NoAnswerWithinTheTimeOut) {
  struct Case {
    const char* name;
    Reply reply;
  } cases[] = {
      {"accepts and never answers", {.holdOpen = true}},
      {"headers begun, never finished", {.bytes = "HTTP/1.1 200 OK\r\nContent-Le", .holdOpen = true}},
      {"closes without a word", {}},
  };
  for (const Case& c : cases) {
    LoopbackHttpServer server([&](const ReceivedRequest&) { return c.reply; });
    CallerOutputs outputs;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(httpFetch(outputs.params(server.url("/slow"), 1)), "") << c.name;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(outputs.statusText, "712 服务器未响应!"_gbk) << c.name;
    outputs.expectUntouched(c.name);
    EXPECT_LT(elapsed, std::chrono::seconds(10)) << c.name << ": the time-out must end the wait";
    if (c.reply.holdOpen) {
      EXPECT_GE(elapsed, std::chrono::milliseconds(900)) << c.name;
    }
  }
}

TEST(HttpFetchFailure, BodyCutShortKeepsTheBytesAndReportsTheStatus) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n";
  const std::string part(100, 'p');
  struct Case {
    const char* name;
    Reply reply;
  } cases[] = {
      {"closed early", {.bytes = head + part}},
      {"stalled in the body", {.bytes = head + part, .holdOpen = true}},
      {"chunked body broken off",
       {.bytes = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n64\r\n" + part + "\r\n"}},
  };
  for (const Case& c : cases) {
    LoopbackHttpServer server([&](const ReceivedRequest&) { return c.reply; });
    std::string status, headers;
    ByteData body;
    EXPECT_EQ(httpFetch({.url = server.url("/cut"),
                         .returnedHeaders = &headers,
                         .timeoutSeconds = 1,
                         .statusText = &status,
                         .responseBody = &body}),
              part)
        << c.name;
    EXPECT_EQ(status, "200 OK") << c.name;
    EXPECT_EQ(body, part) << c.name;
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << c.name;
  }
}

TEST(HttpFetchFailure, TheTimeOutLimitsEachWaitNotAFlowingTransfer) {
  std::string page;
  for (int i = 0; i < 12; ++i) page += std::string(100, static_cast<char>('a' + i));
  const std::string response = httpResponse("200 OK", page);
  // About 2.4 s in all, no pause longer than 200 ms.
  LoopbackHttpServer server([&](const ReceivedRequest&) {
    return Reply{.bytes = response, .trickleBytes = 100, .trickleMs = 200};
  });
  std::string status;
  ByteData body;
  httpFetch({.url = server.url("/flow"), .timeoutSeconds = 1, .statusText = &status, .responseBody = &body});
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(body, page);
}

TEST(HttpFetchFailure, BodyBeyondTheLimitEndsTheRead) {
  const std::string response = httpResponse("200 OK", std::string(kMaxResponseBodyBytes + 4096, 'z'));
  LoopbackHttpServer server([&](const ReceivedRequest&) { return Reply{response}; });
  std::string status;
  ByteData body;
  httpFetch({.url = server.url("/huge"), .statusText = &status, .responseBody = &body});
  EXPECT_EQ(status, "200 OK");
  EXPECT_EQ(body.size(), kMaxResponseBodyBytes);
}

// ---------------------------------------------------------------- proxies

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    ::setenv(name, value.c_str(), 1);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    if (m_old)
      ::setenv(m_name, m_old->c_str(), 1);
    else
      ::unsetenv(m_name);
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(HttpFetchProxy, HttpGoesThroughTheNamedProxyWithItsCredentials) {
  LoopbackHttpServer proxy([](const ReceivedRequest&) { return Reply{httpResponse("200 OK", "via proxy")}; });
  const std::string target = "http://127.0.0.1:" + std::to_string(closedPort()) + "/via?x=1";
  const struct {
    const char* name;
    std::string user, password;
    std::optional<std::string> authorization;
  } cases[] = {
      {"with credentials", "pu", "pp", "Basic " + base64("pu:pp")},
      {"only a user name", "pu", "", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::size_t before = proxy.requestCount();
    std::string status;
    EXPECT_EQ(httpFetch({.url = target,
                         .proxyAddress = "127.0.0.1:" + std::to_string(proxy.port()),
                         .proxyUserName = c.user,
                         .proxyPassword = c.password,
                         .statusText = &status}),
              "via proxy")
        << c.name;
    EXPECT_EQ(status, "200 OK") << c.name;
    ASSERT_EQ(proxy.requestCount(), before + 1) << c.name;
    const ReceivedRequest request = proxy.requests().back();
    EXPECT_EQ(request.requestLine, "GET " + target + " HTTP/1.1") << c.name;
    EXPECT_EQ(request.header("Proxy-Authorization"), c.authorization) << c.name;
  }
}

TEST(HttpFetchProxy, HttpsAsksTheProxyForATunnel) {
  const struct {
    const char* name;
    std::string proxyReply;
    int timeoutSeconds;
    std::string status;
  } cases[] = {
      {"a refusal is reported as the proxy's answer",
       httpResponse("407 Proxy Authentication Required", "", {"Proxy-Authenticate: Basic realm=\"p\""}), 5,
       "407 Proxy Authentication Required"},
      // The tunnel stands, but nothing behind it answers the TLS greeting.
      {"an open tunnel without a server behind it", "HTTP/1.1 200 Connection established\r\n\r\n", 1,
       "711 发送请求失败!"_gbk},
  };
  for (const auto& c : cases) {
    LoopbackHttpServer proxy(
        [&](const ReceivedRequest&) { return Reply{.bytes = c.proxyReply, .holdOpen = true}; });
    const std::string hostPort = "127.0.0.1:" + std::to_string(closedPort());
    std::string status, headers = "untouched";
    EXPECT_EQ(httpFetch({.url = "https://" + hostPort + "/s",
                         .returnedHeaders = &headers,
                         .proxyAddress = "127.0.0.1:" + std::to_string(proxy.port()),
                         .proxyUserName = "pu",
                         .proxyPassword = "pp",
                         .timeoutSeconds = c.timeoutSeconds,
                         .statusText = &status}),
              "")
        << c.name;
    EXPECT_EQ(status, c.status) << c.name;
    ASSERT_EQ(proxy.requestCount(), 1u) << c.name;
    const ReceivedRequest request = proxy.requests()[0];
    EXPECT_EQ(request.requestLine, "CONNECT " + hostPort + " HTTP/1.1") << c.name;
    EXPECT_EQ(request.header("Proxy-Authorization"), "Basic " + base64("pu:pp")) << c.name;
    EXPECT_FALSE(request.header("User-Agent")) << c.name << ": the caller's headers go to the server only";
  }
}

TEST(HttpFetchProxy, WithoutAProxyTheEnvironmentIsIgnored) {
  LoopbackHttpServer proxy([](const ReceivedRequest&) { return Reply{httpResponse("200 OK", "proxy")}; });
  LoopbackHttpServer direct([](const ReceivedRequest&) { return Reply{httpResponse("200 OK", "direct")}; });
  const std::string proxyUrl = proxy.url("");
  const ScopedEnvironment variables[] = {{"http_proxy", proxyUrl},
                                         {"HTTP_PROXY", proxyUrl},
                                         {"https_proxy", proxyUrl},
                                         {"ALL_PROXY", proxyUrl},
                                         {"all_proxy", proxyUrl}};
  EXPECT_EQ(httpFetch({.url = direct.url("/d")}), "direct");
  EXPECT_EQ(proxy.connectionCount(), 0);
  EXPECT_EQ(direct.requestCount(), 1u);
}

// ---------------------------------------------------------------- TLS

TEST(HttpFetchTls, CertificateProblemsAreAccepted) {
  constexpr long kDay = 24 * 3600;
  const struct {
    const char* name;
    long validFrom, validTo;
  } cases[] = {
      {"self-signed for a wrong host name", -kDay, kDay},
      {"expired", -2 * kDay, -kDay},
      {"not yet valid", kDay, 2 * kDay},
  };
  for (const auto& c : cases) {
    const testing::SelfSignedCertificate made =
        testing::makeSelfSignedCertificate("wrong-host.invalid", c.validFrom, c.validTo);
    httplib::SSLServer server(made.certificate.get(), made.key.get());
    ASSERT_TRUE(server.is_valid()) << c.name;
    server.Get("/secure", [](const httplib::Request&, httplib::Response& response) {
      response.set_content("secure page", "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    std::string status;
    EXPECT_EQ(httpFetch({.url = "https://127.0.0.1:" + std::to_string(port) + "/secure",
                         .timeoutSeconds = 5,
                         .statusText = &status}),
              "secure page")
        << c.name;
    EXPECT_EQ(status, "200 OK") << c.name;
    server.stop();
    serving.join();
  }
}

TEST(HttpFetchTls, AFailedHandshakeMeansTheRequestWasNotSent) {
  // A plain HTTP server never answers the TLS greeting.
  LoopbackHttpServer plain(echoMethod);
  std::string status;
  EXPECT_EQ(httpFetch({.url = "https://127.0.0.1:" + std::to_string(plain.port()) + "/",
                       .timeoutSeconds = 1,
                       .statusText = &status}),
            "");
  EXPECT_EQ(status, "711 发送请求失败!"_gbk);
}

}  // namespace
}  // namespace lirevo
