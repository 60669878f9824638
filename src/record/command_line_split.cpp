// SPDX-License-Identifier: MIT
#include "command_line_split.h"

namespace lirevo {
namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> splitCommandLine(std::string_view commandLine) {
  std::vector<std::string> arguments;
  std::size_t at = 0;
  const std::size_t size = commandLine.size();
  for (;;) {
    while (at < size && isSeparator(commandLine[at])) ++at;
    if (at >= size) break;
    std::string argument;
    bool quoted = false;
    while (at < size && (quoted || !isSeparator(commandLine[at]))) {
      const char c = commandLine[at];
      if (c == '\\') {
        std::size_t backslashes = 0;
        while (at < size && commandLine[at] == '\\') ++backslashes, ++at;
        if (at < size && commandLine[at] == '"') {
          argument.append(backslashes / 2, '\\');
          if (backslashes % 2 == 1) {
            argument.push_back('"');
            ++at;
          }
          // With an even count the quote is handled as a delimiter below.
        } else {
          argument.append(backslashes, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && at + 1 < size && commandLine[at + 1] == '"') {
          argument.push_back('"');
          at += 2;
          continue;
        }
        quoted = !quoted;
        ++at;
        continue;
      }
      argument.push_back(c);
      ++at;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

}  // namespace lirevo
