// SPDX-License-Identifier: MIT
#pragma once

// Runs one regular expression over one GBK subject and keeps the result, so
// that matches, groups, byte positions and replacements can be asked for
// afterwards. The grammar is ECMAScript-like: \w and friends, lazy
// quantifiers, numbered groups; "." never matches a line end.
//
// Indexes handed in count from 1. Nothing throws and nothing is reported: a
// call that cannot be answered (no search yet, an index naming nothing, a
// pattern that did not compile) gives false, empty text or 0.
//
// Copies share the compiled pattern and the matches of the search they were
// copied after (both are never changed, only replaced by the next search) and
// own their subject. A matcher is not meant to be used by two threads at once.

#include <memory>
#include <string>
#include <string_view>

namespace lirevo {

class RegexMatcher {
 public:
  // Replaces the previous search. `multiline` lets "^" and "$" match at line
  // breaks; `global` collects every match instead of the first only;
  // `quoteToken` turns every "#引号" in the pattern into a double quote, for
  // patterns written inside quoted program texts. True when the pattern
  // compiled, also when nothing matched; false drops the previous matches.
  bool search(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
              bool multiline = true, bool global = true, bool quoteToken = false);

  // The pattern of the last search after the quote-token substitution, also
  // when it did not compile; empty before the first search.
  std::string getPattern() const;

  // The last subject with its matches (every one when the search was global)
  // replaced. In `replacement`, $1..$99 insert a group, $& the match, $` and
  // $' the text before and after it, $$ a "$"; any other "$" stays as it is.
  std::string replace(std::string_view replacement = "") const;

  int getMatchCount() const;

  // `bytePosition`, when asked for, is the 0-based byte offset of the match
  // in the GBK subject (-2 when the index names nothing).
  std::string getMatch(int matchIndex, int* bytePosition = nullptr) const;

  // The text of one group, empty when the group took no part in the match;
  // `bytePosition` is then -2, else the group's own byte offset.
  std::string getSubMatch(int matchIndex, int groupIndex, int* bytePosition = nullptr) const;

  // Number of groups in the first match; 0 when nothing matched.
  int getGroupCount() const;

 private:
  struct SearchState;

  int bytePositionOf(std::size_t characterIndex, std::string_view foundText) const;

  std::shared_ptr<const SearchState> m_state;
  std::string m_subject;
};

}  // namespace lirevo
