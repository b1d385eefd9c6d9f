#include "support/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace korva::testing {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

}  // namespace

LoopbackSocket::LoopbackSocket() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in sa = Loopback(0);
  socklen_t len = sizeof sa;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("cannot bind a loopback port");
  }
  port_ = ntohs(sa.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
  ::close(fd_);
}

void LoopbackSocket::Listen(int backlog) {
  if (::listen(fd_, backlog) != 0) throw std::runtime_error("cannot listen on a loopback port");
}

int LoopbackSocket::ConnectWithoutWaiting() const {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = Loopback(port_);
  ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return fd;
}

}  // namespace korva::testing
