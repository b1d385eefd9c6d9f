#pragma once
// A Firebird server of the test's own, for tests that kill it: its own port,
// lock folder and copy of the security database (so user KORVA is known), on
// the machine's own server program. The machine's server on 3050, which other
// tests share, is never touched. Needs root, as the machine's server does.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "support/non_copyable.h"
#include "support/temp_dir.h"

namespace korva::testing {

class FirebirdInstance : NonCopyable {
 public:
  // Started, listening on a port no one else had.
  FirebirdInstance();
  // Killed if it still runs.
  ~FirebirdInstance();

  std::uint16_t Port() const { return port_; }
  // The server part of a connection text: "localhost/PORT".
  std::string Server() const { return "localhost/" + std::to_string(port_); }

  // SIGKILL, as a server that goes away without a word; returns once it is
  // gone.
  void Kill();
  // Started again on the same port, with the same databases.
  void Start();
  bool Running() const { return pid_ > 0; }

 private:
  // True once the process listens on the port itself; false when it ended
  // or someone else holds the port.
  bool Listening();

  TempDir root_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace korva::testing
