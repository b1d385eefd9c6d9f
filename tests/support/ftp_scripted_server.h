#pragma once
// An FTP server of our own for the faults real servers cannot produce: a
// reply split across reads, an endless reply, a PASV number above 255, a peer
// that goes away in the middle of a reply or of the data, a silence that ends
// exactly when the script says. One control connection on 127.0.0.1 and a
// port it bound itself; the test's script plays the server on a thread of its
// own. Everything it waits for takes at most a few seconds, so a client that
// misbehaves fails the test instead of hanging it.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"
#include "support/non_copyable.h"

namespace korva::testing {

// The client's idle wait slices, as the script sees them: the client's wait
// hook (ScriptedFtpServer::ClientWaitHook) reports each one here, and the
// script may hold the client inside one while it acts.
class ClientWaits {
 public:
  // The client's side: returns at once unless the script wants this slice;
  // then returns once the script has acted.
  void Slice();
  void HoldAll();
  // Waits until the client sits in a slice it holds, runs act, lets it go.
  void Take(const std::function<void()>& act);
  // The script ended: nothing is held any more.
  void End();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool holdAll_ = false;
  bool wanted_ = false;
  bool held_ = false;
  bool ended_ = false;
};

class ScriptedPeer {
 public:
  ScriptedPeer(int control, ClientWaits& waits) : control_(control), waits_(waits) {}
  ~ScriptedPeer();

  // Raw bytes, exactly as given (replies carry their own CR LF).
  void Send(const std::string& bytes);
  // One command line without its CR LF; empty when the client closed.
  std::string ReadCommand();
  // Reads commands until one starts with `prefix`; returns it.
  std::string Expect(const std::string& prefix);
  // Greeting, USER/PASS, TYPE I, SYST answered the usual way.
  void LogIn();
  // True when the client closes the control connection without another
  // command (within the script's wait).
  bool ClientHangsUp();

  // Opens a passive listener on 127.0.0.1; returns the "227 ..." reply text
  // for it, announcing `announced` ("h1,h2,h3,h4") as its address.
  std::string OpenPassive(const std::string& announced = "127,0,0,1");
  void AcceptData();
  // Active mode: connects to the address and port of a PORT command line,
  // from the local address `from` (any of 127.0.0.0/8).
  void ConnectData(const std::string& portCommand, const std::string& from = "127.0.0.1");
  // Whether the client closed the data connection (within the script's wait).
  bool DataClosedByClient();
  void SendData(const std::string& bytes);
  std::string ReceiveAllData();
  void CloseData();
  // PASV answered, its data connection accepted, RETR answered with 150:
  // the file's bytes may follow.
  void StartPassiveDownload();
  // Gone without a word: both connections closed.
  void Vanish();
  // Only the control connection closed; a data connection stays open.
  void CloseControl();

  // Waits until the client sits in an idle wait slice, sends the bytes while
  // it is held there, then lets it go. That slice began after the client sent
  // every command the script has read and took in all that an earlier
  // SendInClientWait sent, so these bytes are all it finds at its next look:
  // a piece of a reply that arrives on its own, or an answer that comes while
  // the client waits for something else.
  void SendInClientWait(const std::string& bytes);
  // The same for any act: the client finds its effect at its next look.
  void ActInClientWait(const std::function<void()>& act);
  // From now on no idle slice of the client ends before the script takes it
  // with SendInClientWait (empty bytes: silence), so the script decides
  // exactly how many slices pass.
  void HoldClientWaits() { waits_.HoldAll(); }

  const std::vector<std::string>& Commands() const { return commands_; }

 private:
  int control_ = -1;
  ClientWaits& waits_;
  std::optional<LoopbackSocket> passive_;
  int data_ = -1;
  std::string inbox_;
  std::vector<std::string> commands_;
};

class ScriptedFtpServer : NonCopyable {
 public:
  explicit ScriptedFtpServer(std::function<void(ScriptedPeer&)> script);
  // Waits for the script to finish.
  ~ScriptedFtpServer();

  std::uint16_t Port() const { return listener_.Port(); }
  // The wait hook for the client's session (or to call from its own hook):
  // reports each idle slice to the script.
  std::function<void()> ClientWaitHook() const {
    return [waits = waits_] { waits->Slice(); };
  }
  // The commands the script read, once it has finished.
  std::vector<std::string> Commands();
  // A failure inside the script (an unexpected command), empty when none.
  std::string Failure();
  void Join();

 private:
  LoopbackSocket listener_;
  std::shared_ptr<ClientWaits> waits_ = std::make_shared<ClientWaits>();
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> commands_;
  std::string failure_;
};

}  // namespace korva::testing
