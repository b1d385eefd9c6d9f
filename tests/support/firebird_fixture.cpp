#include "support/firebird_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "text/strings.h"

namespace korva::testing {

namespace {

bool ServerListens() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(3050);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

}  // namespace

void EnsureFirebirdServer() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (ServerListens()) return;
    std::string output;
    const int status = RunCommand({KORVA_SOURCE_DIR "/scripts/services/firebird"}, output);
    if (status != 0 || !ServerListens())
      throw std::runtime_error("the Firebird server did not start:\n" + output);
  });
}

std::string Isql(const std::string& database, const std::string& statements) {
  EnsureFirebirdServer();
  TempDir scratch;
  const std::string script = scratch.File("script.sql");
  WriteBytes(script, "SET NAMES WIN1252;\nCONNECT " + Quoted(database) + " USER '" + kFirebirdUser +
                         "' PASSWORD '" + kFirebirdPassword + "';\n" + statements + "\n");
  std::string output;
  const int status = RunCommand({"isql-fb", "-q", "-b", "-i", script}, output);
  if (status != 0) throw std::runtime_error("isql failed on " + database + ":\n" + output);
  return output;
}

std::string IsqlValue(const std::string& database, const std::string& query) {
  return text::Trim(Isql(database, "SET HEADING OFF;\n" + query + ";"));
}

}  // namespace korva::testing
