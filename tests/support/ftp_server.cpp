#include "support/ftp_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace korva::testing {
namespace {

using namespace std::chrono_literals;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// "... FTP command: Client "127.0.0.1", "RETR x"" -> "RETR x".
bool VsftpdCommand(const std::string& line, std::string& command) {
  const auto at = line.find("FTP command: Client \"");
  if (at == std::string::npos) return false;
  const auto start = line.find("\", \"", at);
  if (start == std::string::npos || line.back() != '"') return false;
  command = line.substr(start + 4, line.size() - start - 5);
  return true;
}

}  // namespace

std::string FtpServerName(FtpServerKind kind) {
  switch (kind) {
    case FtpServerKind::Pyftpdlib:
      return "pyftpdlib";
    case FtpServerKind::Vsftpd:
      return "vsftpd";
    case FtpServerKind::Twisted:
      return "twisted";
  }
  return "unknown";
}

std::string PatternBytes(std::int64_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t at = offset + static_cast<std::int64_t>(i);
    bytes[i] = static_cast<char>((at * 7 + at / 251) & 0xFF);
  }
  return bytes;
}

FtpServer::FtpServer(FtpServerKind kind, std::vector<std::string> scenarios)
    : kind_(kind), scenarios_(std::move(scenarios)) {
  if (kind_ != FtpServerKind::Pyftpdlib && !scenarios_.empty()) {
    throw std::runtime_error(FtpServerName(kind_) + " takes no scenarios");
  }
  // The server's account must reach the served folder.
  ::chmod(dir_.Path().c_str(), 0755);
  root_ = dir_.File("root");
  std::filesystem::create_directories(root_);
  ::chmod(root_.c_str(), 0777);
  std::filesystem::create_directories(dir_.File("state"));
  Start();
  if (port_ == 0) {
    throw std::runtime_error(FtpServerName(kind_) +
                             " did not start: " + ReadWhole(dir_.File("server.out")));
  }
}

FtpServer::~FtpServer() {
  Stop();
}

void FtpServer::Start() {
  const std::string portFile = dir_.File("port");
  std::filesystem::remove(portFile);
  const std::string services = std::string(KORVA_SOURCE_DIR) + "/scripts/services/";
  std::vector<std::string> args;
  if (kind_ == FtpServerKind::Vsftpd) {
    args = {services + "vsftpd", "--state", dir_.File("state")};
  } else {
    args = {"/usr/bin/python3",
            services + (kind_ == FtpServerKind::Pyftpdlib ? "ftp-server.py" : "twisted-ftp.py")};
  }
  for (const std::string& a : {std::string("--root"), root_, std::string("--port-file"), portFile,
                               std::string("--log"), dir_.File("commands.log")}) {
    args.push_back(a);
  }
  for (const auto& s : scenarios_) {
    args.push_back("--scenario");
    args.push_back(s);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string out = dir_.File("server.out");

  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    // A test that crashes takes its server with it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      ::dup2(fd, 1);
      ::dup2(fd, 2);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::setpgid(pid_, pid_);

  // The servers bind and listen on their own port before they write it to
  // the port file (renamed into place): once it is there, the port is theirs.
  // The bound only ends a start that failed without exiting; a loaded
  // machine may take seconds to start a Python interpreter.
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    const std::string text = ReadWhole(portFile);
    if (!text.empty() && text.back() == '\n') {
      port_ = static_cast<std::uint16_t>(std::stoi(text));
      return;
    }
    std::this_thread::sleep_for(20ms);
  }
  Stop();
}

void FtpServer::Stop() {
  if (pid_ <= 0) return;
  // The server and the session processes it forked share its group.
  ::kill(-pid_, SIGTERM);
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      ::kill(-pid_, SIGKILL);
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(20ms);
  }
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string FtpServer::Path(const std::string& remotePath) const {
  return remotePath.empty() || remotePath[0] != '/' ? root_ + "/" + remotePath : root_ + remotePath;
}

void FtpServer::GiveToAccount(const std::string& path) const {
  if (kind_ != FtpServerKind::Vsftpd) return;
  if (const passwd* pw = ::getpwnam("korva")) {
    if (::chown(path.c_str(), pw->pw_uid, static_cast<gid_t>(-1)) != 0) {
      throw std::runtime_error("cannot give " + path + " to korva");
    }
  }
}

void FtpServer::MakeDir(const std::string& remotePath) {
  std::filesystem::path p = Path(remotePath);
  std::filesystem::create_directories(p);
  for (; p.string().size() > root_.size(); p = p.parent_path()) GiveToAccount(p.string());
}

void FtpServer::PutFile(const std::string& remotePath, const std::string& bytes) {
  WriteBytes(Path(remotePath), bytes);
  GiveToAccount(Path(remotePath));
}

void FtpServer::PutPatternFile(const std::string& remotePath, std::int64_t size) {
  std::ofstream out(Path(remotePath), std::ios::binary | std::ios::trunc);
  constexpr std::int64_t kChunk = 1 << 20;
  for (std::int64_t at = 0; at < size; at += kChunk) {
    const auto n = static_cast<std::size_t>(std::min(kChunk, size - at));
    const std::string bytes = PatternBytes(at, n);
    out.write(bytes.data(), static_cast<std::streamsize>(n));
  }
  if (!out) throw std::runtime_error("cannot write " + remotePath);
  out.close();
  GiveToAccount(Path(remotePath));
}

std::string FtpServer::GetFile(const std::string& remotePath) const {
  return ReadBytes(Path(remotePath));
}

std::vector<std::string> FtpServer::AllCommands() const {
  std::vector<std::string> commands;
  std::istringstream in(ReadWhole(dir_.File("commands.log")));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string command = line;
    if (kind_ == FtpServerKind::Vsftpd && !VsftpdCommand(line, command)) continue;
    if (command.rfind("PASS ", 0) == 0) command = "PASS ******";
    commands.push_back(command);
  }
  return commands;
}

std::vector<std::string> FtpServer::Commands() const {
  auto all = AllCommands();
  if (forgotten_ >= all.size()) return {};
  return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(forgotten_), all.end());
}

std::vector<std::string> FtpServer::CommandsWithoutPortAddress() const {
  auto commands = Commands();
  for (auto& c : commands) {
    if (c.rfind("PORT 127,0,0,1,", 0) == 0) c = "PORT 127,0,0,1,";
  }
  return commands;
}

void FtpServer::ForgetCommands() {
  forgotten_ = AllCommands().size();
}

}  // namespace korva::testing
