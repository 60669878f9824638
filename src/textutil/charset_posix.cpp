// SPDX-License-Identifier: MIT
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "charset.h"

namespace lirevo {
namespace {

// Windows code page 936; glibc's CP936 also maps 0x80 to the euro sign as
// Windows does.
constexpr const char* kGbk = "CP936";
constexpr const char* kUtf32 = "UTF-32LE";

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) iconv_close(m_handle);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_handle; }

 private:
  iconv_t m_handle;
};

// Opening a converter loads and sets up a conversion module, which costs far
// more than converting a short text; each thread keeps the converters it has
// opened (only valid ones, so the set stays as small as the charsets met).
const IconvHandle* converterFor(const char* to, const char* from) {
  thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<IconvHandle>> cache;
  auto key = std::make_pair(std::string(to), std::string(from));
  const auto it = cache.find(key);
  if (it != cache.end()) return it->second.get();
  auto handle = std::make_unique<IconvHandle>(to, from);
  if (!handle->valid()) return nullptr;
  return cache.emplace(std::move(key), std::move(handle)).first->second.get();
}

// Input handed to one iconv call. glibc converts in several steps through a
// buffer of its own, and a character that a later step refuses makes it
// convert that call's input again up to the character: with the whole text
// in one call, every such character cost about 10 us, and a page of junk
// took many seconds. Small pieces bound that work.
constexpr std::size_t kPieceBytes = 256;

// Runs iconv over the whole input. On an input sequence it cannot take it
// writes `replacement` and skips `skipBytes` of input (one code unit of the
// source), so it always makes progress.
std::string convertAll(const IconvHandle& converter, std::string_view input, std::size_t skipBytes,
                       std::string_view replacement) {
  std::string output;
  output.reserve(input.size() * 2 + 16);
  char* in = const_cast<char*>(input.data());
  std::size_t inLeft = input.size();
  std::array<char, 16384> buffer;
  iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  while (inLeft > 0) {
    const std::size_t piece = std::min(inLeft, kPieceBytes);
    std::size_t pieceLeft = piece;
    char* out = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(converter.get(), &in, &pieceLeft, &out, &outLeft);
    const int error = errno;
    inLeft -= piece - pieceLeft;
    output.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<std::size_t>(-1) || error == E2BIG) continue;
    // A sequence cut short by the end of the piece goes on in the next one;
    // cut short by the end of the input, it is replaced and ends the text.
    if (error == EINVAL && pieceLeft < inLeft) continue;
    output.append(replacement);
    if (error != EILSEQ) break;
    // A unit the converter cannot take: replaced above, skipped here.
    const std::size_t skip = std::min(skipBytes, inLeft);
    in += skip;
    inLeft -= skip;
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return output;
}

// "?" in UTF-32LE: what a bad input unit becomes, whatever the target.
constexpr std::string_view kUtf32Replacement{"?\0\0\0", 4};

std::string utf32ToGbk(std::string_view utf32) {
  const IconvHandle* converter = converterFor(kGbk, kUtf32);
  return converter ? convertAll(*converter, utf32, 4, "?") : std::string();
}

// True when the bytes are the start of a sequence, by the length its lead
// byte announces (the old five- and six-byte forms included), that the end
// of the input cuts short: iconv reports that as an incomplete input,
// before it looks at the value the sequence would have.
bool cutShortByTheEnd(const unsigned char* bytes, std::size_t count) {
  const unsigned char lead = bytes[0];
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF7)
    length = 4;
  else if (lead >= 0xF8 && lead <= 0xFB)
    length = 5;
  else if (lead >= 0xFC && lead <= 0xFD)
    length = 6;
  if (length == 0 || count >= length) return false;
  for (std::size_t i = 1; i < count; ++i)
    if ((bytes[i] & 0xC0) != 0x80) return false;
  return true;
}

// UTF-8 by hand, with the rules iconv applies: a well-formed sequence (no
// overlong form, no surrogate, nothing above U+10FFFF) gives its character;
// any other byte gives "?" and is skipped alone; a sequence cut short by the
// end of the input gives one "?" and ends the text. iconv needs a call of
// its own after every bad byte, which made a page of junk take many seconds.
std::string utf8ToUtf32(std::string_view utf8) {
  std::string utf32;
  utf32.reserve(utf8.size() * 4);
  auto put = [&utf32](char32_t c) {
    const char bytes[4] = {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                           static_cast<char>((c >> 16) & 0xFF), static_cast<char>(c >> 24)};
    utf32.append(bytes, 4);
  };
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  for (std::size_t at = 0; at < size;) {
    const unsigned char lead = in[at];
    if (lead < 0x80) {
      put(lead);
      ++at;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    std::size_t good = length == 0 ? 0 : 1;  // bytes of the sequence that fit so far
    while (good > 0 && good < length && at + good < size) {
      const unsigned char next = in[at + good];
      const bool fits = good == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
      if (!fits) break;
      value = (value << 6) | (next & 0x3F);
      ++good;
    }
    if (length != 0 && good == length) {
      put(value);
      at += length;
      continue;
    }
    put(U'?');
    if (cutShortByTheEnd(in + at, size - at)) break;
    ++at;
  }
  return utf32;
}

bool namesUtf8(std::string_view name) {
  std::string folded;
  for (const char c : name) {
    if (c == '-' || c == '_') continue;
    folded.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return folded == "utf8";
}

std::string toUtf32(const char* from, std::string_view input, std::size_t unitBytes) {
  const IconvHandle* converter = converterFor(kUtf32, from);
  return converter ? convertAll(*converter, input, unitBytes, kUtf32Replacement) : std::string();
}

// `replacement` is "?" in the target encoding.
std::string fromGbk(const char* to, std::string_view gbk, std::string_view replacement) {
  const std::string utf32 = toUtf32(kGbk, gbk, 1);
  const IconvHandle* converter = converterFor(to, kUtf32);
  return converter ? convertAll(*converter, utf32, 4, replacement) : std::string();
}

// Width of one code unit, so that a bad unit is skipped whole.
std::size_t codeUnitBytes(std::string_view name) {
  if (name.find("16") != std::string_view::npos) return 2;
  if (name.find("32") != std::string_view::npos) return 4;
  return 1;
}

}  // namespace

std::u16string gbkToUtf16(std::string_view gbk) {
  const std::string bytes = fromGbk("UTF-16LE", gbk, std::string_view("?\0", 2));
  std::u16string result(bytes.size() / 2, u'\0');
  std::memcpy(result.data(), bytes.data(), result.size() * 2);
  return result;
}

std::string utf16ToGbk(std::u16string_view utf16) {
  const std::string_view bytes(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
  return utf32ToGbk(toUtf32("UTF-16LE", bytes, 2));
}

std::string utf8ToGbk(std::string_view utf8) { return utf32ToGbk(utf8ToUtf32(utf8)); }

std::size_t incompleteUtf8Tail(std::string_view utf8) {
  // Holding back a cut sequence makes a new end, which may cut the sequence
  // before it ("EE 9A" + "E6"): hold back until the end cuts nothing. The
  // longest announced sequence has six bytes.
  const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t end = utf8.size();
  for (bool held = true; held;) {
    held = false;
    for (std::size_t back = std::min<std::size_t>(5, end); back > 0; --back) {
      if (cutShortByTheEnd(bytes + end - back, back)) {
        end -= back;
        held = true;
        break;
      }
    }
  }
  return utf8.size() - end;
}

std::string gbkToUtf8(std::string_view gbk) { return fromGbk("UTF-8", gbk, "?"); }

std::optional<std::string> charsetToGbk(std::string_view charsetName, std::string_view bytes) {
  if (charsetName.empty() || charsetName.size() > 64) return std::nullopt;
  const std::string name(charsetName);
  if (name.find('/') != std::string::npos) return std::nullopt;  // no iconv suffixes from pages
  if (namesUtf8(name)) return utf8ToGbk(bytes);
  const IconvHandle* converter = converterFor(kUtf32, name.c_str());
  if (converter == nullptr) return std::nullopt;
  return utf32ToGbk(convertAll(*converter, bytes, codeUnitBytes(name), kUtf32Replacement));
}

}  // namespace lirevo
