// SPDX-License-Identifier: MIT
#pragma once

// Real peers for the recording tests and the benchmark: temporary program
// directories with an ffm.exe link to the system FFmpeg, media samples made
// with FFmpeg at run time, a loopback live FLV source at real-time speed, a
// listener on the UDP relay port and an ffprobe summary. Everything stays
// on 127.0.0.1, and every process started here is stopped by its PID.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lirevo::testing {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (fs::temp_directory_path() / "lirevo-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempDirectory() {
    std::error_code ignored;
    if (!m_path.empty()) fs::remove_all(m_path, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

inline std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream entries(path ? path : "/usr/bin");
  for (std::string directory; std::getline(entries, directory, ':');) {
    const std::string candidate = directory + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// A program directory whose ffm.exe is a link to the system FFmpeg.
inline void addRecorderLink(const std::string& programDirectory) {
  fs::create_symlink(findOnPath("ffmpeg"), programDirectory + "/ffm.exe");
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A process started from an argument list; killed and reaped by its PID when
// it is still running at the end of its scope.
class ChildProcess {
 public:
  explicit ChildProcess(std::vector<std::string> arguments, const std::string& outputPath = "/dev/null") {
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    if (posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) m_pid = 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  ~ChildProcess() {
    if (running()) {
      ::kill(m_pid, SIGKILL);
      wait(10s);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return m_pid; }
  bool running() const { return m_pid > 0 && !m_status; }
  void signal(int number) {
    if (running()) ::kill(m_pid, number);
  }
  // The exit status, or nothing when it is still running after `timeout`.
  std::optional<int> wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
      int status = 0;
      const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
      if (done == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (done < 0 || std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(10ms);
    }
    return m_status;
  }

 private:
  pid_t m_pid = 0;
  std::optional<int> m_status;
};

inline int runToEnd(std::vector<std::string> arguments, const std::string& outputPath = "/dev/null") {
  ChildProcess child(std::move(arguments), outputPath);
  return child.wait(300s).value_or(-1);
}

// A live-like FLV sample: a moving test picture and a tone, one key frame a second.
inline std::string makeSample(const std::string& directory, int seconds,
                              const std::string& size = "320x568") {
  const std::string path = directory + "/sample.flv";
  runToEnd({"ffmpeg",
            "-nostdin",
            "-hide_banner",
            "-loglevel",
            "error",
            "-y",
            "-f",
            "lavfi",
            "-i",
            "testsrc2=size=" + size + ":rate=25",
            "-f",
            "lavfi",
            "-i",
            "sine=frequency=440:sample_rate=44100",
            "-t",
            std::to_string(seconds),
            "-c:v",
            "libx264",
            "-preset",
            "ultrafast",
            "-g",
            "25",
            "-pix_fmt",
            "yuv420p",
            "-c:a",
            "aac",
            "-b:a",
            "64k",
            "-f",
            "flv",
            path});
  return path;
}

inline int freeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// True once something listens on the TCP port, looked up in /proc/net/tcp:
// connecting to find out would use up the single client of an FFmpeg
// listening with "-listen 1".
inline bool waitForListening(int port, std::chrono::milliseconds timeout) {
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::istringstream table(readWholeFile("/proc/net/tcp"));
    for (std::string line; std::getline(table, line);) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (local.size() > 5 && local.substr(local.size() - 5) == wanted && state == "0A") return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

// FFmpeg serving the sample once, at real-time speed, to the first client of
// http://127.0.0.1:PORT/stage/stream-1_hd.flv.
class LiveFlvSource {
 public:
  LiveFlvSource(const std::string& samplePath, const std::string& logPath = "/dev/null")
      : m_port(freeTcpPort()),
        m_process({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-re", "-i", samplePath, "-c",
                   "copy", "-f", "flv", "-listen", "1", "http://127.0.0.1:" + std::to_string(m_port) + kPath},
                  logPath) {
    m_listening = waitForListening(m_port, 20s);
  }
  bool listening() const { return m_listening; }
  // An address that begins with "http://pull", as the resolver demands, and
  // still reaches the loopback source ("pull" is the URL's user name).
  std::string streamUrl() const { return "http://pull@127.0.0.1:" + std::to_string(m_port) + kPath; }
  void kill() {
    m_process.signal(SIGKILL);
    m_process.wait(10s);
  }
  // SIGSTOP holds the source with its connection open and silent; SIGCONT lets it go on.
  void signal(int number) { m_process.signal(number); }

 private:
  static constexpr const char* kPath = "/stage/stream-1_hd.flv";
  int m_port;
  ChildProcess m_process;
  bool m_listening = false;
};

// Listens on the recorder's UDP relay, 127.0.0.1:1111, and reads what
// arrives as one MPEG transport stream: datagrams need not end on packet
// boundaries, so packets are counted by their 0x47 sync bytes 188 bytes apart.
class UdpRelayListener {
 public:
  UdpRelayListener() {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(m_socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(1111);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    m_bound = ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (m_bound) m_thread = std::thread([this] { receive(); });
  }
  ~UdpRelayListener() { stop(); }
  UdpRelayListener(const UdpRelayListener&) = delete;
  UdpRelayListener& operator=(const UdpRelayListener&) = delete;

  bool bound() const { return m_bound; }
  // Ends listening; the counts below are final afterwards.
  void stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
  }
  std::size_t bytesReceived() const { return m_bytes.size(); }
  // Whole packets in sync, and the bytes that belonged to none.
  std::size_t transportStreamPackets() const { return count().first; }
  std::size_t bytesOutOfSync() const { return count().second; }

 private:
  static constexpr std::size_t kPacketBytes = 188;
  static constexpr std::size_t kKeepBytes = 8 << 20;

  void receive() {
    std::vector<unsigned char> buffer(65536);
    while (!m_stop) {
      pollfd wait{m_socket, POLLIN, 0};
      if (::poll(&wait, 1, 100) <= 0) continue;
      const ssize_t size = ::recv(m_socket, buffer.data(), buffer.size(), 0);
      if (size > 0 && m_bytes.size() < kKeepBytes)
        m_bytes.insert(m_bytes.end(), buffer.begin(), buffer.begin() + size);
    }
  }
  std::pair<std::size_t, std::size_t> count() const {
    std::size_t packets = 0, outOfSync = 0;
    for (std::size_t at = 0; at < m_bytes.size();) {
      const bool inSync =
          m_bytes[at] == 0x47 && (at + kPacketBytes >= m_bytes.size() || m_bytes[at + kPacketBytes] == 0x47);
      if (inSync && at + kPacketBytes <= m_bytes.size()) {
        ++packets;
        at += kPacketBytes;
      } else {
        ++outOfSync;
        ++at;
      }
    }
    return {packets, outOfSync};
  }

  int m_socket = -1;
  bool m_bound = false;
  std::atomic<bool> m_stop{false};
  std::vector<unsigned char> m_bytes;  // written by the receiving thread until stop()
  std::thread m_thread;
};

struct MediaSummary {
  bool hasVideo = false;
  bool hasAudio = false;
  double durationSeconds = 0;
  bool readable = false;
};

// What ffprobe finds in a media file.
inline MediaSummary probeMedia(const std::string& path, const std::string& scratchDirectory) {
  const std::string report = scratchDirectory + "/probe.txt";
  MediaSummary summary;
  const int status = runToEnd({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type:format=duration",
                               "-of", "default=noprint_wrappers=1", path},
                              report);
  std::istringstream lines(readWholeFile(report));
  for (std::string line; std::getline(lines, line);) {
    if (line == "codec_type=video") summary.hasVideo = true;
    if (line == "codec_type=audio") summary.hasAudio = true;
    if (line.rfind("duration=", 0) == 0 && line != "duration=N/A")
      summary.durationSeconds = std::stod(line.substr(9));
  }
  summary.readable = status == 0 && summary.durationSeconds > 0;
  return summary;
}

// The MP4 files in a directory, by file name.
inline std::vector<std::string> mp4Files(const std::string& directory) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    if (entry.path().extension() == ".mp4") names.push_back(entry.path().filename().string());
  }
  return names;
}

// Polls `condition` every 20 ms until it holds or `timeout` has passed.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

}  // namespace lirevo::testing
