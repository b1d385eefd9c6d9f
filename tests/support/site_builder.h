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
  // Further build-site arguments in Windows-1252, e.g. "--protected=S".
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

// ---------------------------------------------------------------------------
// The main window's logic wired to a built site, as the program has it: the
// form, a scripted shell and Principal with both connections resolving from
// the site's dbxconnections.ini. Nothing runs until a test calls it.
#include "app/principal.h"
#include "form/form_model.h"
#include "support/non_copyable.h"
#include "support/scripted_shell.h"

namespace korva::testing {

struct SiteSession : NonCopyable {
  explicit SiteSession(std::string siteFolder);

  std::string folder;
  form::FormModel form;
  ScriptedShell shell;
  platform::SystemClock clock;
  Principal principal{form, shell, clock, folder};
  SessionState& session = principal.Session();
  db::Connection& main = principal.SQLConnectionKORVA();
  db::Connection& users = principal.SQLConnectionUSUARIO();
};

}  // namespace korva::testing
