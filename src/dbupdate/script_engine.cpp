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

enum class CurrentRule { EmpresaUsers, EmptyIsCartorioBaseline, AsRead };

// Everything in which the four steps differ.
struct StepConfig {
  bool usersDatabase;
  CurrentRule current;
  const char* remoteDirectory;
  const char* filePrefix;
  const char* downloadSuffix;
  const char* applyMiddle;
  const char* failureMessage;
  const char* clientVersionSection;
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

constexpr StepConfig kSteps[] = {
    {true, CurrentRule::EmpresaUsers, "/httpdocs/empresa_2012", "script_usuario_",
     " - Banco de Usuários", " - Banco USUÁRIOS (Atualização ", kUsersFailure, "BDUSUARIO", false},
    {false, CurrentRule::AsRead, "/httpdocs/empresa_2012", "script_korva_", " - Banco Korva",
     " - Banco KORVA (Atualização ", kMainFailure, "BDKORVA", true},
    {true, CurrentRule::EmptyIsCartorioBaseline, "/httpdocs", "script_usuario_cartorio_",
     " - Banco de Usuários", " - Banco USUÁRIOS (Atualização ", kUsersFailure, "BDUSUARIO", false},
    {false, CurrentRule::AsRead, "/httpdocs", "script_cartorio_", " - Banco Korva",
     " - Banco KORVA (Atualização ", kMainFailure, "BDCARTORIO", true},
};

const StepConfig& ConfigOf(Step step) {
  return kSteps[static_cast<int>(step)];
}

constexpr const char* kVersionColumn = "VERSAOBANCO";
// The EMPRESA users database before it had a version table, and its first
// version with one: packages applied from these record nothing themselves.
constexpr const char* kUsersWithoutTable = "3.1.0";
constexpr const char* kUsersFirstRecorded = "3.1.1";

// The version the database stands at now, read back at every package.
std::string CurrentVersion(const StepConfig& config, const ScriptContext& c) {
  if (config.current == CurrentRule::EmpresaUsers && !c.database.usersVersionAvailable) {
    return kUsersWithoutTable;
  }
  c.row.Refresh();
  const std::string version = c.row.Value(kVersionColumn);
  if (!version.empty()) return version;
  switch (config.current) {
    case CurrentRule::EmpresaUsers:
      return kUsersFirstRecorded;
    case CurrentRule::EmptyIsCartorioBaseline:
      return "2.2.0";
    case CurrentRule::AsRead:
      break;
  }
  return version;
}

bool RecordsVersion(const StepConfig& config, const std::string& current) {
  return config.current != CurrentRule::EmpresaUsers ||
         (current != kUsersWithoutTable && current != kUsersFirstRecorded);
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
  return ConfigOf(step).remoteDirectory;
}

bool AplicaPacotesScript(Step step, const ScriptContext& c) {
  const StepConfig& config = ConfigOf(step);
  db::Connection& connection = c.row.Connection();
  c.runSucceeded = false;

  if (BackupProgramRunning()) {
    c.log.LogAddLine("Desabilitando Backup");
    CloseBackupProgram();
    c.database.restartBackupOnExit = true;
    c.log.LogCheckLastLine();
  }
  c.shell.Repaint();

  std::string previous;
  for (;;) {
    const std::string current = CurrentVersion(config, c);
    if (current == c.target) {
      c.runSucceeded = true;
      return true;
    }
    std::string& next = c.database.nextVersion;
    next = versions::ProximaVersao(current);
    const std::string name = PackageName(step, next);
    // A catalogue version that stepping never produces would be fetched
    // for ever after the last package; one the database did not move past
    // would be applied again and again.
    if (next != c.target && !vendor::ExisteAtualizacao(c.target, next)) {
      throw KorvaError("A versão " + c.target + " do catálogo não é alcançada a partir da versão " +
                       current + " do banco de dados (a próxima seria " + next + ").");
    }
    if (next == previous) {
      throw KorvaError("O pacote " + name +
                       " foi aplicado, mas o banco de dados continua na versão " + current + ".");
    }
    previous = next;

    const std::string local = platform::JoinPath(c.folder, name);
    OpenPackage package(c, local, config.deletesLocalPackage);
    delivery::UpdateSource& source = c.source;
    if (source.InternetMode()) {
      source.Connect();
      c.log.LogMakeRoom();
      source.EnterFolder(config.remoteDirectory);
      c.log.LogAddLine("Baixando atualização " + next + config.downloadSuffix);
      const delivery::FetchOutcome got =
          source.Fetch(delivery::FileKind::ScriptPackage, name, local);
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
    }
    if (!platform::FileExists(local)) throw KorvaError("Arquivo não localizado:\r" + local);
    delivery::ProfileDelivery delivered =
        source.OpenProfile(delivery::FileKind::ScriptPackage, local);
    if (delivered.refusal) {
      if (source.InternetMode()) package.DeleteAfter();
      return Fail(config, c, RefusalText(*delivered.refusal, name));
    }

    c.currentProfileFile = std::move(delivered.file);
    const settings::ProfileFile& file = *c.currentProfileFile;
    const std::unordered_set<std::string> keys = ListedKeys(file, next);
    const auto present = [&](int g, int l) {
      return keys.count(text::Upper1252(StatementKey(g, l))) > 0;
    };
    int k = 0;
    while (present(k + 1, 1)) ++k;
    if (k == 0) {
      throw KorvaError("O pacote " + name + " não contém comandos da versão " + next + ".");
    }

    for (int g = 1; g <= kMaxStatementGroups; ++g) {
      std::string command;
      int lines = 0;
      for (int l = 1; l <= kMaxStatementLines && present(g, l); ++l, ++lines)
        command += file.ReadString(next, StatementKey(g, l), "") + "\r\n";
      if (lines == 0) break;

      const std::string logText = "Aplicando atualização " + next + config.applyMiddle +
                                  std::to_string(g) + " de " + std::to_string(k) + ")";
      if (g == 1) {
        c.log.LogAddLine(logText);
      } else {
        // One line per package counts the groups; its mark says whether the
        // group it names completed, so a failed group's line stays unmarked.
        c.log.LogReplaceLastLine(logText);
        c.log.LogUncheckLastLine();
      }
      c.shell.Repaint();

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
      c.report.RegistraVersaoCliente(config.clientVersionSection, next);
    }
    if (connection.InTransaction()) connection.Commit(CurrentTransaction(c.transactions));
  }
}

}  // namespace korva::dbupdate
