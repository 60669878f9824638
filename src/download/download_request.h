// SPDX-License-Identifier: MIT
#pragma once

// One HTTP GET of the downloader, on a libcurl handle of its own that lives
// exactly as long as this object. The body is handed over chunk by chunk,
// never more than kReadChunkBytes at a time; the receiver may end the
// transfer after any chunk, or before the first one to leave the body unread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace lirevo {

inline constexpr std::size_t kReadChunkBytes = 20480;

// What the final answer (after redirects) said about itself.
struct ResponseHead {
  long status = 0;
  std::int64_t contentLength = -1;  // -1 when the answer carried none
  std::string contentRange;         // empty when absent
  std::string contentLocation;      // empty when absent
  std::string contentEncoding;      // empty when absent
};

enum class TransferEnd {
  Complete,         // the whole answer arrived
  EndedByReceiver,  // the chunk routine asked to stop
  Failed,           // no answer, a broken connection, an answer cut short, a time-out
};

class DownloadRequest {
 public:
  // Return false to end the transfer after this chunk.
  using ChunkRoutine = std::function<bool(const ResponseHead& head, std::string_view chunk)>;

  explicit DownloadRequest(std::string url);
  DownloadRequest(const DownloadRequest&) = delete;
  DownloadRequest& operator=(const DownloadRequest&) = delete;
  ~DownloadRequest();

  // Header lines joined by "\r\n", sent byte for byte, in this order.
  void setHeaderBlock(std::string_view headerBlock);
  void setAgent(std::string agent);
  void setFollowRedirects(bool follow);

  // Runs the request on the calling thread. Without a chunk routine the body
  // is left unread: the transfer ends as soon as the head has arrived.
  TransferEnd run(const ChunkRoutine& onChunk);

  // Valid after run; whatever had arrived when the transfer ended.
  const ResponseHead& head() const { return m_head; }

 private:
  struct Handles;
  static std::size_t receiveHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t receiveBody(char* data, std::size_t size, std::size_t count, void* self);

  std::string m_url;
  std::string m_agent;
  bool m_followRedirects = true;
  std::unique_ptr<Handles> m_handles;
  ResponseHead m_head;
  const ChunkRoutine* m_onChunk = nullptr;
  bool m_endedByReceiver = false;
};

}  // namespace lirevo
