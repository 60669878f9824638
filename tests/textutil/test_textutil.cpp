// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <thread>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"
#include "memory_window.h"

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
      {"trail letter is no letter", "\x81\x41" "A", "A", 1, false, 3},
      {"trail letter, ignoring case", "\x81\x61" "a", "A", 1, true, 3},
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
      {"full-width blanks", "\xA1\xA1" "a\xA1\xA1", "a"},
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
  EXPECT_EQ(utf8ToGbk("a\xFF\xFE" "b"), "a??b");
  EXPECT_EQ(utf8ToGbk("ab\xE4\xB8"), "ab?") << "cut-off sequence at the end";
  EXPECT_EQ(utf16ToGbk(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b") << "lone surrogate";
  EXPECT_EQ(gbkToUtf8("a\xFF"), "a?");
  EXPECT_EQ(utf8ToGbk(""), "");
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

TEST(MemoryWindow, DesignAndAccessFromThreads) {
  MemoryWindow window;
  EXPECT_EQ(window.text("按钮_开始"_gbk), "开始下载"_gbk);
  EXPECT_FALSE(window.isEnabled("按钮_播放"_gbk));
  EXPECT_EQ(window.editBoxNames(),
            (std::vector<std::string>{"编辑框_下载目录"_gbk, "编辑框_显示"_gbk, "编辑框_url"_gbk}));
  std::thread a([&] { for (int i = 0; i < 500; ++i) window.appendText("编辑框_显示"_gbk, "a"); });
  std::thread b([&] { for (int i = 0; i < 500; ++i) window.appendText("编辑框_显示"_gbk, "b"); });
  a.join();
  b.join();
  EXPECT_EQ(window.text("编辑框_显示"_gbk).size(), 1000u);
  EXPECT_EQ(window.text("no such control"), "");
}

}  // namespace
}  // namespace lirevo
