// SPDX-License-Identifier: MIT
#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
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
    char* out = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t rc = iconv(converter.get(), &in, &inLeft, &out, &outLeft);
    const int error = errno;
    output.append(buffer.data(), buffer.size() - outLeft);
    if (rc != static_cast<std::size_t>(-1)) break;
    if (error == E2BIG) continue;
    output.append(replacement);
    if (error != EILSEQ) break;  // a sequence cut short by the end of the input
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

std::string utf8ToGbk(std::string_view utf8) { return utf32ToGbk(toUtf32("UTF-8", utf8, 1)); }

std::string gbkToUtf8(std::string_view gbk) { return fromGbk("UTF-8", gbk, "?"); }

std::optional<std::string> charsetToGbk(std::string_view charsetName, std::string_view bytes) {
  if (charsetName.empty() || charsetName.size() > 64) return std::nullopt;
  const std::string name(charsetName);
  if (name.find('/') != std::string::npos) return std::nullopt;  // no iconv suffixes from pages
  const IconvHandle* converter = converterFor(kUtf32, name.c_str());
  if (converter == nullptr) return std::nullopt;
  return utf32ToGbk(convertAll(*converter, bytes, codeUnitBytes(name), kUtf32Replacement));
}

}  // namespace lirevo
