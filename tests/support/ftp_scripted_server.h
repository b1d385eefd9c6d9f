#pragma once
// An FTP server of our own for the faults real servers cannot produce: a
// reply split across reads, an endless reply, a PASV number above 255, a peer
// that goes away in the middle of a reply or of the data. One control
// connection on 127.0.0.1 and a free port; the test's script plays the server
// on a thread of its own. Everything it reads waits at most a few seconds, so
// a client that misbehaves fails the test instead of hanging it.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korva::testing {

class ScriptedPeer {
 public:
  explicit ScriptedPeer(int control) : control_(control) {}
  ~ScriptedPeer();

  // Raw bytes, exactly as given (replies carry their own CR LF).
  void Send(const std::string& bytes);
  // One command line without its CR LF; empty when the client closed.
  std::string ReadCommand();
  // Reads commands until one starts with `prefix`; returns it.
  std::string Expect(const std::string& prefix);
  // Greeting, USER/PASS, TYPE I, SYST answered the usual way.
  void LogIn();

  // Opens a passive listener; returns the "227 ..." reply text for it.
  std::string OpenPassive();
  void AcceptData();
  void SendData(const std::string& bytes);
  std::string ReceiveAllData();
  void CloseData();
  // Gone without a word: both connections closed.
  void Vanish();

  const std::vector<std::string>& Commands() const { return commands_; }

 private:
  int control_ = -1;
  int listener_ = -1;
  int data_ = -1;
  std::string inbox_;
  std::vector<std::string> commands_;
};

class ScriptedFtpServer {
 public:
  explicit ScriptedFtpServer(std::function<void(ScriptedPeer&)> script);
  // Waits for the script to finish.
  ~ScriptedFtpServer();
  ScriptedFtpServer(const ScriptedFtpServer&) = delete;
  ScriptedFtpServer& operator=(const ScriptedFtpServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // The commands the script read, once it has finished.
  std::vector<std::string> Commands();
  // A failure inside the script (an unexpected command), empty when none.
  std::string Failure();
  void Join();

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> commands_;
  std::string failure_;
};

}  // namespace korva::testing
