// SPDX-License-Identifier: MIT
#define PCRE2_CODE_UNIT_WIDTH 16
#include "regex_matcher.h"

#include <pcre2.h>

#include <vector>

#include "charset.h"
#include "gbk_literal.h"
#include "gbk_text.h"

namespace lirevo {
namespace {

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};

using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;
using CompileContextPtr = std::unique_ptr<pcre2_compile_context, CompileContextDeleter>;

// A group's start and end in UTF-16 units; start is PCRE2_UNSET when the group
// took no part in the match.
struct Span {
  std::size_t start = PCRE2_UNSET;
  std::size_t end = PCRE2_UNSET;
  bool isSet() const { return start != PCRE2_UNSET; }
};

PCRE2_SPTR16 units(const std::u16string& text) { return reinterpret_cast<PCRE2_SPTR16>(text.data()); }

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The offset of the character after the one at `offset`, so that an empty
// match never leaves the search inside a surrogate pair.
std::size_t nextCharacter(const std::u16string& text, std::size_t offset) {
  if (offset + 1 < text.size() && isHighSurrogate(text[offset]) && isLowSurrogate(text[offset + 1]))
    return offset + 2;
  return offset + 1;
}

bool isDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }

}  // namespace

struct RegexMatcher::SearchState {
  std::string pattern;
  CodePtr code;  // null when the pattern did not compile
  bool ignoreCase = true;
  std::u16string subject;
  std::size_t groupCount = 0;
  // Per match: the whole match first, then every group.
  std::vector<std::vector<Span>> matches;

  std::string text(Span span) const {
    if (!span.isSet()) return {};
    return utf16ToGbk(std::u16string_view(subject).substr(span.start, span.end - span.start));
  }
  const std::vector<Span>* match(int matchIndex) const {
    if (matchIndex < 1 || static_cast<std::size_t>(matchIndex) > matches.size()) return nullptr;
    return &matches[matchIndex - 1];
  }
};

bool RegexMatcher::search(std::string_view pattern, std::string_view subject, bool caseSensitive,
                          bool multiline, bool global, bool quoteToken) {
  auto state = std::make_shared<SearchState>();
  state->pattern = quoteToken ? replaceAll(pattern, "#引号"_gbk, "\"") : std::string(pattern);
  state->ignoreCase = !caseSensitive;
  m_subject = std::string(subject);

  // Script-style semantics: a line ends at CR, LF or CRLF, so "." matches
  // neither and "$" also stands before a CR; "$" without multi-line mode
  // matches only at the very end; \u1234 is a character; a reference to a
  // group that has not matched matches the empty text.
  CompileContextPtr context(pcre2_compile_context_create(nullptr));
  if (context) pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
  uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_MATCH_UNSET_BACKREF | PCRE2_DOLLAR_ENDONLY;
  if (state->ignoreCase) options |= PCRE2_CASELESS;
  if (multiline) options |= PCRE2_MULTILINE;

  const std::u16string pattern16 = gbkToUtf16(state->pattern);
  int errorCode = 0;
  PCRE2_SIZE errorOffset = 0;
  state->code.reset(
      pcre2_compile(units(pattern16), pattern16.size(), options, &errorCode, &errorOffset, context.get()));
  MatchDataPtr matchData(state->code ? pcre2_match_data_create_from_pattern(state->code.get(), nullptr)
                                     : nullptr);
  if (!state->code || !matchData) {
    state->code.reset();
    m_state = std::move(state);
    return false;
  }

  uint32_t captureCount = 0;
  pcre2_pattern_info(state->code.get(), PCRE2_INFO_CAPTURECOUNT, &captureCount);
  state->groupCount = captureCount;
  state->subject = gbkToUtf16(m_subject);

  const std::u16string& text = state->subject;
  std::size_t offset = 0;
  while (offset <= text.size()) {
    const int rc =
        pcre2_match(state->code.get(), units(text), text.size(), offset, 0, matchData.get(), nullptr);
    if (rc < 0) break;  // no further match, or a match limit was hit
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(matchData.get());
    std::vector<Span> spans(captureCount + 1);
    for (std::size_t group = 0; group < spans.size() && group < static_cast<std::size_t>(rc); ++group) {
      spans[group] = {ovector[2 * group], ovector[2 * group + 1]};
    }
    state->matches.push_back(std::move(spans));
    if (!global) break;
    // As script engines do, an empty match moves the search on by one
    // character; otherwise it goes on where the match ended.
    offset = ovector[1] > ovector[0] ? ovector[1] : nextCharacter(text, ovector[1]);
  }
  m_state = std::move(state);
  return true;
}

std::string RegexMatcher::getPattern() const { return m_state ? m_state->pattern : std::string(); }

std::string RegexMatcher::replace(std::string_view replacement) const {
  if (!m_state || !m_state->code) return {};
  const std::u16string& subject = m_state->subject;
  const std::u16string with = gbkToUtf16(replacement);
  std::u16string result;
  std::size_t copied = 0;
  for (const std::vector<Span>& spans : m_state->matches) {
    const Span whole = spans[0];
    result.append(subject, copied, whole.start - copied);
    for (std::size_t i = 0; i < with.size(); ++i) {
      if (with[i] != u'$' || i + 1 >= with.size()) {
        result.push_back(with[i]);
        continue;
      }
      const char16_t next = with[i + 1];
      if (next == u'$') {
        result.push_back(u'$');
        ++i;
      } else if (next == u'&') {
        result.append(subject, whole.start, whole.end - whole.start);
        ++i;
      } else if (next == u'`') {
        result.append(subject, 0, whole.start);
        ++i;
      } else if (next == u'\'') {
        result.append(subject, whole.end);
        ++i;
      } else if (isDigit(next)) {
        // Two digits when they name a group, else one digit when it does;
        // "$0" and references beyond the groups stay literal.
        std::size_t group = next - u'0';
        std::size_t digits = 1;
        if (i + 2 < with.size() && isDigit(with[i + 2])) {
          const std::size_t twoDigits = group * 10 + (with[i + 2] - u'0');
          if (twoDigits >= 1 && twoDigits <= m_state->groupCount) {
            group = twoDigits;
            digits = 2;
          }
        }
        if (group >= 1 && group <= m_state->groupCount) {
          const Span span = spans[group];
          if (span.isSet()) result.append(subject, span.start, span.end - span.start);
          i += digits;
        } else {
          result.push_back(u'$');
        }
      } else {
        result.push_back(u'$');
      }
    }
    copied = whole.end;
  }
  result.append(subject, copied);
  return utf16ToGbk(result);
}

int RegexMatcher::getMatchCount() const { return m_state ? static_cast<int>(m_state->matches.size()) : 0; }

std::string RegexMatcher::getMatch(int matchIndex, int* bytePosition) const {
  const std::vector<Span>* spans = m_state ? m_state->match(matchIndex) : nullptr;
  if (spans == nullptr) {
    if (bytePosition != nullptr) *bytePosition = -2;
    return {};
  }
  std::string text = m_state->text((*spans)[0]);
  if (bytePosition != nullptr) *bytePosition = bytePositionOf((*spans)[0].start, text);
  return text;
}

std::string RegexMatcher::getSubMatch(int matchIndex, int groupIndex, int* bytePosition) const {
  const std::vector<Span>* spans = m_state ? m_state->match(matchIndex) : nullptr;
  if (spans == nullptr || groupIndex < 1 || static_cast<std::size_t>(groupIndex) >= spans->size()) {
    if (bytePosition != nullptr) *bytePosition = -2;
    return {};
  }
  const Span group = (*spans)[groupIndex];
  std::string text = m_state->text(group);
  if (bytePosition != nullptr) *bytePosition = group.isSet() ? bytePositionOf(group.start, text) : -2;
  return text;
}

int RegexMatcher::getGroupCount() const {
  if (!m_state || m_state->matches.empty()) return 0;
  return static_cast<int>(m_state->groupCount);
}

int RegexMatcher::bytePositionOf(std::size_t characterIndex, std::string_view foundText) const {
  // Every GBK character is one UTF-16 unit, so walking the subject by
  // characters gives the offset directly.
  std::size_t offset = 0;
  std::size_t characters = 0;
  while (characters < characterIndex && offset < m_subject.size()) {
    offset += gbkCharLength(m_subject, offset);
    ++characters;
  }
  if (characters == characterIndex && m_subject.compare(offset, foundText.size(), foundText) == 0)
    return static_cast<int>(offset);

  // Invalid bytes convert to a different number of units; then look the
  // text up again, from one byte before the earliest offset it can have
  // (every character takes at least one byte), on a character boundary.
  const std::size_t from = characterIndex == 0 ? 0 : characterIndex - 1;
  std::size_t boundary = 0;
  while (boundary < m_subject.size()) {
    const std::size_t next = boundary + gbkCharLength(m_subject, boundary);
    if (next > from) break;
    boundary = next;
  }
  const int found = findText(m_subject, foundText, static_cast<int>(boundary) + 1, m_state->ignoreCase);
  return found > 0 ? found - 1 : -2;
}

}  // namespace lirevo
