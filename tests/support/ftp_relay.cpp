#include "support/ftp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <list>
#include <memory>
#include <stdexcept>
#include <vector>

namespace korva::testing {
namespace {

int ConnectTo(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

bool SendAll(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

struct FtpRelay::Session {
  int client = -1;
  int server = -1;
  std::string fromServer;  // a reply line not yet complete
  std::string fromClient;  // a command line not yet complete
  std::string retrieving;  // the name of the running RETR
  // While a download that is to be cut runs, its replies wait for its data:
  // a server that dies half-way never said that the transfer was complete.
  bool holding = false;
  std::string held;
  std::unique_ptr<LoopbackSocket> passive;
  std::uint16_t serverDataPort = 0;
  int clientData = -1;
  int serverData = -1;
  std::int64_t forwarded = 0;

  bool Gone() const { return client < 0; }
  void Close() {
    CloseFd(client);
    CloseFd(server);
    CloseFd(clientData);
    CloseFd(serverData);
    passive.reset();
  }
};

FtpRelay::FtpRelay(std::uint16_t serverPort) : serverPort_(serverPort) {
  listener_.Listen(8);
  if (::pipe(wake_) != 0) throw std::runtime_error("pipe");
  thread_ = std::thread([this] { Run(); });
}

FtpRelay::~FtpRelay() {
  const char byte = 1;
  if (::write(wake_[1], &byte, 1) != 1) std::abort();
  thread_.join();
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void FtpRelay::CutDownload(const std::string& name, std::int64_t bytes) {
  std::lock_guard lock(mutex_);
  cutName_ = name;
  cutBytes_ = bytes;
}

void FtpRelay::Run() {
  std::list<Session> sessions;
  char buffer[65536];
  for (;;) {
    sessions.remove_if([](const Session& s) { return s.Gone(); });
    std::vector<pollfd> fds = {{wake_[0], POLLIN, 0}, {listener_.Fd(), POLLIN, 0}};
    for (Session& s : sessions) {
      for (int fd :
           {s.client, s.server, s.passive ? s.passive->Fd() : -1, s.clientData, s.serverData}) {
        fds.push_back({fd, POLLIN, 0});
      }
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents) {
      Session s;
      s.client = ::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
      s.server = ConnectTo(serverPort_);
      if (s.client >= 0 && s.server >= 0) {
        sessions.push_back(std::move(s));
      } else {
        s.Close();
      }
      continue;
    }
    std::size_t at = 2;
    for (Session& s : sessions) {
      const pollfd* mine = &fds[at];
      at += 5;
      if (s.Gone()) continue;
      // Commands: the name of each RETR, so that its data can be cut.
      if (mine[0].revents) {
        const ssize_t n = ::recv(s.client, buffer, sizeof buffer, 0);
        if (n <= 0 || !SendAll(s.server, buffer, static_cast<std::size_t>(n))) {
          s.Close();
          continue;
        }
        s.fromClient.append(buffer, static_cast<std::size_t>(n));
        for (auto end = s.fromClient.find("\r\n"); end != std::string::npos;
             end = s.fromClient.find("\r\n")) {
          const std::string line = s.fromClient.substr(0, end);
          s.fromClient.erase(0, end + 2);
          if (line.rfind("RETR ", 0) == 0) {
            s.retrieving = line.substr(5);
            s.forwarded = 0;
            std::lock_guard lock(mutex_);
            s.holding = cutBytes_ >= 0 && s.retrieving == cutName_;
          } else if (line.rfind("STOR ", 0) == 0) {
            s.retrieving.clear();
          }
        }
      }
      // Replies, whole lines at a time: a 227 names the relay's own port.
      if (mine[1].revents) {
        const ssize_t n = ::recv(s.server, buffer, sizeof buffer, 0);
        if (n <= 0) {
          s.Close();
          continue;
        }
        s.fromServer.append(buffer, static_cast<std::size_t>(n));
        std::string out;
        for (auto end = s.fromServer.find("\r\n"); end != std::string::npos;
             end = s.fromServer.find("\r\n")) {
          std::string line = s.fromServer.substr(0, end + 2);
          s.fromServer.erase(0, end + 2);
          int h[4], p[2];
          const auto open = line.find('(');
          if (line.rfind("227 ", 0) == 0 && open != std::string::npos &&
              std::sscanf(line.c_str() + open, "(%d,%d,%d,%d,%d,%d)", &h[0], &h[1], &h[2], &h[3],
                          &p[0], &p[1]) == 6) {
            s.serverDataPort = static_cast<std::uint16_t>(p[0] * 256 + p[1]);
            s.passive = std::make_unique<LoopbackSocket>();
            s.passive->Listen(1);
            const std::uint16_t port = s.passive->Port();
            line = "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
                   std::to_string(port & 0xFF) + ").\r\n";
          }
          out += line;
        }
        if (s.holding) {
          s.held += out;
        } else if (!SendAll(s.client, out.data(), out.size())) {
          s.Close();
        }
        continue;
      }
      if (mine[2].revents && s.passive) {
        CloseFd(s.clientData);
        CloseFd(s.serverData);
        s.clientData = ::accept4(s.passive->Fd(), nullptr, nullptr, SOCK_CLOEXEC);
        s.serverData = ConnectTo(s.serverDataPort);
        s.passive.reset();
        continue;
      }
      // Uploads pass as they are.
      if (mine[3].revents && s.clientData >= 0) {
        const ssize_t n = ::recv(s.clientData, buffer, sizeof buffer, 0);
        if (n <= 0 || !SendAll(s.serverData, buffer, static_cast<std::size_t>(n))) {
          CloseFd(s.clientData);
          CloseFd(s.serverData);
        }
        continue;
      }
      if (mine[4].revents && s.serverData >= 0) {
        ssize_t n = ::recv(s.serverData, buffer, sizeof buffer, 0);
        if (n <= 0) {
          CloseFd(s.clientData);
          CloseFd(s.serverData);
          if (s.holding) {
            s.holding = false;
            if (!SendAll(s.client, s.held.data(), s.held.size())) s.Close();
            s.held.clear();
          }
          continue;
        }
        bool cut = false;
        {
          std::lock_guard lock(mutex_);
          if (cutBytes_ >= 0 && s.retrieving == cutName_ && s.forwarded + n >= cutBytes_) {
            n = static_cast<ssize_t>(cutBytes_ - s.forwarded);
            cutBytes_ = -1;
            cut = true;
          }
        }
        SendAll(s.clientData, buffer, static_cast<std::size_t>(n));
        s.forwarded += n;
        if (cut) {
          ++cuts_;
          s.Close();
        }
      }
    }
  }
  for (Session& s : sessions) s.Close();
}

}  // namespace korva::testing
