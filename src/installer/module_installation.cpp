#include "installer/module_installation.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "catalogue/catalogue_check.h"
#include "catalogue/module_registry.h"
#include "dbupdate/write_protocol.h"
#include "form/maker.h"
#include "installer/package_extraction.h"
#include "platform/files.h"
#include "settings/installed_modules.h"
#include "text/cp1252.h"
#include "text/strings.h"
#include "vendor/vendor_library.h"
#include "versions/edition.h"

namespace korva::installer {
namespace {

using Image = form::StepIndicator::Image;

constexpr const char* kRule = "---------------------------------------------------------------";

void Show(const InstallContext& c, form::StepIndicator& indicator, Image image) {
  indicator.SetImage(image);
  c.shell.Repaint();
}

// Whatever becomes of a slot, its package is closed and its local copy goes.
class SlotCleanUp {
 public:
  SlotCleanUp(ZipReader& reader, std::string package)
      : reader_(reader), package_(std::move(package)) {}
  ~SlotCleanUp() {
    reader_.Close();
    if (!package_.empty() && platform::FileExists(package_)) platform::DeleteFile(package_);
  }
  SlotCleanUp(const SlotCleanUp&) = delete;
  SlotCleanUp& operator=(const SlotCleanUp&) = delete;

 private:
  ZipReader& reader_;
  std::string package_;
};

enum class SlotEnd { Next, StopRun };

class Installation {
 public:
  explicit Installation(const InstallContext& context) : c_(context) {}

  void Run() {
    const ModuleControls& panel = c_.controls;
    panel.LblGravando.SetText("Gravando em: " + text::Upper1252(c_.site.applicationFolder));
    panel.GgDownModulo.SetProgress(0);
    c_.shell.Repaint();
    if (c_.source.InternetMode()) {
      panel.PnlDownModulo.SetVisible(true);
      Show(c_, panel.TBtnConect, Image::Connect);
      c_.source.Connect();
      Show(c_, panel.TBtnConect, Image::Done);
      Show(c_, panel.TBtnFazDownModulo, Image::Transfer);
      c_.source.EnterFolder(versions::TableOf(c_.site.edition).remoteDirectory);
    }
    for (const catalogue::PendingModule& slot : c_.run.PendingModules) {
      if (slot.executable.empty()) continue;
      if (InstallSlot(slot) == SlotEnd::StopRun) return;
    }
    Finish();
  }

 private:
  SlotEnd InstallSlot(const catalogue::PendingModule& slot) {
    lastModuleOk_ = false;
    const std::string package = PackageName(slot.executable);
    const std::string folder = c_.site.applicationFolder;
    const std::string localPackage = platform::JoinPath(folder, package);
    c_.log.LogMakeRoom();
    c_.log.LogAddLine("Fazendo download do arquivo " + package);

    // Only a size of 0 means "not there": a server that gives no size
    // (-1) is tried all the same.
    if (static_cast<std::uint32_t>(c_.source.PackageSize(package)) == 0) {
      c_.runSucceeded = false;
      c_.shell.ShowMessage(Message{"KORVA - Uploader",
                                   "Não foi encontrado o aquivo " + slot.executable +
                                       " para download." + "\r" + "Contate o suporte da Vestramon.",
                                   MsgIcon::Information, kOk, kOk});
      return SlotEnd::Next;
    }

    SlotCleanUp cleanUp(c_.reader, localPackage);
    const delivery::PackagePin pin{slot.sha256, slot.size};
    delivery::HeldPackage verified;
    if (!Obtain(package, localPackage, pin, verified)) return SlotEnd::Next;
    c_.log.LogSelectLastLine();
    c_.log.LogCheckLastLine();
    c_.log.LogAddLine("Descompactando arquivo " + package);
    c_.log.LogWriteFile("Iniciar a descompactação de " + package);
    // Local mode downloads nothing: a package that is not the catalogue's
    // fails as an extraction, before the module's executable is touched.
    if (!c_.source.InternetMode() && platform::FileExists(localPackage)) {
      delivery::PackageDelivery checked = c_.source.VerifyPackage(package, localPackage, pin);
      if (checked.refusal) {
        lastModuleOk_ = false;
        TellExtractionFailed(c_.shell, folder);
        c_.log.LogWriteFile("NÃO FOI POSSÍVEL descompactar " + package);
        return SlotEnd::Next;
      }
      verified = std::move(checked.package);
    }
    lastModuleOk_ = DescompactaPacote(c_.shell, c_.reader, folder, slot.executable, package,
                                      c_.source.Keyed() ? &verified : nullptr);
    if (!lastModuleOk_) {
      c_.log.LogWriteFile("NÃO FOI POSSÍVEL descompactar " + package);
      return SlotEnd::Next;
    }
    c_.log.LogWriteFile("Descompactação de " + package + " concluída");

    c_.log.LogWriteFile("Obtendo versão " + package);
    installedBuild_ = vendor::GetBuildInfo(platform::JoinPath(folder, slot.executable), "BUILD");
    // A build other than the catalogue's is not recorded: the next check
    // offers the module again.
    if (installedBuild_ == slot.targetVersion) {
      if (!Record(package, slot.targetVersion)) return SlotEnd::StopRun;
      c_.log.LogCheckLastLine();
      c_.log.LogSelectLastLine();
      CopiaParaFiliais(Branches(folder, slot.executable, package, pin, slot.targetVersion));
    }
    c_.report.RegistraVersaoCliente(package, installedBuild_);
    return SlotEnd::Next;
  }

  // The package in the application folder: downloaded in internet mode (and
  // there verified), as it lies in local mode. False, after the failure's
  // message and log line, when the slot ends here.
  bool Obtain(const std::string& package, const std::string& localPackage,
              const delivery::PackagePin& pin, delivery::HeldPackage& verified) {
    if (!c_.source.InternetMode()) {
      lastModuleOk_ = true;
      return true;
    }
    try {
      c_.log.LogWriteFile("Excluindo arquivo zip antigo " + localPackage);
      if (platform::FileExists(localPackage) && !platform::DeleteFile(localPackage)) {
        throw KorvaError("Não foi possível excluir " + localPackage);
      }
      c_.log.LogWriteFile("Iniciar download de " + package + " em " + c_.site.applicationFolder);
      // With the maker's key, a package its section does not pin is not
      // worth fetching.
      if (c_.source.PinRefusal(package, pin)) return DownloadFailed(package);
      const delivery::FetchOutcome got = c_.source.FetchPackage(package, localPackage, pin);
      // An aborted download is not checked (the abort is told at the end),
      // but with the key it is not used either.
      if (got.refusal || (c_.source.Keyed() && !got.complete)) return DownloadFailed(package);
      delivery::PackageDelivery checked = c_.source.VerifyPackage(package, localPackage, pin);
      if (checked.refusal) return DownloadFailed(package);
      verified = std::move(checked.package);
      lastModuleOk_ = true;
      c_.log.LogWriteFile("Download de " + package + " concluído");
      return true;
    } catch (const std::exception&) {
      return DownloadFailed(package);
    }
  }

  bool DownloadFailed(const std::string& package) {
    lastModuleOk_ = false;
    c_.runSucceeded = false;
    c_.log.LogWriteFile("NÂO FOI POSSÍVEL fazer o download de " + package);
    c_.shell.ShowMessage(
        Message{"KORVA Update",
                "Problemas na localização ou leitura do arquivo " + package + ", tente novamente!" +
                    "\r" + "Caso o problema persista entre em contato com o Suporte Vestramon.",
                MsgIcon::Error, kOk, kOk});
    return false;
  }

  // The module's version recorded in the main database: true when it went
  // through; false, after its message, when the run must stop here.
  bool Record(const std::string& package, const std::string& version) {
    db::Connection& connection = c_.mainRow.Connection();
    try {
      c_.log.LogWriteFile("Iniciar a atualização de versão de " + package + " no Banco de Dados");
      dbupdate::BeginWrite(connection, c_.transactions);
      const auto column = catalogue::LookupByPackage(c_.site.edition, package);
      c_.log.LogWriteFile("Iniciar ApplyUpdates de atualização de versão de " + package +
                          " no Banco de Dados");
      if (column) dbupdate::GravaVersao(c_.mainRow, *column, version);
      connection.Commit(dbupdate::CurrentTransaction(c_.transactions));
      c_.log.LogWriteFile("Gravação (CCOMMIT) de versão de " + package + " efetuada com sucesso");
      c_.log.LogWriteFile(kRule);
      return true;
    } catch (const std::exception&) {
      dbupdate::RollbackQuietly(connection, c_.transactions);
      c_.log.LogWriteFile("Gravação (CCOMMIT) de versão de " + package + " FALHOU");
      c_.controls.BtBtnAbortar.SetEnabled(false);
      c_.runSucceeded = false;
      c_.shell.ShowMessage(Message{"KORVA - Atualizações de Banco de Dados",
                                   "Não foi possível atualizar Versões dos Módulos.\r"
                                   "Entre em contato com o suporte da VESTRAMON.",
                                   MsgIcon::Error, kOk, kOk});
      return false;
    }
  }

  // The distribution of one module's package, remembering the branches that
  // do not get it.
  BranchJob Branches(const std::string& folder, const std::string& executable,
                     const std::string& package, const delivery::PackagePin& pin,
                     const std::string& version) {
    verification_.emplace(BranchVerification{.source = c_.source, .pin = pin});
    return BranchJob{.controls = c_.controls.branches,
                     .shell = c_.shell,
                     .reader = c_.reader,
                     .folder = folder,
                     .executableName = executable,
                     .packageName = package,
                     .verification = c_.source.Keyed() ? &*verification_ : nullptr,
                     .pending = &pending_,
                     .version = version};
  }

  // The copies an earlier run owes single branches: the package obtained
  // again (fetched, or as it lies in local mode), copied and unpacked at that
  // branch alone. The application folder's executable and record are never
  // touched.
  void MakeDueBranchCopies() {
    for (const catalogue::DueBranchCopy& due : c_.run.dueBranchCopies) {
      const auto& fields = c_.controls.branches.folders;
      const auto field =
          std::find_if(fields.begin(), fields.end(), [&](const form::TextControl* f) {
            return text::SameText1252(text::Trim(f->Text()), due.folder);
          });
      if (field == fields.end()) continue;
      const bool done = MakeDueBranchCopy(due, static_cast<std::size_t>(field - fields.begin()));
      c_.log.LogWriteFile(done ? "Cópia pendente de " + due.package + " para " + due.folder +
                                     " concluída"
                               : "NÃO FOI POSSÍVEL copiar " + due.package + " para " + due.folder);
    }
  }

  bool MakeDueBranchCopy(const catalogue::DueBranchCopy& due, std::size_t n) {
    const std::string& folder = c_.site.applicationFolder;
    const std::string localPackage = platform::JoinPath(folder, due.package);
    const delivery::PackagePin pin{due.sha256, due.size};
    // A package fetched for the copy goes with it; one that lay there stays.
    SlotCleanUp cleanUp(c_.reader, c_.source.InternetMode() ? localPackage : std::string());
    if (c_.source.InternetMode() && !FetchAgain(due.package, localPackage, pin)) return false;
    if (!platform::FileExists(localPackage)) return false;
    c_.controls.branches.list.Clear();
    c_.controls.branches.list.SetVisible(true);
    return CopiaParaFilial(Branches(folder, due.executable, due.package, pin, due.version), n);
  }

  bool FetchAgain(const std::string& package, const std::string& localPackage,
                  const delivery::PackagePin& pin) {
    try {
      if (c_.source.PinRefusal(package, pin)) return false;
      if (static_cast<std::uint32_t>(c_.source.PackageSize(package)) == 0) return false;
      const delivery::FetchOutcome got = c_.source.FetchPackage(package, localPackage, pin);
      return !got.refusal && got.complete;
    } catch (const std::exception&) {
      return false;
    }
  }

  void Finish() {
    const ModuleControls& panel = c_.controls;
    const bool internet = c_.source.InternetMode();
    MakeDueBranchCopies();
    if (c_.runSucceeded || internet) c_.report.UploadVersaoCliente();
    if (internet) {
      Show(c_, panel.TBtnFazDownModulo, Image::Done);
      Show(c_, panel.TbtnDesconect, Image::Disconnect);
      c_.source.Disconnect();
      Show(c_, panel.TbtnDesconect, Image::Done);
    }
    if (c_.transfer.runAbortRequested) {
      c_.runSucceeded = false;
      c_.shell.ShowMessage(
          Message{"KORVA", "Transferência abortada pelo usuário.", MsgIcon::Warning, kOk, kOk});
      c_.shell.CloseMainWindow();
    } else if (lastModuleOk_) {
      c_.runSucceeded = true;
    } else {
      c_.runSucceeded = false;
      c_.shell.ShowMessage(
          Message{"KORVA",
                  std::string("Erro no Download do arquivo. Por Favor entre em contato com o "
                              "suporte.\r") +
                      "VESTRAMON Sistemas - Suporte: " + form::kSupportTelephone,
                  MsgIcon::Information, kOk, kOk});
      c_.shell.CloseMainWindow();
    }
  }

  const InstallContext& c_;
  bool lastModuleOk_ = true;
  std::string installedBuild_;
  records::PendingBranchCopies pending_{c_.pendingBranchesFilePath};
  std::optional<BranchVerification> verification_;
};

}  // namespace

std::string PackageName(const std::string& executable) {
  return settings::PackageNameOf(executable);
}

void AtualizaModulos(const InstallContext& c) {
  try {
    Installation(c).Run();
  } catch (const std::exception&) {
    // Nothing that reached here leaves the run in a state worth going on
    // from: the program ends, after a word to the operator in internet mode.
    c.runSucceeded = false;
    if (c.source.InternetMode()) {
      try {
        c.source.Disconnect();
      } catch (const std::exception&) {
      }
      c.shell.ShowMessage(Message{"KORVA - Atualizações", "Falha na conexão com o servidor KORVA",
                                  MsgIcon::Warning, kOk, kOk});
      c.shell.CloseMainWindow();
    }
    c.shell.EndProgram();
  }
}

}  // namespace korva::installer
