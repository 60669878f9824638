// SPDX-License-Identifier: MIT
// Input: a command line, and also a list of arguments separated by zero bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "command_line_split.h"
#include "fuzz_check.h"

namespace {

// Quotes one argument so that the Windows start-up rules give it back:
// backslashes are doubled only where a quote follows them.
std::string quoteArgument(const std::string& argument) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string joinQuoted(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& argument : arguments) line += " " + quoteArgument(argument);
  return line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::vector<std::string> arguments = lirevo::splitCommandLine(input);
  std::size_t total = 0;
  for (const std::string& argument : arguments) {
    FUZZ_CHECK(argument.size() <= input.size());
    total += argument.size();
  }
  FUZZ_CHECK(total <= input.size());
  FUZZ_CHECK(arguments.size() <= input.size());
  // Quoting what came out and splitting again gives the same arguments.
  FUZZ_CHECK(lirevo::splitCommandLine(joinQuoted(arguments)) == arguments);

  // Any list of arguments, quoted, comes back whole.
  std::vector<std::string> list;
  for (std::size_t at = 0; at <= input.size();) {
    const std::size_t zero = input.find('\0', at);
    const std::size_t end = zero == std::string::npos ? input.size() : zero;
    list.push_back(input.substr(at, end - at));
    at = end + 1;
  }
  FUZZ_CHECK(lirevo::splitCommandLine(joinQuoted(list)) == list);
  // Arguments without blanks, quotes or backslashes need no quotes.
  bool plain = true;
  std::string bare;
  for (const std::string& argument : list) {
    plain = plain && !argument.empty() && argument.find_first_of(" \t\"\\") == std::string::npos;
    bare += " " + argument;
  }
  if (plain) FUZZ_CHECK(lirevo::splitCommandLine(bare) == list);
  return 0;
}
