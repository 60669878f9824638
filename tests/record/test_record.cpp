// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <thread>

#include "display_log.h"
#include "gbk_literal.h"
#include "memory_window.h"

namespace lirevo {
namespace {

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

}  // namespace
}  // namespace lirevo
