#pragma once
// A real FTP server for one test: pyftpdlib (scripts/services/ftp-server.py,
// scriptable), vsftpd (scripts/services/vsftpd) or Twisted's
// (scripts/services/twisted-ftp.py), on 127.0.0.1 and a free
// port that the server bound itself before it named it, serving a fresh
// folder as "/". The server is stopped when the object goes, also when the
// test fails.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/non_copyable.h"
#include "support/temp_dir.h"

namespace korva::testing {

enum class FtpServerKind { Pyftpdlib, Vsftpd, Twisted };

std::string FtpServerName(FtpServerKind kind);

class FtpServer : NonCopyable {
 public:
  // scenarios: pyftpdlib only ("user-230", "delay=CWD:1.5", "rate=65536").
  explicit FtpServer(FtpServerKind kind, std::vector<std::string> scenarios = {});
  ~FtpServer();

  FtpServerKind Kind() const { return kind_; }
  std::uint16_t Port() const { return port_; }
  // The local path of a path on the server ("/httpdocs/x.ini").
  std::string Path(const std::string& remotePath) const;

  // Folders and files the server's account may read and replace.
  void MakeDir(const std::string& remotePath);
  void PutFile(const std::string& remotePath, const std::string& bytes);
  // A file of `size` bytes of a repeating pattern, written piece by piece.
  void PutPatternFile(const std::string& remotePath, std::int64_t size);
  std::string GetFile(const std::string& remotePath) const;

  // Every command line the server received since the last ForgetCommands,
  // in order; the password shows as "PASS ******".
  std::vector<std::string> Commands() const;
  // The same, with the address and port of a PORT command cut off (they
  // change from run to run): "PORT 127,0,0,1,".
  std::vector<std::string> CommandsWithoutPortAddress() const;
  void ForgetCommands();

 private:
  void Start();
  void Stop();
  std::vector<std::string> AllCommands() const;
  void GiveToAccount(const std::string& path) const;

  FtpServerKind kind_;
  std::vector<std::string> scenarios_;
  TempDir dir_;
  std::string root_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  std::size_t forgotten_ = 0;
};

// The bytes PutPatternFile writes, for comparisons.
std::string PatternBytes(std::int64_t offset, std::size_t count);

}  // namespace korva::testing
