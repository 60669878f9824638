// SPDX-License-Identifier: MIT
#pragma once

// A small HTTP/1.1 server on 127.0.0.1 for tests. It records the raw bytes of
// every request it receives, so tests can assert on what really went over the
// wire, and answers each with the raw bytes a handler returns (any status
// line, duplicate headers, a body cut short, a pause between pieces, or no
// answer at all). One request per connection; the connection closes after
// the reply. It also serves as a stand-in proxy: a request sent through it
// arrives with an absolute address or as CONNECT.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace lirevo::testing {

struct ReceivedRequest {
  std::string raw;          // every byte read: request line, headers, empty line, body
  std::string requestLine;  // "GET /page HTTP/1.1"
  std::string method;
  std::string target;
  std::string headerBlock;  // the header lines, each ending in "\r\n", without the empty line
  std::string body;

  // The header lines in order, without their line ends.
  std::vector<std::string> headerLines() const {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < headerBlock.size();) {
      const std::size_t end = headerBlock.find("\r\n", at);
      lines.push_back(headerBlock.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }

  // The value of the first header with this name (compared without regard to
  // case), blanks after the colon skipped.
  std::optional<std::string> header(std::string_view name) const {
    for (const std::string& line : headerLines()) {
      const std::size_t colon = line.find(':');
      if (colon != name.size()) continue;
      if (!std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          }))
        continue;
      const std::size_t value = line.find_first_not_of(' ', colon + 1);
      return value == std::string::npos ? std::string() : line.substr(value);
    }
    return std::nullopt;
  }
};

struct Reply {
  std::string bytes{};           // written as they are
  std::size_t trickleBytes = 0;  // when > 0, written in pieces of this size ...
  int trickleMs = 0;             // ... with this pause before each further piece
  bool holdOpen = false;         // then the connection stays open and silent until the client leaves
};

// A complete response: the status line, Content-Length, "Connection: close",
// the extra header lines given (each without a line end) and the body.
inline std::string httpResponse(std::string_view status, std::string_view body,
                                const std::vector<std::string>& headerLines = {}) {
  std::string response = "HTTP/1.1 " + std::string(status) + "\r\n";
  response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "Connection: close\r\n";
  for (const std::string& line : headerLines) response += line + "\r\n";
  response += "\r\n";
  response += body;
  return response;
}

class LoopbackHttpServer {
 public:
  using Handler = std::function<Reply(const ReceivedRequest&)>;

  explicit LoopbackHttpServer(Handler handler) : m_handler(std::move(handler)) {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0) throw std::runtime_error("socket");
    const int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 64) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(m_listenFd);
      throw std::runtime_error("bind");
    }
    m_port = ntohs(address.sin_port);
    if (::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
      ::close(m_listenFd);
      throw std::runtime_error("pipe");
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
  }

  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  ~LoopbackHttpServer() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t written = ::write(m_stopPipe[1], &stop, 1);
    m_acceptThread.join();
    std::vector<std::thread> connections;
    {
      const std::lock_guard<std::mutex> lock(m_mutex);
      connections.swap(m_connections);
    }
    for (std::thread& connection : connections) connection.join();
    ::close(m_listenFd);
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
  }

  int port() const { return m_port; }

  // "http://127.0.0.1:<port>" followed by the path.
  std::string url(std::string_view path = "/") const {
    return "http://127.0.0.1:" + std::to_string(m_port) + std::string(path);
  }

  std::vector<ReceivedRequest> requests() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }

  std::size_t requestCount() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
  }

  // Connections accepted, whether or not a whole request arrived on them.
  int connectionCount() const { return m_connectionCount.load(); }

 private:
  // Waits until `fd` is ready for `events` or the server stops; false on stop.
  bool waitFor(int fd, short events, int timeoutMs = -1) const {
    pollfd fds[2] = {{fd, events, 0}, {m_stopPipe[0], POLLIN, 0}};
    for (;;) {
      const int ready = ::poll(fds, 2, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return ready == 0;  // a time-out is no stop
      return (fds[1].revents & POLLIN) == 0;
    }
  }

  void acceptLoop() {
    while (waitFor(m_listenFd, POLLIN)) {
      const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      ++m_connectionCount;
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_connections.emplace_back([this, client] {
        serve(client);
        ::close(client);
      });
    }
  }

  // Reads one request: the header block, then as many body bytes as
  // Content-Length names. Nothing when the client leaves before the headers
  // are complete or the server stops.
  std::optional<ReceivedRequest> readRequest(int client) const {
    ReceivedRequest request;
    std::size_t headerEnd = std::string::npos;
    std::size_t wanted = 0;
    char buffer[16384];
    for (;;) {
      if (headerEnd == std::string::npos) {
        headerEnd = request.raw.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
          const std::size_t lineEnd = request.raw.find("\r\n");
          request.requestLine = request.raw.substr(0, lineEnd);
          request.headerBlock =
              lineEnd == headerEnd ? std::string() : request.raw.substr(lineEnd + 2, headerEnd - lineEnd);
          const std::size_t space = request.requestLine.find(' ');
          request.method = request.requestLine.substr(0, space);
          if (space != std::string::npos) {
            const std::size_t second = request.requestLine.find(' ', space + 1);
            request.target = request.requestLine.substr(space + 1, second - space - 1);
          }
          const std::optional<std::string> length = request.header("Content-Length");
          wanted = length ? std::strtoul(length->c_str(), nullptr, 10) : 0;
        }
      }
      if (headerEnd != std::string::npos && request.raw.size() >= headerEnd + 4 + wanted) {
        request.body = request.raw.substr(headerEnd + 4, wanted);
        return request;
      }
      if (!waitFor(client, POLLIN)) return std::nullopt;
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) return std::nullopt;
      request.raw.append(buffer, static_cast<std::size_t>(got));
    }
  }

  bool writeAll(int client, std::string_view bytes) const {
    while (!bytes.empty()) {
      if (!waitFor(client, POLLOUT)) return false;
      const ssize_t sent = ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
  }

  void serve(int client) {
    const std::optional<ReceivedRequest> request = readRequest(client);
    if (!request) return;
    {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(*request);
    }
    const Reply reply = m_handler(*request);
    std::string_view rest = reply.bytes;
    const std::size_t piece = reply.trickleBytes > 0 ? reply.trickleBytes : rest.size();
    for (bool first = true; !rest.empty(); first = false) {
      if (!first && reply.trickleMs > 0) {
        // A time-out of the wait is the pause; readable stop pipe ends it.
        pollfd stop = {m_stopPipe[0], POLLIN, 0};
        if (::poll(&stop, 1, reply.trickleMs) != 0) return;
      }
      const std::string_view chunk = rest.substr(0, piece);
      if (!writeAll(client, chunk)) return;
      rest.remove_prefix(chunk.size());
    }
    if (reply.holdOpen) {
      char sink[4096];
      // Silent until the client closes its side or the server stops.
      while (waitFor(client, POLLIN)) {
        if (::recv(client, sink, sizeof sink, 0) <= 0) return;
      }
      return;
    }
    // Let the client read everything and close first, so that unread bytes
    // never turn the close into a reset.
    ::shutdown(client, SHUT_WR);
    char sink[4096];
    while (waitFor(client, POLLIN, kDrainTimeoutMs) && ::recv(client, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
  }

  static constexpr int kDrainTimeoutMs = 5000;

  Handler m_handler;
  int m_listenFd = -1;
  int m_stopPipe[2] = {-1, -1};
  int m_port = 0;
  std::thread m_acceptThread;
  mutable std::mutex m_mutex;
  std::vector<std::thread> m_connections;
  std::vector<ReceivedRequest> m_requests;
  std::atomic<int> m_connectionCount{0};
};

}  // namespace lirevo::testing
