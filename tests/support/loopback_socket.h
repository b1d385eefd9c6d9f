#pragma once
// A TCP socket of the test's own on 127.0.0.1, bound to a port the system
// picked: nobody else can take that port while the object lives. Bound but
// not listening it refuses every connection; Listen makes it a listener.
// Closed when it goes.
#include <cstdint>

#include "support/non_copyable.h"

namespace korva::testing {

class LoopbackSocket : NonCopyable {
 public:
  LoopbackSocket();  // throws when no port can be bound
  ~LoopbackSocket();

  void Listen(int backlog);
  // A connection attempt to it that does not wait for the answer; the
  // caller closes the descriptor.
  int ConnectWithoutWaiting() const;

  int Fd() const { return fd_; }
  std::uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace korva::testing
