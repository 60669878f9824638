// SPDX-License-Identifier: MIT
#pragma once

// The private-profile (ini) format, worked on the file's bytes: "[section]"
// lines, "key=value" lines, GBK text, "\r\n" line ends. It reads as the
// Windows profile calls read: section and key names match without regard to
// ASCII letter case, the first section and the first key of a name count,
// blanks around a value are dropped and one pair of quotes enclosing it is
// removed. Lines starting with ";" are comments; lines without "=" are no keys.

#include <cstddef>
#include <string>
#include <string_view>

namespace lirevo {

// At most this many bytes of a value come back (a 10240-byte buffer with its
// terminator).
inline constexpr std::size_t kProfileValueLimitBytes = 10239;

// The value of `key` in `section`, cut to kProfileValueLimitBytes (never inside
// a double-byte character) and at a zero byte; empty when there is none.
std::string readProfileValue(std::string_view fileBytes, std::string_view section, std::string_view key);

// The file's bytes with `key` in `section` set to `value`. An existing key
// has its value replaced in its line; a new key becomes a line after the
// last non-empty line of its section; a new section is added at the end.
// Every other byte stays as it was. A value that a reader would otherwise
// change (blanks at either end, enclosing quotes) is written in double quotes.
std::string writeProfileValue(std::string_view fileBytes, std::string_view section, std::string_view key,
                              std::string_view value);

}  // namespace lirevo
