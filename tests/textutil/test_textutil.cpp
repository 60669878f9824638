// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <thread>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "memory_window.h"
#include "regex_matcher.h"

namespace lirevo {
namespace {

struct FindCase {
  const char* name;
  std::string text;
  std::string what;
  int start;
  bool ignoreCase;
  int expected;
};

TEST(GbkText, FindText) {
  const FindCase cases[] = {
      {"plain", "abcabc", "bc", 1, false, 2},
      {"from start position", "abcabc", "bc", 3, false, 5},
      {"not found", "abc", "x", 1, false, -1},
      {"empty needle", "abc", "", 1, false, -1},
      {"needle longer", "ab", "abc", 1, false, -1},
      {"case-sensitive by default", "ABC", "abc", 1, false, -1},
      {"ascii fold", "xABC", "abc", 1, true, 2},
      {"fold ascii only", "\xC4\xE3", "\xE4\xE3", 1, true, -1},
      {"trail 0x5C is no backslash", std::string("\x95\x5C") + "x", "\\", 1, false, -1},
      {"trail letter is no letter",
       "\x81\x41"
       "A",
       "A", 1, false, 3},
      {"trail letter, ignoring case",
       "\x81\x61"
       "a",
       "A", 1, true, 3},
      {"double-byte needle", "ab\xC4\xE3\xBA\xC3", "\xBA\xC3", 1, false, 5},
      {"needle across characters", "\xC4\xE3\xBA\xC3", "\xE3\xBA", 1, false, -1},
      {"lone lead byte at the end", "ab\xC4", "\xC4", 1, false, 3},
      {"start beyond the end", "abc", "c", 9, false, -1},
  };
  for (const FindCase& c : cases)
    EXPECT_EQ(findText(c.text, c.what, c.start, c.ignoreCase), c.expected) << c.name;
}

TEST(GbkText, ReplaceTrimSplitRemoveBlanks) {
  EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba") << "left to right";
  EXPECT_EQ(replaceAll("ab", "a", "aa"), "aab") << "no rescan";
  EXPECT_EQ(replaceAll("\x95\x5C\\", "\\", "/"), "\x95\x5C/") << "trail byte kept";

  struct TrimCase {
    const char* name;
    std::string text, expected;
  } trims[] = {
      {"ascii blanks", "  a b  ", "a b"},
      {"full-width blanks",
       "\xA1\xA1"
       "a\xA1\xA1",
       "a"},
      {"tabs and line ends stay", "\ta\r\n", "\ta\r\n"},
      {"a trail A1 is no blank", "\xB0\xA1\xA1\xA1", "\xB0\xA1"},
      {"only blanks", " \xA1\xA1 ", ""},
  };
  for (const TrimCase& c : trims) EXPECT_EQ(trimBlanks(c.text), c.expected) << c.name;

  struct SplitCase {
    const char* name;
    std::string text;
    std::vector<std::string> expected;
  } splits[] = {
      {"empty text", "", {}},
      {"adjacent separators", "a;;b", {"a", "", "b"}},
      {"final separator", "a;b;", {"a", "b"}},
      {"leading separator", ";a", {"", "a"}},
      {"only a separator", ";", {""}},
      {"no separator", "ab", {"ab"}},
  };
  for (const SplitCase& c : splits) EXPECT_EQ(splitText(c.text, ";"), c.expected) << c.name;
  EXPECT_EQ(splitText("a\r\nb\r\n\r\nc", "\r\n"), (std::vector<std::string>{"a", "b", "", "c"}));

  EXPECT_EQ(removeBlanks(" ht tp\xA1\xA1://\tx "), "http://\tx");
  EXPECT_EQ(removeBlanks("\xB0\xA1\xA1\xA1 "), "\xB0\xA1") << "trail A1 then a full-width blank";
}

TEST(Charset, RoundTripsAndReplacement) {
  const std::string gbk = "\xD6\xD0\xCE\xC4";  // 中文
  EXPECT_EQ(gbkToUtf8(gbk), "中文");
  EXPECT_EQ(utf8ToGbk("中文"), gbk);
  EXPECT_EQ(gbkToUtf16(gbk), u"中文");
  EXPECT_EQ(utf16ToGbk(u"中文"), gbk);
  EXPECT_EQ(utf8ToGbk("a\xE2\x82\xAC"), "a\x80") << "euro as code page 936 has it";

  // Characters GBK lacks and invalid input both become "?" and conversion goes on.
  EXPECT_EQ(utf8ToGbk("a😀b"), "a?b");
  EXPECT_EQ(utf8ToGbk("a\xFF\xFE"
                      "b"),
            "a??b");
  EXPECT_EQ(utf8ToGbk("ab\xE4\xB8"), "ab?") << "cut-off sequence at the end";
  EXPECT_EQ(utf16ToGbk(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b") << "lone surrogate";
  EXPECT_EQ(gbkToUtf8("a\xFF"), "a?");
  EXPECT_EQ(utf8ToGbk(""), "");
}

TEST(Charset, BadBytesAndLongTextsConvertAsIconvDoesInOneGo) {
  struct Case {
    const char* name;
    std::string utf8;
    std::string gbk;
  } cases[] = {
      {"a lead byte followed by no continuation",
       "\xE4\xB8"
       "A",
       "??A"},
      {"an overlong form", "\xC0\x80", "??"},
      {"a surrogate", "\xED\xA0\x80", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"a four-byte form cut short at the end", "a\xF0\x9F\x98", "a?"},
      {"a three-byte lead whose second byte would be overlong, at the end", "a\xE0\x80", "a?"},
      {"an old five-byte lead cut short at the end", "a\xF8\x88\x80", "a?"},
      {"a lone continuation byte",
       "a\x80"
       "b",
       "a?b"},
  };
  for (const Case& c : cases) EXPECT_EQ(utf8ToGbk(c.utf8), c.gbk) << c.name;

  // Long texts are converted piece by piece: characters that straddle a
  // piece boundary, at every alignment, come out whole.
  for (std::size_t shift = 0; shift < 8; ++shift) {
    std::string utf8(shift, 'a'), gbk(shift, 'a'), big5(shift, 'a'), utf16;
    for (std::size_t i = 0; i < shift; ++i) utf16.append("a\0", 2);
    for (int i = 0; i < 300; ++i) {
      utf8 += "中文😀";
      gbk += "\xD6\xD0\xCE\xC4?";
      big5 += "\xA4\xA4";
      utf16 += std::string("\x2D\x4E\x3D\xD8\x00\xDE", 6);  // 中 and an emoji as a surrogate pair
    }
    EXPECT_EQ(utf8ToGbk(utf8), gbk) << shift;
    EXPECT_EQ(charsetToGbk("utf-8", utf8), gbk) << shift;
    std::string gbkBig5(shift, 'a'), gbkUtf16(shift, 'a');
    for (int i = 0; i < 300; ++i) {
      gbkBig5 += "\xD6\xD0";
      gbkUtf16 += "\xD6\xD0?";
    }
    EXPECT_EQ(charsetToGbk("big5", big5), gbkBig5) << shift;
    EXPECT_EQ(charsetToGbk("utf-16le", utf16), gbkUtf16) << shift;
    EXPECT_EQ(
        gbkToUtf8(gbkBig5), std::string(shift, 'a') +
                                [] {
                                  std::string s;
                                  for (int i = 0; i < 300; ++i) s += "中";
                                  return s;
                                }())
        << shift;
  }
}

TEST(Charset, NamedCharsets) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"utf-8", "\xE4\xB8\xAD", "\xD6\xD0"},
      {"UTF-8", "\xE4\xB8\xAD", "\xD6\xD0"},
      {"big5", "\xA4\xA4\xA4\xE5", "\xD6\xD0\xCE\xC4"},
      {"GBK", "\xD6\xD0", "\xD6\xD0"},
      {"gb2312", "\xD6\xD0", "\xD6\xD0"},
      {"iso-8859-1", "caf\xE9", "caf\xA8\xA6"},
      {"windows-1252", "\x80", "\x80"},
      {"shift_jis", "\x82\xA0", "\xA4\xA2"},
  };
  for (const Case& c : cases) {
    const auto converted = charsetToGbk(c.name, c.bytes);
    ASSERT_TRUE(converted.has_value()) << c.name;
    EXPECT_EQ(*converted, c.expected) << c.name;
  }
  EXPECT_FALSE(charsetToGbk("no-such-charset", "x").has_value());
  EXPECT_FALSE(charsetToGbk("", "x").has_value());
  EXPECT_FALSE(charsetToGbk("utf-8//IGNORE", "x").has_value());
}

TEST(GbkLiteral, ConvertedOnceToGbk) {
  EXPECT_EQ("中文"_gbk, "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(&"中文"_gbk, &"中文"_gbk);
}

constexpr const char* kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

TEST(RegexMatcher, NothingFoundAndRefusals) {
  RegexMatcher matcher;
  EXPECT_EQ(matcher.getPattern(), "") << "before the first search";
  EXPECT_EQ(matcher.getMatchCount(), 0);
  EXPECT_EQ(matcher.getMatch(1), "");
  EXPECT_EQ(matcher.replace("x"), "");

  ASSERT_TRUE(matcher.search("(x)y", "abc")) << "a search that finds nothing still ran";
  EXPECT_EQ(matcher.getMatchCount(), 0);
  EXPECT_EQ(matcher.getGroupCount(), 0);
  EXPECT_EQ(matcher.getMatch(1), "");
  EXPECT_EQ(matcher.getSubMatch(1, 1), "");
  EXPECT_EQ(matcher.replace("z"), "abc");

  ASSERT_TRUE(matcher.search("(b)", "abc"));
  EXPECT_EQ(matcher.getMatch(0), "") << "indexes count from 1";
  EXPECT_EQ(matcher.getMatch(2), "");
  EXPECT_EQ(matcher.getSubMatch(1, 0), "");
  EXPECT_EQ(matcher.getSubMatch(1, 2), "");
  EXPECT_EQ(matcher.getSubMatch(2, 1), "");
  int position = 7;
  EXPECT_EQ(matcher.getMatch(5, &position), "");
  EXPECT_EQ(position, -2);
}

TEST(RegexMatcher, BadPatternDropsPreviousMatches) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.search("b", "abcb"));
  ASSERT_EQ(matcher.getMatchCount(), 2);
  for (const char* bad : {"(", "a[", "*a", "a{2,1}", "(?<n>a)\\k<m>"}) {
    ASSERT_TRUE(matcher.search("b", "abcb"));
    EXPECT_FALSE(matcher.search(bad, "abcb")) << bad;
    EXPECT_EQ(matcher.getMatchCount(), 0) << bad;
    EXPECT_EQ(matcher.getMatch(1), "") << bad;
    EXPECT_EQ(matcher.getGroupCount(), 0) << bad;
    EXPECT_EQ(matcher.replace(), "") << bad;
    EXPECT_EQ(matcher.getPattern(), bad) << bad;
  }
  EXPECT_TRUE(matcher.search("c", "abc")) << "the next search works again";
  EXPECT_EQ(matcher.getMatch(1), "c");
}

TEST(RegexMatcher, OptionsAndGrammar) {
  struct Case {
    const char* name;
    std::string pattern, subject;
    bool caseSensitive, multiline, global;
    std::vector<std::string> matches;
  } cases[] = {
      {"case ignored by default", "abc", "xABCx", false, true, true, {"ABC"}},
      {"case-sensitive", "abc", "xABCx abc", true, true, true, {"abc"}},
      {"multi-line by default", "^\\w+$", "one\ntwo\nthree", false, true, true, {"one", "two", "three"}},
      {"lines end at CRLF too", "^\\w+$", "one\r\ntwo", false, true, true, {"one", "two"}},
      {"not multi-line", "^\\w+$", "one\ntwo", false, false, true, {}},
      {"not multi-line, anchors at the ends", "^\\w+", "one\ntwo", false, false, true, {"one"}},
      {"$ without multi-line only at the very end", "a$", "a\n", false, false, true, {}},
      {"dot stops at a line feed", "a.b", "a\nb a-b", false, true, true, {"a-b"}},
      {"dot stops at a carriage return", "a.b", "a\rb", false, true, true, {}},
      {"all matches", "\\d+", "1 22 333", false, true, true, {"1", "22", "333"}},
      {"first match only", "\\d+", "1 22 333", false, true, false, {"1"}},
      {"lazy quantifier", "<.+?>", "<a><b>", false, true, true, {"<a>", "<b>"}},
      {"empty matches move on", "a*", "baaac", false, true, true, {"", "aaa", "", ""}},
      {"word class is ASCII", "\\w+", "ab中文cd"_gbk, false, true, true, {"ab", "cd"}},
      {"non-word class takes a Chinese character", "[^\\w]", "a中"_gbk, false, true, true, {"中"_gbk}},
      {"Chinese in pattern and subject", "直播(\\w*)"_gbk, "在直播x中"_gbk, false, true, true, {"直播x"_gbk}},
      {"unicode escape", "\\u4E2D", "中"_gbk, false, true, true, {"中"_gbk}},
      {"trail byte 0x5C is no backslash",
       "\\\\",
       "\x95\x5C"
       "a",
       false,
       true,
       true,
       {}},
  };
  for (const Case& c : cases) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.search(c.pattern, c.subject, c.caseSensitive, c.multiline, c.global)) << c.name;
    std::vector<std::string> found;
    for (int i = 1; i <= matcher.getMatchCount(); ++i) found.push_back(matcher.getMatch(i));
    EXPECT_EQ(found, c.matches) << c.name;
  }
}

TEST(RegexMatcher, CharsetDeclarationWithDefaults) {
  struct Case {
    const char* name;
    std::string subject, charset;
  } cases[] = {
      {"quoted: the optional item takes the quote", "<meta charset=\"utf-8\">", "utf-8"},
      {"capitals", "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; CHARSET=GB2312\">", "GB2312"},
      {"unquoted", "<meta charset=big5>", "big5"},
      {"on a later line", "<html>\r\n<head><meta charset=\"iso-8859-1\" />", "iso-8859-1"},
      {"blank and quote", "<meta charset= \"utf-8\">", ""},
      {"split over two lines", "<meta\ncharset=utf-8>", ""},
  };
  for (const Case& c : cases) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.search(kCharsetPattern, c.subject)) << c.name;
    EXPECT_EQ(matcher.getSubMatch(1, 1), c.charset) << c.name;
  }
}

TEST(RegexMatcher, Groups) {
  RegexMatcher matcher;
  ASSERT_TRUE(matcher.search("(a)|(b)", "b a"));
  EXPECT_EQ(matcher.getGroupCount(), 2);
  EXPECT_EQ(matcher.getSubMatch(1, 1), "") << "group took no part in the match";
  EXPECT_EQ(matcher.getSubMatch(1, 2), "b");
  EXPECT_EQ(matcher.getSubMatch(2, 1), "a");
  EXPECT_EQ(matcher.getSubMatch(2, 2), "");

  ASSERT_TRUE(matcher.search("(\\w+)=(\\w*)(;)?", "a=1; b=; c=3"));
  ASSERT_EQ(matcher.getMatchCount(), 3);
  EXPECT_EQ(matcher.getSubMatch(2, 1), "b");
  EXPECT_EQ(matcher.getSubMatch(2, 2), "") << "empty group";
  EXPECT_EQ(matcher.getSubMatch(3, 3), "") << "optional group left out";
  EXPECT_EQ(matcher.getGroupCount(), 3);
}

TEST(RegexMatcher, QuoteToken) {
  RegexMatcher matcher;
  ASSERT_TRUE(
      matcher.search("href=#引号([^#引号]+)#引号"_gbk, "<a href=\"x.flv\">", false, true, true, true));
  EXPECT_EQ(matcher.getPattern(), "href=\"([^\"]+)\"") << "every token replaced";
  EXPECT_EQ(matcher.getSubMatch(1, 1), "x.flv");

  ASSERT_TRUE(matcher.search("a#引号"_gbk, "a\" a#引号"_gbk));
  EXPECT_EQ(matcher.getPattern(), "a#引号"_gbk) << "token stays without the option";
  EXPECT_EQ(matcher.getMatchCount(), 1);
  EXPECT_EQ(matcher.getMatch(1), "a#引号"_gbk);
}

TEST(RegexMatcher, BytePositions) {
  struct Case {
    const char* name;
    std::string pattern, subject;
    bool caseSensitive;
    int matchIndex, groupIndex;  // groupIndex 0: the whole match
    std::string text;
    int bytePosition;
  } cases[] = {
      {"ASCII: the character index", "abc", "xxabc", false, 1, 0, "abc", 2},
      {"at the start", "x", "xab", false, 1, 0, "x", 0},
      {"after double-byte characters", "abc", "中文abc"_gbk, false, 1, 0, "abc", 4},
      {"second match", "b", "中b文b"_gbk, false, 2, 0, "b", 5},
      {"double-byte match", "文"_gbk, "中a文"_gbk, false, 1, 0, "文"_gbk, 3},
      {"group from the match start", "a(b)c", "中abc"_gbk, false, 1, 1, "b", 3},
      {"repeated text before the match", "b", "中文bb"_gbk, false, 2, 0, "b", 5},
      {"group at its own place", "(b)a(b)", "中bab"_gbk, false, 1, 2, "b", 4},
      {"group repeating text before it", "b(b)", "中bb"_gbk, false, 1, 1, "b", 3},
      {"trail 0x5C is skipped", "\\\\", "\x95\x5C\\", false, 1, 0, "\\", 2},
      {"trail letter is skipped", "a",
       "\x81\x61"
       "a",
       false, 1, 0, "a", 2},
      {"case ignored as the matcher does", "ab", "Ab中ab"_gbk, false, 2, 0, "ab", 4},
      {"case-sensitive", "ab", "Ab中ab"_gbk, true, 1, 0, "ab", 4},
      {"empty match", "x*", "abc", false, 1, 0, "", 0},
      {"empty match after a double-byte character", "$", "中"_gbk, false, 1, 0, "", 2},
      {"invalid byte pair: looked up again", "b",
       "\x81\x20"
       "b",
       false, 1, 0, "b", 2},
      {"invalid byte", "b",
       "\xFF"
       "ab",
       false, 1, 0, "b", 2},
      {"group that took no part", "(x)?b", "ab", false, 1, 1, "", -2},
      {"empty group", "a(x*)", "中a"_gbk, false, 1, 1, "", 3},
  };
  for (const Case& c : cases) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.search(c.pattern, c.subject, c.caseSensitive)) << c.name;
    int position = 99;
    const std::string text = c.groupIndex == 0 ? matcher.getMatch(c.matchIndex, &position)
                                               : matcher.getSubMatch(c.matchIndex, c.groupIndex, &position);
    EXPECT_EQ(text, c.text) << c.name;
    EXPECT_EQ(position, c.bytePosition) << c.name;
  }
}

TEST(RegexMatcher, Replace) {
  struct Case {
    const char* name;
    std::string pattern, subject;
    bool global;
    std::string replacement, expected;
  } cases[] = {
      {"group references", "(\\w+)@(\\w+)", "me@host, you@there", true, "$2 at $1",
       "host at me, there at you"},
      {"first match only", "o", "foo", false, "0", "f0o"},
      {"deleted by default", "\\s+", "a b\tc", true, "", "abc"},
      {"whole match, before, after", "b", "abc", true, "[$`|$&|$']", "a[a|b|c]c"},
      {"dollar escape and plain dollars", "\\d+", "cost 5", true, "US$ $$$0$&", "cost US$ $$05"},
      {"unknown group stays literal", "(a)", "a", true, "$2$1$10", "$2aa0"},
      {"two-digit group", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "abcdefghij", true, "$10$1", "ja"},
      {"unset group inserts nothing", "(x)?b", "ab", true, "[$1]", "a[]"},
      {"Chinese kept around matches", "\\d", "中1文"_gbk, true, "数"_gbk, "中数文"_gbk},
      {"nothing matched", "z", "abc", true, "y", "abc"},
  };
  for (const Case& c : cases) {
    RegexMatcher matcher;
    ASSERT_TRUE(matcher.search(c.pattern, c.subject, false, true, c.global)) << c.name;
    EXPECT_EQ(matcher.replace(c.replacement), c.expected) << c.name;
  }
}

TEST(RegexMatcher, CopiesShareTheSearchAndOwnTheSubject) {
  RegexMatcher original;
  ASSERT_TRUE(original.search("(\\d)", "a1b2"));
  RegexMatcher copy = original;
  ASSERT_TRUE(original.search("x", "xyz"));
  EXPECT_EQ(original.getMatchCount(), 1);
  EXPECT_EQ(copy.getMatchCount(), 2) << "the copy keeps the search it was copied after";
  EXPECT_EQ(copy.getSubMatch(2, 1), "2");
  int position = 0;
  EXPECT_EQ(copy.getMatch(2, &position), "2");
  EXPECT_EQ(position, 3);
  EXPECT_EQ(copy.replace("<$1>"), "a<1>b<2>");
  copy = original;
  EXPECT_EQ(copy.getMatch(1), "x");
}

TEST(MemoryWindow, DesignAndAccessFromThreads) {
  MemoryWindow window;
  EXPECT_EQ(window.text("按钮_开始"_gbk), "开始下载"_gbk);
  EXPECT_FALSE(window.isEnabled("按钮_播放"_gbk));
  EXPECT_EQ(window.editBoxNames(),
            (std::vector<std::string>{"编辑框_下载目录"_gbk, "编辑框_显示"_gbk, "编辑框_url"_gbk}));
  std::thread a([&] {
    for (int i = 0; i < 500; ++i) window.appendText("编辑框_显示"_gbk, "a");
  });
  std::thread b([&] {
    for (int i = 0; i < 500; ++i) window.appendText("编辑框_显示"_gbk, "b");
  });
  a.join();
  b.join();
  EXPECT_EQ(window.text("编辑框_显示"_gbk).size(), 1000u);
  EXPECT_EQ(window.text("no such control"), "");
}

}  // namespace
}  // namespace lirevo
