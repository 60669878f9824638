// SPDX-License-Identifier: MIT
#include "save_path.h"

#include <chrono>

#include "download_request.h"
#include "gbk_literal.h"
#include "gbk_text.h"

namespace lirevo {
namespace {

// Content-Location values longer than this are not taken, as the header was
// always read into a buffer of 255 bytes with its terminating zero.
constexpr std::size_t kLongestContentLocationBytes = 254;

int lastPosition(std::string_view text, std::string_view what) {
  int last = -1;
  for (int at = findText(text, what); at > 0; at = findText(text, what, at + static_cast<int>(what.size())))
    last = at;
  return last;
}

std::string uptimeMs() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return std::to_string(static_cast<std::uint32_t>(ms));
}

bool isUsableName(std::string_view name) { return !name.empty() && name != "." && name != ".."; }

}  // namespace

std::string lastPathComponent(std::string_view text) {
  // The query goes first: it may hold slashes of its own ("?next=/a/b").
  std::string component = replaceAll(text, "\\", "/");
  const int question = findText(component, "?");
  if (question > 0) component.resize(static_cast<std::size_t>(question - 1));
  const int slash = lastPosition(component, "/");
  if (slash > 0) component.erase(0, static_cast<std::size_t>(slash));
  return component;
}

bool hasFileExtension(std::string_view path) {
  bool dotSeen = false;
  for (std::size_t at = 0; at < path.size(); at += gbkCharLength(path, at)) {
    if (path[at] == '/' || path[at] == ' ') {
      dotSeen = false;
    } else if (path[at] == '.') {
      dotSeen = true;
    }
  }
  return dotSeen;
}

std::string serverFileName(std::string_view url) {
  DownloadRequest request{std::string(url)};
  request.setAgent("我的下载"_gbk + uptimeMs());
  request.setFollowRedirects(false);
  request.run({});
  const std::string& location = request.head().contentLocation;
  if (request.head().status != 0 && !location.empty() && location.size() <= kLongestContentLocationBytes) {
    std::string name = lastPathComponent(location);
    if (isUsableName(name)) return name;
  }
  return lastPathComponent(url);
}

std::string resolveSavePath(std::string_view savePath, std::string_view url) {
  std::string path(savePath);
  if (!hasFileExtension(path)) {
    if (!endsWith(path, "/")) path += "/";
    path += serverFileName(url);
  }
  return path;
}

}  // namespace lirevo
