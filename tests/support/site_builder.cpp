#include "support/site_builder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <stdexcept>

#include "support/firebird_fixture.h"
#include "text/cp1252.h"

namespace korva::testing {

int RunCommand(const std::vector<std::string>& argv, std::string& output) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::dup2(pipeFds[1], STDERR_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  output.clear();
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    output.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Site BuildSite(const std::string& folder, const SiteOptions& options) {
  EnsureFirebirdServer();
  std::vector<std::string> argv = {KORVA_SOURCE_DIR "/tests/fixtures/build-site", folder,
                                   "--edition=" + options.edition,
                                   "--extension=" + options.extension};
  if (options.copyPrograms) argv.push_back(std::string("--bin=") + KORVA_BIN_DIR);
  for (const std::string& argument : options.extraArguments) argv.push_back(text::ToUtf8(argument));
  std::string output;
  if (RunCommand(argv, output) != 0) throw std::runtime_error("build-site failed:\n" + output);

  std::map<std::string, std::string> values;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = text::FromUtf8(line.substr(eq + 1));
  }
  Site site;
  site.folder = values["site"];
  site.mainDatabase = values["main_database"];
  site.usersDatabase = values["users_database"];
  site.mainFile = values["main_file"];
  site.usersFile = values["users_file"];
  site.applicationFolder = values["application_folder"];
  if (site.folder.empty()) throw std::runtime_error("build-site said nothing:\n" + output);
  return site;
}

}  // namespace korva::testing

namespace korva::testing {

SiteSession::SiteSession(std::string siteFolder) : folder(std::move(siteFolder)) {}

}  // namespace korva::testing
