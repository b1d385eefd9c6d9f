#pragma once
// A KORVA installation folder built by tests/fixtures/build-site, the same
// builder the demo uses: databases on the local server, dbxconnections.ini,
// KORVA.INI, the application folder and, when built, the programs.
#include <string>
#include <vector>

namespace korva::testing {

struct SiteOptions {
  std::string edition = "EMPRESA";  // or "CARTORIO"
  // "Extensão Banco": "FDB", "GDB", "NONE" (key absent) or "EMPTY".
  std::string extension = "FDB";
  // Further build-site arguments, as they are (UTF-8), e.g. "--protected=S".
  std::vector<std::string> extraArguments;
  // Copy korvaupdate, KorvaLib.dll and KORVABACKUP.EXE from the build.
  bool copyPrograms = false;
};

struct Site {
  std::string folder;
  std::string mainDatabase;  // connection text, server/port:path
  std::string usersDatabase;
  std::string mainFile;  // path on disk
  std::string usersFile;
  std::string applicationFolder;
};

// Builds into folder (created when missing); throws with the builder's output
// when it fails. Starts the Firebird server first when needed.
Site BuildSite(const std::string& folder, const SiteOptions& options = {});

// Runs a command and returns its exit status, stdout and stderr merged.
int RunCommand(const std::vector<std::string>& argv, std::string& output);

}  // namespace korva::testing
