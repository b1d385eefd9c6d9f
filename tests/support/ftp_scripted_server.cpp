#include "support/ftp_scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace korva::testing {
namespace {

// Generous: on a loaded machine a well-behaved client may be late by
// seconds; only one that never comes must end the wait.
constexpr int kWaitMs = 10000;

bool WaitReadable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, kWaitMs) > 0;
}

int AcceptOne(int listener) {
  if (!WaitReadable(listener)) throw std::runtime_error("scripted server: nobody connected");
  const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) throw std::runtime_error("scripted server: accept failed");
  return fd;
}

void SendAll(int fd, const std::string& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) throw std::runtime_error("scripted server: the client went away");
    at += static_cast<std::size_t>(n);
  }
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

void ClientWaits::Slice() {
  std::unique_lock lock(mutex_);
  if (ended_ || !(holdAll_ || wanted_)) return;
  wanted_ = false;
  held_ = true;
  changed_.notify_all();
  changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return !held_ || ended_; });
  held_ = false;
}

void ClientWaits::HoldAll() {
  std::lock_guard lock(mutex_);
  holdAll_ = true;
}

void ClientWaits::Take(const std::function<void()>& act) {
  std::unique_lock lock(mutex_);
  wanted_ = true;
  const bool held =
      changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return held_; });
  wanted_ = false;
  if (!held) throw std::runtime_error("scripted server: the client never waited");
  // The client stays held until act is done, whatever it does.
  struct Release {
    ClientWaits& w;
    ~Release() {
      w.held_ = false;
      w.changed_.notify_all();
    }
  } release{*this};
  act();
}

void ClientWaits::End() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

ScriptedPeer::~ScriptedPeer() {
  CloseFd(data_);
  CloseFd(control_);
}

void ScriptedPeer::Send(const std::string& bytes) {
  SendAll(control_, bytes);
}

std::string ScriptedPeer::ReadCommand() {
  for (;;) {
    const auto end = inbox_.find("\r\n");
    if (end != std::string::npos) {
      std::string line = inbox_.substr(0, end);
      inbox_.erase(0, end + 2);
      commands_.push_back(line);
      return line;
    }
    if (control_ < 0 || !WaitReadable(control_)) return {};
    char buf[4096];
    const ssize_t n = ::recv(control_, buf, sizeof buf, 0);
    if (n <= 0) return {};
    inbox_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string ScriptedPeer::Expect(const std::string& prefix) {
  for (;;) {
    std::string line = ReadCommand();
    if (line.empty()) throw std::runtime_error("scripted server: expected " + prefix);
    if (line.rfind(prefix, 0) == 0) return line;
    Send("500 Not expected here.\r\n");
  }
}

bool ScriptedPeer::ClientHangsUp() {
  for (;;) {
    if (inbox_.find("\r\n") != std::string::npos) return false;
    if (control_ < 0 || !WaitReadable(control_)) return false;
    char buf[4096];
    const ssize_t n = ::recv(control_, buf, sizeof buf, 0);
    if (n <= 0) return true;
    inbox_.append(buf, static_cast<std::size_t>(n));
  }
}

void ScriptedPeer::LogIn() {
  Send("220 Scripted server ready.\r\n");
  Expect("USER");
  Send("331 Password please.\r\n");
  Expect("PASS");
  Send("230 Logged in.\r\n");
  Expect("TYPE I");
  Send("200 Binary.\r\n");
  Expect("SYST");
  Send("215 UNIX Type: L8\r\n");
}

std::string ScriptedPeer::OpenPassive(const std::string& announced) {
  passive_.reset();
  passive_.emplace().Listen(4);
  const std::uint16_t port = passive_->Port();
  return "227 Entering Passive Mode (" + announced + "," + std::to_string(port >> 8) + "," +
         std::to_string(port & 0xFF) + ").\r\n";
}

void ScriptedPeer::ConnectData(const std::string& portCommand, const std::string& from) {
  int n[6] = {};
  if (std::sscanf(portCommand.c_str(), "PORT %d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4],
                  &n[5]) != 6) {
    throw std::runtime_error("scripted server: not a PORT command: " + portCommand);
  }
  const auto address = [](const std::string& text, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, text.c_str(), &sa.sin_addr);
    return sa;
  };
  CloseFd(data_);
  data_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in local = address(from, 0);
  const sockaddr_in remote = address(std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                                         std::to_string(n[2]) + "." + std::to_string(n[3]),
                                     static_cast<std::uint16_t>(n[4] * 256 + n[5]));
  if (data_ < 0 || ::bind(data_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(data_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
    throw std::runtime_error("scripted server: cannot connect to the client's port");
  }
}

bool ScriptedPeer::DataClosedByClient() {
  char buf[1];
  // Closed with our bytes unread, it resets instead.
  return WaitReadable(data_) && ::recv(data_, buf, sizeof buf, 0) <= 0;
}

void ScriptedPeer::AcceptData() {
  data_ = AcceptOne(passive_->Fd());
  passive_.reset();
}

void ScriptedPeer::SendData(const std::string& bytes) {
  SendAll(data_, bytes);
}

std::string ScriptedPeer::ReceiveAllData() {
  std::string bytes;
  for (;;) {
    if (!WaitReadable(data_)) throw std::runtime_error("scripted server: data never ended");
    char buf[4096];
    const ssize_t n = ::recv(data_, buf, sizeof buf, 0);
    if (n <= 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  CloseFd(data_);
  return bytes;
}

void ScriptedPeer::CloseData() {
  CloseFd(data_);
}

void ScriptedPeer::StartPassiveDownload() {
  Expect("PASV");
  Send(OpenPassive());
  AcceptData();
  Expect("RETR");
  Send("150 Here it comes.\r\n");
}

void ScriptedPeer::Vanish() {
  CloseFd(data_);
  passive_.reset();
  CloseFd(control_);
}

void ScriptedPeer::CloseControl() {
  CloseFd(control_);
}

void ScriptedPeer::SendInClientWait(const std::string& bytes) {
  ActInClientWait([&] {
    if (!bytes.empty()) Send(bytes);
  });
}

void ScriptedPeer::ActInClientWait(const std::function<void()>& act) {
  waits_.Take(act);
}

ScriptedFtpServer::ScriptedFtpServer(std::function<void(ScriptedPeer&)> script) {
  listener_.Listen(4);
  thread_ = std::thread([this, script = std::move(script)] {
    struct EndWaits {
      ClientWaits& w;
      ~EndWaits() { w.End(); }
    } endWaits{*waits_};
    try {
      ScriptedPeer peer(AcceptOne(listener_.Fd()), *waits_);
      try {
        script(peer);
      } catch (const std::exception& e) {
        std::lock_guard lock(mutex_);
        failure_ = e.what();
      }
      std::lock_guard lock(mutex_);
      commands_ = peer.Commands();
    } catch (const std::exception& e) {
      std::lock_guard lock(mutex_);
      failure_ = e.what();
    }
  });
}

ScriptedFtpServer::~ScriptedFtpServer() {
  Join();
}

void ScriptedFtpServer::Join() {
  if (thread_.joinable()) thread_.join();
}

std::vector<std::string> ScriptedFtpServer::Commands() {
  Join();
  std::lock_guard lock(mutex_);
  return commands_;
}

std::string ScriptedFtpServer::Failure() {
  Join();
  std::lock_guard lock(mutex_);
  return failure_;
}

}  // namespace korva::testing
