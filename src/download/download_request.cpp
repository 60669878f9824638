// SPDX-License-Identifier: MIT
#include "download_request.h"

#include <curl/curl.h>

#include <cctype>
#include <mutex>

#include "gbk_text.h"

namespace lirevo {
namespace {

// A connection that cannot be made in this time, or that brings less than a
// byte a second for a minute, counts as lost: a dead server must not keep a
// download waiting for ever.
constexpr long kConnectTimeoutMs = 30000;
constexpr long kLowSpeedBytesPerSecond = 1;
constexpr long kLowSpeedSeconds = 60;
constexpr long kMostRedirects = 10;

void initialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The value of "Name: value" when the line carries that header, else nothing.
bool headerValue(std::string_view line, std::string_view name, std::string& value) {
  if (!startsWithIgnoringCase(line, name) || line.size() <= name.size() || line[name.size()] != ':')
    return false;
  value = std::string(trimmed(line.substr(name.size() + 1)));
  return true;
}

}  // namespace

struct DownloadRequest::Handles {
  std::unique_ptr<CURL, EasyDeleter> easy;
  std::unique_ptr<curl_slist, ListDeleter> headers;
};

DownloadRequest::DownloadRequest(std::string url)
    : m_url(std::move(url)), m_handles(std::make_unique<Handles>()) {
  initialiseCurlOnce();
}

DownloadRequest::~DownloadRequest() = default;

void DownloadRequest::setHeaderBlock(std::string_view headerBlock) {
  curl_slist* list = nullptr;
  while (!headerBlock.empty()) {
    const std::size_t end = headerBlock.find("\r\n");
    const std::string line(headerBlock.substr(0, end));
    if (!line.empty()) {
      curl_slist* grown = curl_slist_append(list, line.c_str());
      if (grown == nullptr) break;
      list = grown;
    }
    if (end == std::string_view::npos) break;
    headerBlock.remove_prefix(end + 2);
  }
  m_handles->headers.reset(list);
}

void DownloadRequest::setAgent(std::string agent) { m_agent = std::move(agent); }

void DownloadRequest::setFollowRedirects(bool follow) { m_followRedirects = follow; }

TransferEnd DownloadRequest::run(const ChunkRoutine& onChunk) {
  m_head = ResponseHead{};
  m_endedByReceiver = false;
  m_onChunk = &onChunk;
  m_handles->easy.reset(curl_easy_init());
  CURL* easy = m_handles->easy.get();
  if (easy == nullptr) return TransferEnd::Failed;

  curl_easy_setopt(easy, CURLOPT_URL, m_url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, m_followRedirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMostRedirects);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(kReadChunkBytes));
  // Every request has a connection of its own, closed when it ends.
  curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
  if (m_handles->headers) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, m_handles->headers.get());
  if (!m_agent.empty()) curl_easy_setopt(easy, CURLOPT_USERAGENT, m_agent.c_str());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &DownloadRequest::receiveHeader);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &DownloadRequest::receiveBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);

  const CURLcode result = curl_easy_perform(easy);
  curl_off_t contentLength = -1;
  if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength) == CURLE_OK)
    m_head.contentLength = contentLength;
  long status = 0;
  if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status != 0)
    m_head.status = status;
  m_onChunk = nullptr;
  if (m_endedByReceiver) return TransferEnd::EndedByReceiver;
  return result == CURLE_OK ? TransferEnd::Complete : TransferEnd::Failed;
}

std::size_t DownloadRequest::receiveHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto* request = static_cast<DownloadRequest*>(self);
  const std::string_view line(data, size * count);
  ResponseHead& head = request->m_head;
  if (startsWithIgnoringCase(line, "HTTP/")) {
    // A new answer begins (after a redirect or an interim 1xx): forget the last.
    head = ResponseHead{};
    const std::size_t blank = line.find(' ');
    if (blank != std::string_view::npos) {
      long status = 0;
      for (std::size_t i = blank + 1; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]));
           ++i)
        status = status * 10 + (line[i] - '0');
      head.status = status;
    }
    return size * count;
  }
  const std::string_view content = trimmed(line);
  if (!headerValue(content, "Content-Range", head.contentRange) &&
      !headerValue(content, "Content-Location", head.contentLocation))
    headerValue(content, "Content-Encoding", head.contentEncoding);
  return size * count;
}

std::size_t DownloadRequest::receiveBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto* request = static_cast<DownloadRequest*>(self);
  const std::size_t length = size * count;
  if (request->m_onChunk == nullptr || !*request->m_onChunk ||
      !(*request->m_onChunk)(request->m_head, std::string_view(data, length))) {
    request->m_endedByReceiver = true;
    return 0;  // any other count than `length` makes libcurl end the transfer
  }
  return length;
}

}  // namespace lirevo
