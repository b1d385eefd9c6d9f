#include "dbupdate/script_engine.h"

#include <algorithm>
#include <exception>
#include <unordered_set>

#include "dbupdate/backup_program.h"
#include "dbupdate/script_package.h"
#include "dbupdate/write_protocol.h"
#include "platform/files.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "trust/trust.h"
#include "vendor/vendor_library.h"
#include "versions/version_rules.h"

namespace korva::dbupdate {
namespace {

enum class CurrentRule { EmpresaUsers, EmptyIsBaseline, AsRead };

// Everything in which the four steps differ, besides their edition's folder
// and report key.
struct StepConfig {
  bool usersDatabase;
  versions::Edition edition;
  CurrentRule current;
  const char* filePrefix;
  const char* downloadSuffix;
  const char* applyMiddle;
  const char* failureMessage;
  bool deletesLocalPackage;
};

constexpr const char* kUsersFailure =
    "Não foi possível atualizar o banco de dados USUARIOS. Verifique se existem usuários\r"
    "conectados no sistema. Entre em contato com o suporte da VESTRAMON e informe  a\r"
    "mensagem de erro abaixo:\r\r";
constexpr const char* kMainFailure =
    "Não foi possível atualizar o banco de dados. Verifique se existem usuários\r"
    "conectados no sistema. Entre em contato com o suporte da VESTRAMON e informe  a\r"
    "mensagem de erro abaixo:\r\r";

using versions::Edition;

constexpr StepConfig kSteps[] = {
    {true, Edition::Empresa, CurrentRule::EmpresaUsers, "script_usuario_", " - Banco de Usuários",
     " - Banco USUÁRIOS (Atualização ", kUsersFailure, false},
    {false, Edition::Empresa, CurrentRule::AsRead, "script_korva_", " - Banco Korva",
     " - Banco KORVA (Atualização ", kMainFailure, true},
    {true, Edition::Cartorio, CurrentRule::EmptyIsBaseline, "script_usuario_cartorio_",
     " - Banco de Usuários", " - Banco USUÁRIOS (Atualização ", kUsersFailure, false},
    {false, Edition::Cartorio, CurrentRule::AsRead, "script_cartorio_", " - Banco Korva",
     " - Banco KORVA (Atualização ", kMainFailure, true},
};

const StepConfig& ConfigOf(Step step) {
  return kSteps[static_cast<int>(step)];
}

const char* ReportKeyOf(const StepConfig& config) {
  return config.usersDatabase ? versions::kUsersReportKey
                              : versions::TableOf(config.edition).mainReportKey;
}

constexpr const char* kVersionColumn = "VERSAOBANCO";
// A users database before it had a version table stands at its edition's
// baseline. The EMPRESA one, from there and from its first version with a
// table, records nothing itself when a package is applied.
std::string BaselineOf(const StepConfig& config) {
  return versions::TableOf(config.edition).usersBaseline;
}
constexpr const char* kUsersFirstRecorded = "3.1.1";

// The version the database stands at now, read back at every package.
std::string CurrentVersion(const StepConfig& config, const ScriptContext& c) {
  if (config.current == CurrentRule::EmpresaUsers && !c.database.usersVersionAvailable) {
    return BaselineOf(config);
  }
  c.row.Refresh();
  std::string version = c.row.Value(kVersionColumn);
  if (!version.empty()) return version;
  switch (config.current) {
    case CurrentRule::EmpresaUsers:
      return kUsersFirstRecorded;
    case CurrentRule::EmptyIsBaseline:
      return BaselineOf(config);
    case CurrentRule::AsRead:
      break;
  }
  return version;
}

bool RecordsVersion(const StepConfig& config, const std::string& current) {
  return config.current != CurrentRule::EmpresaUsers ||
         (current != BaselineOf(config) && current != kUsersFirstRecorded);
}

// The keys a section lists, as far as the profile rules list them: a key past
// the list's limit counts as absent, whatever its value.
std::unordered_set<std::string> ListedKeys(const settings::ProfileFile& package,
                                           const std::string& section) {
  std::unordered_set<std::string> keys;
  for (const std::string& key : package.ReadSection(section)) keys.insert(text::Upper1252(key));
  return keys;
}

// Closes the package however the package ends; the main steps delete their
// local copy too, and a signed package's signature with it.
class OpenPackage {
 public:
  OpenPackage(const ScriptContext& c, std::string path, bool deleteAfter)
      : c_(c), path_(std::move(path)), deleteAfter_(deleteAfter) {}
  ~OpenPackage() {
    c_.currentProfileFile.reset();
    if (!deleteAfter_) return;
    for (const std::string& path : {path_, trust::SignatureName(path_)}) {
      if (platform::FileExists(path)) platform::DeleteFile(path);
    }
  }
  OpenPackage(const OpenPackage&) = delete;
  OpenPackage& operator=(const OpenPackage&) = delete;
  void DeleteAfter() { deleteAfter_ = true; }

 private:
  const ScriptContext& c_;
  std::string path_;
  bool deleteAfter_;
};

// How the failure message ends for a package that was not taken.
std::string RefusalText(const delivery::Refusal& refusal, const std::string& name) {
  using Cause = delivery::Refusal::Cause;
  if (refusal.cause == Cause::TooLarge) return "O pacote " + name + " é " + refusal.reason + ".";
  return "A assinatura do pacote " + name +
         (refusal.cause == Cause::SignatureMissing ? " não foi encontrada." : " não confere.");
}

// A failed group or a package that cannot be trusted: the run stops here.
bool Fail(const StepConfig& config, const ScriptContext& c, const std::string& reason) {
  c.abortButton.SetEnabled(false);
  c.runSucceeded = false;
  c.shell.Repaint();
  c.shell.ShowMessage(Message{"KORVA", config.failureMessage + reason, MsgIcon::Error, kOk, kOk});
  return false;
}

}  // namespace

std::string PackageName(Step step, const std::string& version) {
  std::string dotted = version;
  std::replace(dotted.begin(), dotted.end(), '.', '_');
  std::string name = std::string(ConfigOf(step).filePrefix) + dotted + ".ini";
  for (char& ch : name) ch = text::LowerChar1252(ch);
  return name;
}

const char* RemoteDirectory(Step step) {
  return versions::TableOf(ConfigOf(step).edition).remoteDirectory;
}

Step UsersStep(versions::Edition edition) {
  return edition == Edition::Empresa ? Step::AtualizaBancoUsuarioEmpresa
                                     : Step::AtualizaBancoUsuarioCartorio;
}

Step MainStep(versions::Edition edition) {
  return edition == Edition::Empresa ? Step::AtualizaBancoEmpresa : Step::AtualizaBancoCartorio;
}

namespace {

void DisableBackupProgram(const ScriptContext& c) {
  if (BackupProgramRunning()) {
    c.log.LogAddLine("Desabilitando Backup");
    CloseBackupProgram();
    c.database.restartBackupOnExit = true;
    c.log.LogCheckLastLine();
  }
  c.shell.Repaint();
}

// The version after `current`, kept in the database state. A catalogue
// version that stepping never produces would be fetched for ever after the
// last package; one the database did not move past would be applied again and
// again.
std::string StepPast(Step step, const ScriptContext& c, const std::string& current,
                     const std::string& previous) {
  std::string& next = c.database.nextVersion;
  next = versions::ProximaVersao(current);
  if (next != c.target && !vendor::ExisteAtualizacao(c.target, next)) {
    throw KorvaError("A versão " + c.target + " do catálogo não é alcançada a partir da versão " +
                     current + " do banco de dados (a próxima seria " + next + ").");
  }
  if (next == previous) {
    throw KorvaError("O pacote " + PackageName(step, next) +
                     " foi aplicado, mas o banco de dados continua na versão " + current + ".");
  }
  return next;
}

// Internet mode: the package into the updater's folder; false after the
// failure message when it was refused or cut short.
bool Download(const StepConfig& config, const ScriptContext& c, const std::string& next,
              const std::string& name, const std::string& local, OpenPackage& package) {
  delivery::UpdateSource& source = c.source;
  source.Connect();
  c.log.LogMakeRoom();
  source.EnterFolder(versions::TableOf(config.edition).remoteDirectory);
  c.log.LogAddLine("Baixando atualização " + next + config.downloadSuffix);
  const delivery::FetchOutcome got = source.Fetch(delivery::FileKind::ScriptPackage, name, local);
  if (got.refusal) {
    package.DeleteAfter();
    return Fail(config, c, RefusalText(*got.refusal, name));
  }
  if (!got.complete) {
    package.DeleteAfter();
    return Fail(config, c, "O download do pacote " + name + " não foi concluído.");
  }
  c.log.LogCheckLastLine();
  c.log.LogSelectLastLine();
  c.shell.Repaint();
  return true;
}

// The package as the profile it is, held in the session; false after the
// failure message when the maker's key refuses it.
bool OpenProfile(const StepConfig& config, const ScriptContext& c, const std::string& name,
                 const std::string& local, OpenPackage& package) {
  if (!platform::FileExists(local)) throw KorvaError("Arquivo não localizado:\r" + local);
  delivery::ProfileDelivery delivered =
      c.source.OpenProfile(delivery::FileKind::ScriptPackage, local);
  if (delivered.refusal) {
    if (c.source.InternetMode()) package.DeleteAfter();
    return Fail(config, c, RefusalText(*delivered.refusal, name));
  }
  c.currentProfileFile = std::move(delivered.file);
  return true;
}

// The statement groups of a version's section, as far as they are listed.
class StatementGroups {
 public:
  StatementGroups(const settings::ProfileFile& file, std::string version)
      : file_(file), version_(std::move(version)), keys_(ListedKeys(file, version_)) {
    while (Present(count_ + 1, 1)) ++count_;
  }
  int Count() const { return count_; }
  // Group g's lines, each ended by CR LF; empty past the last group.
  std::string Command(int g) const {
    std::string command;
    for (int l = 1; l <= kMaxStatementLines && Present(g, l); ++l)
      command += file_.ReadString(version_, StatementKey(g, l), "") + "\r\n";
    return command;
  }

 private:
  bool Present(int g, int l) const { return keys_.count(text::Upper1252(StatementKey(g, l))) > 0; }

  const settings::ProfileFile& file_;
  std::string version_;
  std::unordered_set<std::string> keys_;
  int count_ = 0;
};

// One line per package counts the groups; its mark says whether the group it
// names completed, so a failed group's line stays unmarked.
void LogGroup(const StepConfig& config, const ScriptContext& c, const std::string& next, int g,
              int count) {
  const std::string logText = "Aplicando atualização " + next + config.applyMiddle +
                              std::to_string(g) + " de " + std::to_string(count) + ")";
  if (g == 1) {
    c.log.LogAddLine(logText);
  } else {
    c.log.LogReplaceLastLine(logText);
    c.log.LogUncheckLastLine();
  }
  c.shell.Repaint();
}

// One group in a transaction of its own, which also records the version;
// false after the failure message when it was rolled back.
bool RunGroup(const StepConfig& config, const ScriptContext& c, const std::string& command,
              const std::string& current, const std::string& next) {
  db::Connection& connection = c.row.Connection();
  try {
    BeginWrite(connection, c.transactions);
    connection.ExecuteDirect(command);
    if (RecordsVersion(config, current)) GravaVersao(c.row, kVersionColumn, next);
    connection.Commit(CurrentTransaction(c.transactions));
  } catch (const std::exception& e) {
    // A rollback the server refuses is the error the operator sees.
    connection.Rollback(CurrentTransaction(c.transactions));
    return Fail(config, c, e.what());
  }
  if (config.usersDatabase) c.database.usersVersionAvailable = true;
  c.log.LogCheckLastLine();
  c.shell.Repaint();
  c.report.RegistraVersaoCliente(ReportKeyOf(config), next);
  return true;
}

// Every group of the held package's section for `next`, in order.
bool ApplyPackage(const StepConfig& config, const ScriptContext& c, const std::string& name,
                  const std::string& current, const std::string& next) {
  const StatementGroups groups(*c.currentProfileFile, next);
  if (groups.Count() == 0) {
    throw KorvaError("O pacote " + name + " não contém comandos da versão " + next + ".");
  }
  for (int g = 1; g <= kMaxStatementGroups; ++g) {
    const std::string command = groups.Command(g);
    if (command.empty()) break;
    LogGroup(config, c, next, g, groups.Count());
    if (!RunGroup(config, c, command, current, next)) return false;
  }
  db::Connection& connection = c.row.Connection();
  if (connection.InTransaction()) connection.Commit(CurrentTransaction(c.transactions));
  return true;
}

}  // namespace

bool AplicaPacotesScript(Step step, const ScriptContext& c) {
  const StepConfig& config = ConfigOf(step);
  c.runSucceeded = false;
  DisableBackupProgram(c);
  std::string previous;
  for (;;) {
    const std::string current = CurrentVersion(config, c);
    if (current == c.target) {
      c.runSucceeded = true;
      return true;
    }
    const std::string next = StepPast(step, c, current, previous);
    previous = next;
    const std::string name = PackageName(step, next);
    const std::string local = platform::JoinPath(c.folder, name);
    OpenPackage package(c, local, config.deletesLocalPackage);
    if (c.source.InternetMode() && !Download(config, c, next, name, local, package)) return false;
    if (!OpenProfile(config, c, name, local, package)) return false;
    if (!ApplyPackage(config, c, name, current, next)) return false;
  }
}

}  // namespace korva::dbupdate
