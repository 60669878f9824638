// SPDX-License-Identifier: MIT
#pragma once

// A loopback web server standing in for the live service: share link paths
// that redirect to room pages (setting a cookie on the way, as the service
// does) and room pages with whatever body a test gives them.

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace lirevo::testing {

class PageServer {
 public:
  struct Page {
    std::string body;
    std::string contentType = "text/html";
    std::chrono::milliseconds delay{0};
  };

  PageServer() {
    m_server.Get("/s/(.*)", [this](const httplib::Request& request, httplib::Response& response) {
      noteRequest(request);
      response.set_header("Set-Cookie", "ttwid=1%7Cloopback; Path=/; HttpOnly");
      response.set_redirect("/room/" + request.matches[1].str(), 302);
    });
    m_server.Get("/room/(.*)", [this](const httplib::Request& request, httplib::Response& response) {
      noteRequest(request);
      Page page;
      {
        std::lock_guard lock(m_mutex);
        const auto it = m_pages.find(request.matches[1].str());
        if (it == m_pages.end()) {
          response.status = 404;
          return;
        }
        page = it->second;
      }
      if (page.delay.count() > 0) std::this_thread::sleep_for(page.delay);
      response.set_content(page.body, page.contentType.c_str());
    });
    m_port = m_server.bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~PageServer() {
    m_server.stop();
    m_thread.join();
  }
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  void setPage(const std::string& room, Page page) {
    std::lock_guard lock(m_mutex);
    m_pages[room] = std::move(page);
  }
  // A share link of a room: redirects to its page. The service's domain
  // stands in the query, which is all the link check asks for.
  std::string shareLink(const std::string& room) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/s/" + room + "?from=douyin.com";
  }
  int requests() const { return m_requests; }
  // The User-Agent header of the last request.
  std::string lastUserAgent() {
    std::lock_guard lock(m_mutex);
    return m_lastUserAgent;
  }

 private:
  void noteRequest(const httplib::Request& request) {
    std::lock_guard lock(m_mutex);
    m_lastUserAgent = request.get_header_value("User-Agent");
    ++m_requests;
  }

  httplib::Server m_server;
  int m_port = 0;
  std::thread m_thread;
  std::mutex m_mutex;
  std::map<std::string, Page> m_pages;
  std::string m_lastUserAgent;
  std::atomic<int> m_requests{0};
};

}  // namespace lirevo::testing
