// SPDX-License-Identifier: MIT
#pragma once

// A small HTTP/1.1 file server on 127.0.0.1 for tests and benchmarks: byte
// ranges, keep-alive, and the faults a download must survive (no length, no
// ranges, a connection cut in the middle of a block, 404, a smooth rate limit
// per connection). It records every request's header lines as they arrived.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace lirevo::test {

struct ServerFaults {
  bool dropContentLength = false;         // every answer without Content-Length, ended by closing
  bool ignoreRange = false;               // every answer 200 with the whole file
  bool notFoundForRanges = false;         // 404 to every request that asks for a range
  std::int64_t cutRangesAfterBytes = -1;  // ranged answers break off after this many body bytes
  std::int64_t bytesPerSecond = 0;        // per connection, paced smoothly; 0 is no limit
  std::int64_t claimedLength = -1;  // a Content-Length for whole-file answers that the body does not keep
  bool resetWhenCut = false;        // a cut range ends with a reset (RST) rather than a close
  const char* contentEncoding =
      nullptr;  // sent as Content-Encoding on every answer (the files hold the coded bytes)
};

struct RecordedRequest {
  std::string method;
  std::string target;
  std::vector<std::string> headerLines;  // as received, without line ends
};

class RangeServer {
 public:
  RangeServer() {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 64);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
  }

  RangeServer(const RangeServer&) = delete;
  RangeServer& operator=(const RangeServer&) = delete;

  ~RangeServer() {
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    ::close(m_listener);
    std::vector<std::thread> connections;
    {
      std::lock_guard guard(m_mutex);
      for (int descriptor : m_openSockets) ::shutdown(descriptor, SHUT_RDWR);
      connections.swap(m_connections);
    }
    for (std::thread& connection : connections) connection.join();
  }

  void addFile(const std::string& path, std::string body, std::string contentLocation = "") {
    std::lock_guard guard(m_mutex);
    m_files[path] = std::make_shared<const File>(File{std::move(body), std::move(contentLocation)});
  }

  void setFaults(const ServerFaults& faults) {
    std::lock_guard guard(m_mutex);
    m_faults = faults;
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
  }
  int port() const { return m_port; }

  std::vector<RecordedRequest> requests() {
    std::lock_guard guard(m_mutex);
    return m_requests;
  }

  // Every header line that names a range, in arrival order.
  std::vector<std::string> rangeLines() {
    std::vector<std::string> lines;
    for (const RecordedRequest& request : requests()) {
      for (const std::string& line : request.headerLines) {
        if (startsWithIgnoringCase(line, "range:")) lines.push_back(line);
      }
    }
    return lines;
  }

  // The most ranged answers that were being sent at the same moment.
  int mostRangedAtOnce() const { return m_mostRangedAtOnce; }

 private:
  struct File {
    std::string body;
    std::string contentLocation;
  };
  struct Range {
    std::int64_t first;
    std::int64_t last;
  };

  static bool startsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(text[i])) !=
          std::tolower(static_cast<unsigned char>(prefix[i])))
        return false;
    }
    return true;
  }

  static std::string headerValue(const RecordedRequest& request, const std::string& name) {
    for (const std::string& line : request.headerLines) {
      if (startsWithIgnoringCase(line, name + ":")) {
        std::string value = line.substr(name.size() + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        return value;
      }
    }
    return "";
  }

  // "bytes=a-b", "bytes=a-" or "bytes=-n"; the first range of a list only.
  static std::optional<Range> parseRange(std::string value, std::int64_t size) {
    value.erase(std::remove(value.begin(), value.end(), ' '), value.end());
    if (!startsWithIgnoringCase(value, "bytes=")) return std::nullopt;
    value = value.substr(6, value.find(',') == std::string::npos ? std::string::npos : value.find(',') - 6);
    const std::size_t dash = value.find('-');
    if (dash == std::string::npos) return std::nullopt;
    const std::string from = value.substr(0, dash), to = value.substr(dash + 1);
    if (from.empty() && to.empty()) return std::nullopt;
    Range range{};
    if (from.empty()) {
      range.first = std::max<std::int64_t>(0, size - static_cast<std::int64_t>(std::stoll(to)));
      range.last = size - 1;
    } else {
      range.first = std::stoll(from);
      range.last = to.empty() ? size - 1 : std::min<std::int64_t>(std::stoll(to), size - 1);
    }
    if (range.first >= size || range.last < range.first) return std::nullopt;
    return range;
  }

  void acceptLoop() {
    while (!m_stopping) {
      const int descriptor = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (descriptor < 0) {
        if (m_stopping) return;
        continue;
      }
      const int yes = 1;
      ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      std::lock_guard guard(m_mutex);
      if (m_stopping) {
        ::close(descriptor);
        return;
      }
      m_openSockets.insert(descriptor);
      m_connections.emplace_back([this, descriptor] { serveConnection(descriptor); });
    }
  }

  // Reads up to the end of one request head; false when the peer went away.
  bool readHead(int descriptor, std::string& pending, std::string& head) {
    for (;;) {
      const std::size_t end = pending.find("\r\n\r\n");
      if (end != std::string::npos) {
        head = pending.substr(0, end);
        pending.erase(0, end + 4);
        return true;
      }
      if (pending.size() > 65536) return false;
      char buffer[4096];
      const ssize_t got = ::recv(descriptor, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      pending.append(buffer, static_cast<std::size_t>(got));
    }
  }

  bool sendAll(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t sent = ::send(descriptor, data, size, MSG_NOSIGNAL);
      if (sent <= 0) return false;
      data += sent;
      size -= static_cast<std::size_t>(sent);
    }
    return !m_stopping;
  }

  // Paced so that by any moment no more than rate x elapsed time has gone out.
  // `beforeLastPiece` runs before the piece that completes the body goes out,
  // so that the peer cannot have the whole body before it has run.
  template <typename Hook>
  bool sendBody(int descriptor, const char* data, std::size_t size, std::int64_t bytesPerSecond,
                Hook beforeLastPiece) {
    if (bytesPerSecond <= 0) {
      constexpr std::size_t kPiece = 262144;
      for (std::size_t at = 0; at < size; at += kPiece) {
        const std::size_t piece = std::min(kPiece, size - at);
        if (at + piece == size) beforeLastPiece();
        if (!sendAll(descriptor, data + at, piece)) return false;
      }
      return true;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point began = Clock::now();
    std::size_t sent = 0;
    while (sent < size) {
      const double elapsedSeconds = std::chrono::duration<double>(Clock::now() - began).count();
      const auto allowed = static_cast<std::size_t>(elapsedSeconds * static_cast<double>(bytesPerSecond));
      if (allowed > sent) {
        const std::size_t piece = std::min({allowed - sent, size - sent, std::size_t{16384}});
        if (sent + piece == size) beforeLastPiece();
        if (!sendAll(descriptor, data + sent, piece)) return false;
        sent += piece;
      } else {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
      if (m_stopping) return false;
    }
    return true;
  }

  void serveConnection(int descriptor) {
    std::string pending;
    std::string head;
    while (!m_stopping && readHead(descriptor, pending, head)) {
      if (!serveRequest(descriptor, head)) break;
    }
    std::lock_guard guard(m_mutex);
    m_openSockets.erase(descriptor);
    ::close(descriptor);
  }

  // Answers one request; false when the connection is to be closed.
  bool serveRequest(int descriptor, const std::string& head) {
    RecordedRequest request;
    std::size_t lineStart = 0;
    bool firstLine = true;
    while (lineStart <= head.size()) {
      std::size_t lineEnd = head.find("\r\n", lineStart);
      if (lineEnd == std::string::npos) lineEnd = head.size();
      const std::string line = head.substr(lineStart, lineEnd - lineStart);
      if (firstLine) {
        const std::size_t a = line.find(' '), b = line.rfind(' ');
        request.method = line.substr(0, a);
        request.target = a == std::string::npos || b <= a ? "" : line.substr(a + 1, b - a - 1);
        firstLine = false;
      } else if (!line.empty()) {
        request.headerLines.push_back(line);
      }
      lineStart = lineEnd + 2;
    }
    ServerFaults faults;
    std::shared_ptr<const File> file;
    {
      std::lock_guard guard(m_mutex);
      m_requests.push_back(request);
      faults = m_faults;
      const std::string path = request.target.substr(0, request.target.find('?'));
      const auto it = m_files.find(path);
      if (it != m_files.end()) file = it->second;
    }
    const bool clientCloses = startsWithIgnoringCase(headerValue(request, "Connection"), "close");
    const std::string rangeValue = headerValue(request, "Range");
    const bool asksRange = !rangeValue.empty();

    if (!file || (asksRange && faults.notFoundForRanges)) {
      const std::string body = "not found";
      const std::string answer = "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      sendAll(descriptor, answer.data(), answer.size());
      return false;
    }

    const auto size = static_cast<std::int64_t>(file->body.size());
    std::optional<Range> range;
    if (asksRange && !faults.ignoreRange) {
      range = parseRange(rangeValue, size);
      if (!range) {
        const std::string answer = "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
                                   std::to_string(size) +
                                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        sendAll(descriptor, answer.data(), answer.size());
        return false;
      }
    }
    const std::int64_t first = range ? range->first : 0;
    const std::int64_t length = range ? range->last - range->first + 1 : size;
    const bool cut = range && faults.cutRangesAfterBytes >= 0 && faults.cutRangesAfterBytes < length;
    const bool keepAlive = !clientCloses && !faults.dropContentLength && !cut && faults.claimedLength < 0;

    std::string answer = range ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
    answer += "Content-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n";
    if (range) {
      answer += "Content-Range: bytes " + std::to_string(range->first) + "-" + std::to_string(range->last) +
                "/" + std::to_string(size) + "\r\n";
    }
    const bool claimed = !range && faults.claimedLength >= 0;
    if (claimed) {
      answer += "Content-Length: " + std::to_string(faults.claimedLength) + "\r\n";
    } else if (!faults.dropContentLength) {
      answer += "Content-Length: " + std::to_string(length) + "\r\n";
    }
    if (!file->contentLocation.empty()) answer += "Content-Location: " + file->contentLocation + "\r\n";
    if (faults.contentEncoding != nullptr)
      answer += "Content-Encoding: " + std::string(faults.contentEncoding) + "\r\n";
    answer += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (!sendAll(descriptor, answer.data(), answer.size())) return false;
    if (request.method == "HEAD") return keepAlive;

    if (range) {
      const int now = ++m_rangedNow;
      int most = m_mostRangedAtOnce.load();
      while (now > most && !m_mostRangedAtOnce.compare_exchange_weak(most, now)) {
      }
    }
    const std::int64_t bodyBytes = cut ? faults.cutRangesAfterBytes : length;
    bool counted = range.has_value();
    const auto leave = [&] {
      if (counted) --m_rangedNow;
      counted = false;
    };
    const bool sent = sendBody(descriptor, file->body.data() + first, static_cast<std::size_t>(bodyBytes),
                               faults.bytesPerSecond, leave);
    leave();
    if (cut && faults.resetWhenCut) {
      // Closing with a zero linger time sends a reset instead of the end of the stream.
      const linger abort{1, 0};
      ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    return sent && keepAlive;
  }

  int m_listener = -1;
  int m_port = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_acceptor;
  std::mutex m_mutex;
  std::map<std::string, std::shared_ptr<const File>> m_files;
  ServerFaults m_faults;
  std::vector<RecordedRequest> m_requests;
  std::set<int> m_openSockets;
  std::vector<std::thread> m_connections;
  std::atomic<int> m_rangedNow{0};
  std::atomic<int> m_mostRangedAtOnce{0};
};

}  // namespace lirevo::test
