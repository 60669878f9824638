// SPDX-License-Identifier: MIT
// Input: a byte that picks the check, then a save path and a URL path
// separated by the first zero byte.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "gbk_text.h"
#include "save_path.h"

namespace {

bool isAscii(const std::string& text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// The rule for plain ASCII, written out: backslashes are slashes, the query
// goes, and of the rest what follows the last slash.
std::string referenceLastComponent(std::string text) {
  for (char& c : text)
    if (c == '\\') c = '/';
  text = text.substr(0, text.find('?'));
  const std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lirevo;
  if (size < 1) return 0;
  const unsigned pick = data[0];
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t zero = input.find('\0');
  const std::string savePath = input.substr(0, zero);
  const std::string urlPath = zero == std::string::npos ? std::string() : input.substr(zero + 1);

  for (const std::string& text : {savePath, urlPath}) {
    const std::string component = lastPathComponent(text);
    FUZZ_CHECK(component.size() <= text.size());
    FUZZ_CHECK(!containsText(component, "/") && !containsText(component, "?") &&
               !containsText(component, "\\"));
    FUZZ_CHECK(lastPathComponent(component) == component);
    const std::string slashes = replaceAll(text, "\\", "/");
    const int query = findText(slashes, "?");
    FUZZ_CHECK(
        endsWith(query > 0 ? slashes.substr(0, static_cast<std::size_t>(query - 1)) : slashes, component));
    if (isAscii(text)) FUZZ_CHECK(component == referenceLastComponent(text));
  }

  if (isAscii(savePath)) {
    const std::size_t cut = savePath.find_last_of("/ ");
    const std::string last = cut == std::string::npos ? savePath : savePath.substr(cut + 1);
    FUZZ_CHECK(hasFileExtension(savePath) == (last.find('.') != std::string::npos));
  }

  if (hasFileExtension(savePath)) {
    FUZZ_CHECK(resolveSavePath(savePath, "http://127.0.0.1:1/" + urlPath) == savePath);
  } else if (pick % 8 == 0) {
    // A folder: the server's name for the file goes into it. Port 1 on the
    // loopback refuses at once, so the name is the URL's own.
    const std::string url = "http://127.0.0.1:1/" + urlPath;
    const std::string resolved = resolveSavePath(savePath, url);
    const std::string folder = endsWith(savePath, "/") ? savePath : savePath + "/";
    FUZZ_CHECK(resolved == folder + lastPathComponent(url));
  }
  return 0;
}
