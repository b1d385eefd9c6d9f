#pragma once
// A relay between the updater and a real FTP server in passive mode: it
// carries the control connection and every data connection, rewriting each
// 227 reply so that the data comes through it too. Told to, it makes the
// server side of a session go away in the middle of a download, as when the
// server's session process dies: the client has then received exactly the
// bytes given and no final reply, and every connection of that session
// closes at once. It listens on 127.0.0.1 on a port it bound itself.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "support/loopback_socket.h"
#include "support/non_copyable.h"

namespace korva::testing {

class FtpRelay : NonCopyable {
 public:
  explicit FtpRelay(std::uint16_t serverPort);
  ~FtpRelay();

  std::uint16_t Port() const { return listener_.Port(); }
  // The next download of `name` ends after `bytes` bytes of it, with its
  // session gone.
  void CutDownload(const std::string& name, std::int64_t bytes);
  // Downloads cut so far.
  int Cuts() const { return cuts_; }

 private:
  struct Session;
  void Run();

  std::uint16_t serverPort_;
  LoopbackSocket listener_;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::string cutName_;
  std::int64_t cutBytes_ = -1;
  std::atomic<int> cuts_{0};
  std::thread thread_;
};

}  // namespace korva::testing
