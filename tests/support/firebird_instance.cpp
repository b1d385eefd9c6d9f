#include "support/firebird_instance.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/firebird_fixture.h"

namespace korva::testing {
namespace {

namespace fs = std::filesystem;

// Debian's server (firebird3.0-server): its program, the folder it takes its
// messages, plugins and character sets from, and its security database.
constexpr const char* kProgram = "/usr/sbin/firebird";
constexpr const char* kInstalled = "/usr/lib/x86_64-linux-gnu/firebird/3.0";
constexpr const char* kSecurityDatabase = "/var/lib/firebird/3.0/system/security3.fdb";

std::uint16_t UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no free port for a Firebird server");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

// The inode of the socket that listens on 127.0.0.1:port, empty when none.
std::string ListenerInode(std::uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, address, remote, state, queues, timer, retransmits, uid, timeout, inode;
    fields >> slot >> address >> remote >> state >> queues >> timer >> retransmits >> uid >>
        timeout >> inode;
    if (address == local && state == "0A") return inode;
  }
  return {};
}

bool HoldsSocket(pid_t pid, const std::string& inode) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code ignored;
    if (fs::read_symlink(entry.path(), ignored).string() == "socket:[" + inode + "]") return true;
  }
  return false;
}

}  // namespace

FirebirdInstance::FirebirdInstance() {
  if (!fs::exists(kProgram) || !fs::exists(kInstalled)) {
    throw std::runtime_error("the Firebird server is not installed (scripts/setup)");
  }
  const fs::path root = root_.Path();
  for (const char* part :
       {"firebird.msg", "plugins", "lib", "UDF", "plugins.conf", "fbtrace.conf"}) {
    fs::create_symlink(fs::path(kInstalled) / part, root / part);
  }
  // The character sets must lie in a folder of the root itself: reached
  // through a link, WIN1252 is "not defined".
  fs::create_directory(root / "intl");
  for (const char* part : {"fbintl.conf", "libfbintl.so"}) {
    fs::copy_file(fs::path(kInstalled) / "intl" / part, root / "intl" / part);
  }
  // Its own copy: the users (KORVA among them) as the machine's server knows
  // them, without sharing the file that server holds.
  EnsureFirebirdServer();
  fs::copy_file(kSecurityDatabase, root / "security3.fdb");
  fs::create_directory(root / "lock");
  std::ofstream(root / "databases.conf")
      << "security.db = " << (root / "security3.fdb").string() << "\n";
  Start();
}

FirebirdInstance::~FirebirdInstance() {
  if (Running()) Kill();
}

void FirebirdInstance::Start() {
  if (Running()) throw std::runtime_error("the Firebird server runs already");
  const fs::path root = root_.Path();
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (port_ == 0 || attempt > 0) {
      port_ = UnusedPort();
      std::ofstream(root / "firebird.conf")
          << "RemoteServicePort = " << port_ << "\nRemoteBindAddress = 127.0.0.1\n"
          << "UdfAccess = None\nSecurityDatabase = " << (root / "security3.fdb").string() << "\n";
    }
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      ::setenv("FIREBIRD", root.c_str(), 1);
      ::setenv("FIREBIRD_LOCK", (root / "lock").c_str(), 1);
      const int log = ::open((root / "server.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
      ::execl(kProgram, kProgram, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (Listening()) return;
    Kill();
  }
  throw std::runtime_error("the test's own Firebird server did not come up");
}

bool FirebirdInstance::Listening() {
  using namespace std::chrono_literals;
  // Starting takes a moment: look every 20 ms for at most 20 s whether the
  // server listens, and that it is this process that does.
  for (int look = 0; look < 1000; ++look) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    const std::string inode = ListenerInode(port_);
    if (!inode.empty()) return HoldsSocket(pid_, inode);
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

void FirebirdInstance::Kill() {
  if (!Running()) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace korva::testing
