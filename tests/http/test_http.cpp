// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>

#include "charset.h"
#include "gbk_literal.h"
#include "header_cookie.h"
#include "response_decoding.h"

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

}  // namespace
}  // namespace lirevo
