#pragma once
// A started updater on a real site: the site built on the local Firebird
// server with the programs beside it, an update server when the test wants
// one (KORVA.INI pointing at it), and Principal created, started and shown
// the way the program does it. Tests then click handlers and read the form,
// the session, the files and what the server saw.
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/principal.h"
#include "form/form_model.h"
#include "platform/clock.h"
#include "support/ftp_server.h"
#include "support/non_copyable.h"
#include "support/scripted_shell.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "trust/trust.h"

namespace korva::testing {

// The matchers the site tests use on messages and log lines; a test that
// says "using namespace testing" has them.
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

// A clock the test sets; it does not move by itself.
class SetClock : public platform::Clock {
 public:
  platform::LocalDateTime Now() const override { return now; }
  platform::LocalDateTime now{2026, 12, 9, 21, 30, 0, 0};
};

class UpdateSite : NonCopyable {
 public:
  // The site's client identifier unless the options give one: digits only,
  // so that it names a file.
  static constexpr const char* kClientId = "12345678000190";

  // server: none for local mode tests (the menu is switched to local mode);
  // scenarios bend a pyftpdlib server (see FtpServer).
  UpdateSite(SiteOptions options, std::optional<FtpServerKind> server,
             std::vector<std::string> scenarios = {});
  ~UpdateSite();

  // FormCreate and FormShow; true when the start-up went through.
  bool Start();

  const std::string& Edition() const { return options_.edition; }
  bool Empresa() const { return options_.edition == "EMPRESA"; }
  // The edition's folder on the update server.
  std::string ServerFolder() const;
  // The catalogue's file name and where the check keeps it.
  std::string CatalogueName() const;
  std::string Local(const std::string& name) const;  // beside the updater
  std::string App(const std::string& name) const;    // in the application folder

  // The catalogue on the server (internet mode) or beside the updater
  // (local mode); Windows-1252 text with CR LF line ends.
  void PutCatalogue(const std::string& bytes);
  // A file the update run fetches from the edition's folder on the server
  // (internet mode) or takes from beside the updater (local mode).
  void PutUpdateFile(const std::string& name, const std::string& bytes);
  // The same with the ".sig" the maker's key makes for it beside it.
  void PutSigned(const trust::KeyPair& maker, trust::Domain domain, const std::string& name,
                 const std::string& bytes);
  // Takes such a file away again (where it is, if it is).
  void RemoveUpdateFile(const std::string& name);
  // A module's package made by Info-ZIP holding its executable with that
  // build (and any further files), on the server or, in local mode, in the
  // application folder; returns the package's bytes.
  std::string PutModulePackage(const std::string& executable, const std::string& build,
                               const std::map<std::string, std::string>& more = {});
  // Switches the hidden menu to local mode.
  void UseLocalMode();
  // The client version file on the server.
  void PutClientFileOnServer(const std::string& bytes);
  // A module executable in the application folder.
  void PutModule(const std::string& executable, const std::string& bytes = "MZ");

  std::vector<std::string> Nodes() const;
  std::string ClientVersion(const std::string& section) const;  // "versao" of the report

  TempDir dir;
  Site site;
  std::unique_ptr<FtpServer> server;
  form::FormModel form;
  ScriptedShell shell;
  SetClock clock;
  std::unique_ptr<Principal> principal;

 private:
  SiteOptions options_;
  int packages_ = 0;
};

// A runnable module executable whose build information says `build`, as
// build-site --app-module makes them.
std::string ModuleBytes(const std::string& executable, const std::string& build);

// The ".sig" of a file as the maker's key signs it.
std::string SignatureOf(const trust::KeyPair& maker, trust::Domain domain, const std::string& name,
                        const std::string& bytes);

// The site option that gives the site the maker's public key.
std::string PublicKeyArgument(const trust::KeyPair& maker);

// "[section]\r\nkey=value\r\n..." from lines written with "\n".
std::string CrLf(const std::string& lfText);

// An edition and a mode, for tests that run in several: internet mode against
// a server of that kind, or local mode.
struct UpdateMode {
  const char* edition;
  std::optional<FtpServerKind> server;  // none: local mode
};
std::string ModeName(const ::testing::TestParamInfo<UpdateMode>& info);

// A script package's section: group g's lines as keys Sg_1, Sg_2 ...
std::string ScriptPackage(const std::string& version,
                          const std::vector<std::vector<std::string>>& groups);

}  // namespace korva::testing
