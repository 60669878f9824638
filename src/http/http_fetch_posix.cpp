// SPDX-License-Identifier: MIT
// The request routine on libcurl. libcurl is linked into the program, so the
// transport is always there and the "not available" failure never arises.

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "charset.h"
#include "fetch_failure.h"
#include "fetch_result.h"
#include "gbk_text.h"
#include "http_fetch.h"
#include "request_headers.h"
#include "response_headers.h"
#include "split_url.h"

namespace lirevo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10;

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

void initTransportOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Blanks, control bytes and non-ASCII bytes written into an address are sent
// percent-escaped, as a browser does; escapes already written stay.
std::string escapeUnsafeBytes(std::string_view utf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char byte : utf8) {
    if (byte <= 0x20 || byte >= 0x7F) {
      escaped.push_back('%');
      escaped.push_back(kHex[byte >> 4]);
      escaped.push_back(kHex[byte & 0x0F]);
    } else {
      escaped.push_back(static_cast<char>(byte));
    }
  }
  return escaped;
}

// ASCII reads the same in GBK and UTF-8, and almost every address is ASCII:
// the conversion, which is not free, runs only when needed.
std::string toUtf8(std::string_view gbk) {
  const bool ascii =
      std::all_of(gbk.begin(), gbk.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? std::string(gbk) : gbkToUtf8(gbk);
}

// The address the transport is handed: the host (UTF-8, so that an
// international name can be looked up) and the object name of the split.
// A fragment in the object name is never sent: libcurl drops it.
std::string transportUrl(const UrlParts& parts) {
  std::string url = parts.scheme + "://" + toUtf8(parts.host);
  if (parts.portWritten) {
    url.push_back(':');
    url.append(std::to_string(parts.port));
  }
  url += escapeUnsafeBytes(toUtf8(parts.objectName()));
  return url;
}

bool transportAcceptsUrl(const std::string& url) {
  const std::unique_ptr<CURLU, UrlDeleter> handle(curl_url());
  return handle && curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
}

template <typename Value>
bool setOption(CURL* handle, CURLoption option, Value value) {
  return curl_easy_setopt(handle, option, value) == CURLE_OK;
}

// What one transfer has received so far, filled by libcurl's callbacks.
struct Transfer {
  Transfer(CURL* easy, Clock::duration idle) : handle(easy), idleLimit(idle) {}

  void touch() { lastActivity = Clock::now(); }

  CURL* handle;
  ResponseHeaderCollector headers;
  ByteData body;
  bool bodyCapped = false;
  // A connection stood and a request went out on it (at least once in a
  // redirect chain); failures before that mean the request was never sent.
  bool requestStarted = false;
  Clock::duration idleLimit;
  Clock::time_point lastActivity = Clock::now();
  curl_off_t downloaded = 0;
  curl_off_t uploaded = 0;
};

std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  transfer.touch();
  // A body received before a later response (a 100 Continue has none, but a
  // server may send one) belongs to that earlier response.
  if (transfer.headers.addLine(std::string_view(data, bytes))) transfer.body.clear();
  return bytes;
}

std::size_t onBodyData(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  transfer.touch();
  if (transfer.body.empty()) {
    // Growing a large body step by step costs more than the transfer.
    curl_off_t announced = -1;
    if (curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
        announced > 0)
      transfer.body.reserve(std::min(static_cast<std::size_t>(announced), kMaxResponseBodyBytes));
  }
  const std::size_t room = kMaxResponseBodyBytes - transfer.body.size();
  if (bytes > room) {
    transfer.body.append(data, room);
    transfer.bodyCapped = true;
    return room;  // anything short of `bytes` ends the transfer
  }
  transfer.body.append(data, bytes);
  return bytes;
}

int onRequestStart(void* user, char*, char*, int, int) {
  auto& transfer = *static_cast<Transfer*>(user);
  // Whatever arrived before belongs to a proxy tunnel or an earlier request
  // of the chain; a failure from here on concerns this request alone.
  transfer.headers = ResponseHeaderCollector();
  transfer.body.clear();
  transfer.requestStarted = true;
  transfer.touch();
  return CURL_PREREQFUNC_OK;
}

// Called often while data flows and about once a second while nothing does.
// Once a request is out, the time-out limits each wait for data, not the
// length of a transfer that keeps flowing.
int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto& transfer = *static_cast<Transfer*>(user);
  if (downloaded != transfer.downloaded || uploaded != transfer.uploaded) {
    transfer.downloaded = downloaded;
    transfer.uploaded = uploaded;
    transfer.touch();
  }
  if (transfer.requestStarted && Clock::now() - transfer.lastActivity > transfer.idleLimit) {
    return 1;
  }
  return 0;
}

bool hasLocationLine(std::string_view headers) {
  for (const std::string& line : splitText(headers, "\r\n"))
    if (line.size() >= 9 && equalsIgnoreCase(std::string_view(line).substr(0, 9), "Location:")) return true;
  return false;
}

// The headers are those of the last response of the chain: complete, and not
// a redirect that libcurl was about to follow.
bool finalHeadersArrived(const Transfer& transfer, bool followRedirects) {
  if (!transfer.headers.complete()) return false;
  if (!followRedirects) return true;
  const std::string status = statusFromHeaders(transfer.headers.text());
  const bool redirectStatus = !status.empty() && status[0] == '3';
  return !(redirectStatus && hasLocationLine(transfer.headers.text()));
}

// libcurl treats "Name:" as "do not send Name"; a caller's header with an
// empty value is meant to go out, which "Name;" asks for.
std::string transportHeaderLine(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (trimBlanks(std::string_view(line).substr(colon + 1)).empty()) return line.substr(0, colon) + ";";
  return line;
}

// The way libcurl itself recognises a header of its own among the caller's:
// the name, in any case, directly followed by ":" or ";".
bool hasHeaderNamed(const std::vector<std::string>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.size() > name.size() &&
           equalsIgnoreCase(std::string_view(line).substr(0, name.size()), name) &&
           (line[name.size()] == ':' || line[name.size()] == ';');
  });
}

// Every header line of the block, then an empty "Name:" for each header that
// libcurl would otherwise add of its own accord (Accept: */*, Expect:
// 100-continue, a form Content-Type for any body) and the block lacks.
// Nothing when a line cannot be a header: no colon, or a bare line break
// inside it.
std::optional<HeaderList> transportHeaders(std::string_view block) {
  const std::vector<std::string> lines = requestHeaderLines(block);
  HeaderList list;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) return false;
    list.release();
    list.reset(grown);
    return true;
  };
  for (const std::string& line : lines) {
    if (line.find(':') == std::string::npos || line.find_first_of("\r\n") != std::string::npos ||
        line.find('\0') != std::string::npos)
      return std::nullopt;
    if (!append(transportHeaderLine(line))) return std::nullopt;
  }
  for (std::string_view name : {"Accept", "Expect", "Content-Type"})
    if (!hasHeaderNamed(lines, name) && !append(std::string(name) + ":")) return std::nullopt;
  return list;
}

// The verb and the body. POST goes through libcurl's own POST so that a
// followed 301/302/303 continues as GET, as browsers do; HEAD reads no body.
bool setVerbAndBody(CURL* handle, std::string_view verb, std::string_view body) {
  auto setBody = [&] {
    return setOption(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) &&
           setOption(handle, CURLOPT_POSTFIELDS, body.data());
  };
  if (verb == "POST") return setOption(handle, CURLOPT_POST, 1L) && setBody();
  if (verb == "GET" && body.empty()) return setOption(handle, CURLOPT_HTTPGET, 1L);
  if (verb == "HEAD" && !setOption(handle, CURLOPT_NOBODY, 1L)) return false;
  if (!body.empty() && !setBody()) return false;
  if (verb == "HEAD" && body.empty()) return true;
  return setOption(handle, CURLOPT_CUSTOMREQUEST, std::string(verb).c_str());
}

}  // namespace

std::string httpFetch(const HttpFetchParams& params) {
  auto fail = [&params](FetchFailure failure) {
    if (params.statusText) *params.statusText = fetchFailureMessage(failure);
    return std::string();
  };

  const std::optional<UrlParts> parts = splitUrl(params.url);
  if (!parts) return fail(FetchFailure::BadUrl);
  initTransportOnce();
  const std::string url = transportUrl(*parts);
  if (!transportAcceptsUrl(url)) return fail(FetchFailure::BadUrl);

  const long timeoutMs = fetchTimeoutMs(params.timeoutSeconds);
  const bool followRedirects = !params.disableRedirects;

  EasyHandle easy(curl_easy_init());
  if (!easy) return fail(FetchFailure::Session);
  CURL* handle = easy.get();
  Transfer transfer{handle, std::chrono::milliseconds(timeoutMs)};
  // An empty proxy setting also keeps libcurl from reading http_proxy and
  // its kin from the environment; an empty exception list sends every host,
  // loopback included, through a named proxy.
  const bool sessionReady =
      setOption(handle, CURLOPT_NOSIGNAL, 1L) &&
      setOption(handle, CURLOPT_PROXY, params.proxyAddress.c_str()) &&
      setOption(handle, CURLOPT_NOPROXY, "") && setOption(handle, CURLOPT_PROTOCOLS_STR, "http,https") &&
      setOption(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
      setOption(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
      setOption(handle, CURLOPT_HTTP_CONTENT_DECODING, 0L) && setOption(handle, CURLOPT_PATH_AS_IS, 1L) &&
      setOption(handle, CURLOPT_HEADERFUNCTION, onHeaderLine) &&
      setOption(handle, CURLOPT_HEADERDATA, &transfer) &&
      setOption(handle, CURLOPT_WRITEFUNCTION, onBodyData) &&
      setOption(handle, CURLOPT_WRITEDATA, &transfer) &&
      setOption(handle, CURLOPT_PREREQFUNCTION, onRequestStart) &&
      setOption(handle, CURLOPT_PREREQDATA, &transfer) && setOption(handle, CURLOPT_NOPROGRESS, 0L) &&
      setOption(handle, CURLOPT_XFERINFOFUNCTION, onProgress) &&
      setOption(handle, CURLOPT_XFERINFODATA, &transfer);
  if (!sessionReady) return fail(FetchFailure::Session);
  if (!setOption(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs) || !setOption(handle, CURLOPT_TIMEOUT_MS, 0L))
    return fail(FetchFailure::Timeouts);

  if (!setOption(handle, CURLOPT_URL, url.c_str())) return fail(FetchFailure::Connection);
  const std::string_view body =
      !params.postBytes.empty() ? std::string_view(params.postBytes) : params.postText;
  if (!setVerbAndBody(handle, requestVerb(params.method), body)) return fail(FetchFailure::Request);

  // Basic credentials go out with the first request, not after a challenge.
  if (!params.userName.empty() && !params.password.empty() &&
      !(setOption(handle, CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC)) &&
        setOption(handle, CURLOPT_USERNAME, params.userName.c_str()) &&
        setOption(handle, CURLOPT_PASSWORD, params.password.c_str())))
    return fail(FetchFailure::Credentials);
  if (!params.proxyUserName.empty() && !params.proxyPassword.empty() &&
      !(setOption(handle, CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC)) &&
        setOption(handle, CURLOPT_PROXYUSERNAME, params.proxyUserName.c_str()) &&
        setOption(handle, CURLOPT_PROXYPASSWORD, params.proxyPassword.c_str())))
    return fail(FetchFailure::Credentials);

  // Untrusted issuers, wrong host names and expired certificates are all
  // accepted, at the server and at an https proxy alike.
  if (!(setOption(handle, CURLOPT_SSL_VERIFYPEER, 0L) && setOption(handle, CURLOPT_SSL_VERIFYHOST, 0L) &&
        setOption(handle, CURLOPT_PROXY_SSL_VERIFYPEER, 0L) &&
        setOption(handle, CURLOPT_PROXY_SSL_VERIFYHOST, 0L)))
    return fail(FetchFailure::Certificate);

  // libcurl keeps no cookies unless asked, so there is nothing to switch off
  // when the caller sends none. With cookies to send, its cookie store is
  // switched on for this call, so that cookies set along a redirect chain are
  // carried to the next request of the chain.
  const bool sendsCookies = params.sendCookies && !params.sendCookies->empty();
  if (sendsCookies) setOption(handle, CURLOPT_COOKIEFILE, "");

  if (!setOption(handle, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L) ||
      !setOption(handle, CURLOPT_MAXREDIRS, kMaxRedirects))
    return fail(FetchFailure::Redirects);

  std::optional<HeaderList> headers = transportHeaders(buildRequestHeaderBlock(params));
  if (!headers || !setOption(handle, CURLOPT_HTTPHEADER, headers->get())) return fail(FetchFailure::Headers);

  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    if (!transfer.requestStarted) {
      // A proxy that refused the tunnel is reported by its answer, so that
      // the caller sees "407 Proxy Authentication Required" and the like;
      // anything else before the request went out means it was never sent.
      const bool tunnelRefused =
          transfer.headers.complete() && !startsWith(statusFromHeaders(transfer.headers.text()), "2");
      if (!tunnelRefused) return fail(FetchFailure::Send);
    } else if (finalHeadersArrived(transfer, followRedirects)) {
      // Cut off in the body (closed early, stalled, or over the size
      // limit): the bytes so far are kept and the status replaces this.
      if (params.statusText) *params.statusText = fetchFailureMessage(FetchFailure::Read);
    } else if (result == CURLE_SEND_ERROR && transfer.headers.text().empty()) {
      return fail(FetchFailure::Send);
    } else {
      return fail(FetchFailure::NoResponse);
    }
  }
  const std::string rawHeaders = transfer.headers.complete() ? transfer.headers.text() : std::string();
  return deliverResponse(params, rawHeaders, std::move(transfer.body));
}

}  // namespace lirevo
