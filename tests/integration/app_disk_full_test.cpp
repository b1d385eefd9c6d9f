// A full disk at every place the updater writes: a package download, the new
// executable beside the old one, the branch copy and the branch extraction;
// "LogUpdate.txt", the pending list export, "SCRIPT_g.TXT" and the client
// version file; "KORVA.INI" (the kept SERIE included) and the script file. Each point runs twice:
// on a small tmpfs of the test's own, filled for real, and through the write seam of the test
// programs, which fails the platform's writes as the full disk does. At each point the step fails
// as its Part says, every module keeps a whole, runnable executable whose recorded version is never
// newer, no file is left cut short; once there is room again, the next run completes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>

#include "delivery/update_source.h"
#include "form/maker.h"
#include "platform/write_faults.h"
#include "support/firebird_fixture.h"
#include "support/run_site.h"
#include "support/small_disk.h"
#include "support/update_site.h"
#include "trust/trust.h"

namespace korva {
namespace {

using namespace testing;
namespace fs = std::filesystem;

// Before any thread exists: the mounts of this program stay its own.
const bool kPrivateMounts = EnterPrivateMounts();

const Message kDownloadError{"KORVA",
                             std::string("Erro no Download do arquivo. Por Favor entre em "
                                         "contato com o suporte.\rVESTRAMON Sistemas - Suporte: ") +
                                 form::kSupportTelephone,
                             MsgIcon::Information, kOk, kOk};
constexpr std::int64_t kPage = 4096;

// Where the disk is full: the updater's folder, the application folder, the
// branch, the folder the list is exported to, the working folder.
enum class Disk { Updater, Application, Branch, Export, Working };
enum class Point {
  Catalogue,
  ModulePackage,
  ScriptPackage,
  NewExecutable,
  BranchCopy,
  BranchExtraction,
  LogFile,
  PendingList,
  ScriptExport,
  ClientVersionFile,
  Settings,
  KeptSerie,
  ScriptFile,
};

struct Case {
  const char* name;
  Point point;
  Disk disk;
  bool databaseOffered;  // a main database update besides the module
};

const Case kCases[] = {
    {"CatalogueDownload", Point::Catalogue, Disk::Updater, true},
    {"ModulePackageDownload", Point::ModulePackage, Disk::Application, true},
    // The users database's package: the one step that keeps its package.
    {"UsersScriptPackageDownload", Point::ScriptPackage, Disk::Updater, true},
    {"NewExecutableBesideTheOld", Point::NewExecutable, Disk::Application, true},
    {"BranchCopy", Point::BranchCopy, Disk::Branch, false},
    {"BranchExtraction", Point::BranchExtraction, Disk::Branch, false},
    {"LogUpdateTxt", Point::LogFile, Disk::Updater, false},
    {"PendingListExport", Point::PendingList, Disk::Export, true},
    {"ScriptExportFiles", Point::ScriptExport, Disk::Working, true},
    {"ClientVersionFile", Point::ClientVersionFile, Disk::Updater, true},
    {"KorvaIniSettings", Point::Settings, Disk::Updater, true},
    {"KorvaIniKeptSerie", Point::KeptSerie, Disk::Updater, true},
    {"ScriptIniFile", Point::ScriptFile, Disk::Updater, true},
};

struct Param {
  Case c;
  bool mounted;  // a real tmpfs; otherwise the write seam
};

std::string Noise(std::size_t size) {
  std::mt19937 random(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// The new EFIN: a megabyte that packs into a few, so that a disk can hold
// the package and not the executable.
std::string NewEfin() {
  return ModuleBytes("EFIN.EXE", "2.2.0") + std::string(1 << 20, '\0');
}

const std::string kScriptFile = CrLf(
    "[3.16.40]\nS1_1=SELECT 1 FROM RDB$DATABASE\n[3.16.51]\nS1_1=UPDATE CLIENTE\n"
    "S1_2=SET CODCLIENTE = 1\nS2_1=DELETE FROM CLIENTE\n");
const std::string kOldSection = CrLf("[3.16.45]\nS1_1=SELECT 2 FROM RDB$DATABASE\n");

// Only the kept SERIE needs the maker's key; the other points run unsigned.
std::vector<std::string> SiteArguments(const std::string& branch, const trust::KeyPair& maker,
                                       bool keyed) {
  std::vector<std::string> arguments{"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
                                     "--app-module=EADM.EXE=1.9.12", "--app-module=EVEI.EXE=1.0.0",
                                     "--branch=" + branch};
  if (keyed) {
    arguments.push_back(PublicKeyArgument(maker));
  }
  return arguments;
}

class DiskFull : public ::testing::TestWithParam<Param> {
 protected:
  DiskFull()
      : s(SiteOptions{"EMPRESA", "FDB",
                      SiteArguments(places.File("filial"), maker,
                                    GetParam().c.point == Point::KeptSerie)},
          FtpServerKind::Pyftpdlib) {
    const Case& c = GetParam().c;
    fs::create_directories(Folder(Disk::Branch));
    fs::create_directories(Folder(Disk::Export));
    fs::create_directories(Folder(Disk::Working));
    WriteBytes(Branch("EFIN.EXE"), ModuleBytes("EFIN.EXE", "2.1.7"));
    fs::permissions(Branch("EFIN.EXE"), fs::perms::owner_exec, fs::perm_options::add);
    Isql(s.site.mainDatabase, "CREATE TABLE CLIENTE (CODCLIENTE INTEGER);\nCOMMIT;");
    const bool users = c.point == Point::ScriptPackage;
    const bool keyed = c.point == Point::KeptSerie;
    const std::string efin = s.PutModulePackage(
        "EFIN.EXE", "2.2.0", {{"EFIN.EXE", NewEfin()}, {"EFIN.DAT", Noise(200 * 1024)}});
    trust::Sha256 sha;
    sha.Update(efin);
    const std::string pins = keyed ? "SHA256=" + trust::Hex(sha.Finish()) +
                                         "\nTAMANHO=" + std::to_string(efin.size()) + "\n"
                                   : "";
    const auto put = [&](trust::Domain domain, const std::string& name, const std::string& bytes) {
      if (keyed) {
        s.PutSigned(maker, domain, name, bytes);
      } else {
        s.PutUpdateFile(name, bytes);
      }
    };
    put(trust::Domain::Catalogue, s.CatalogueName(),
        CrLf(std::string("[EMPRESA]\nID=KORVA\nSERIE=3\n[BANCO_USUÁRIO]\nÚltimaVersão=") +
             (users ? "1.4.3" : "1.4.2") +
             "\n[BANCO_KORVA]\nÚltimaVersão=" + (c.databaseOffered ? "3.16.51" : "3.16.50") +
             "\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n" + pins));
    put(trust::Domain::ScriptPackage, "script_korva_3_16_51.ini",
        ScriptPackage("3.16.51", {{"INSERT INTO CLIENTE VALUES (1)"}}));
    put(trust::Domain::ScriptPackage, "script_usuario_1_4_3.ini",
        ScriptPackage("1.4.3", {{"CREATE TABLE PERFIL (CODPERFIL INTEGER)"}}) + ";" +
            Noise(200 * 1024) + "\r\n");
    WriteBytes(s.Local("scriptEMPRESA.ini"),
               kScriptFile + (c.point == Point::ScriptFile ? kOldSection : ""));
    WriteBytes(Folder(Disk::Export) + "/lista.txt", "a list exported before\r\n");
    if (GetParam().mounted) Mount();
    before = Snapshot();
  }

  ~DiskFull() override {
    platform::write_faults::Clear();
    while (!disks.empty()) disks.pop_back();
  }

  std::string Folder(Disk disk) const {
    switch (disk) {
      case Disk::Updater:
        return s.site.folder;
      case Disk::Application:
        return s.site.applicationFolder;
      case Disk::Branch:
        return places.File("filial");
      case Disk::Export:
        return places.File("exportado");
      case Disk::Working:
        return places.File("trabalho");
    }
    return {};
  }
  std::string Branch(const std::string& name) const { return Folder(Disk::Branch) + "/" + name; }

  // Each folder on a small disk of its own, holding what it held. The
  // application folder lies inside the updater's: everything is put aside
  // before the first disk hides it.
  void Mount() {
    TempDir aside;
    const std::pair<Disk, std::int64_t> plan[] = {{Disk::Updater, 64 << 20},
                                                  {Disk::Application, 8 << 20},
                                                  {Disk::Branch, 8 << 20},
                                                  {Disk::Export, 1 << 20},
                                                  {Disk::Working, 1 << 20}};
    for (const auto& [disk, size] : plan) {
      const fs::path keep = aside.File(std::to_string(static_cast<int>(disk)));
      fs::create_directories(keep);
      for (const auto& entry : fs::directory_iterator(Folder(disk))) {
        if (entry.is_regular_file()) fs::copy(entry.path(), keep / entry.path().filename());
      }
    }
    // The databases stay where the server sees them: it lives outside this
    // program's mounts.
    for (const auto& [disk, size] : plan) {
      disks.push_back(std::make_unique<SmallDisk>(Folder(disk), size));
      for (const auto& entry :
           fs::directory_iterator(aside.File(std::to_string(static_cast<int>(disk))))) {
        fs::copy(entry.path(), fs::path(Folder(disk)) / entry.path().filename());
      }
    }
  }

  // At most `bytes` more fit into the folder's files: whole pages on the
  // real disk, exact bytes through the seam.
  void LeaveFree(Disk disk, std::int64_t bytes) {
    if (GetParam().mounted) {
      disks.at(static_cast<std::size_t>(disk))->LeaveFree((bytes + kPage - 1) / kPage * kPage);
    } else {
      platform::write_faults::LeaveFree(Folder(disk), bytes);
    }
  }
  void MakeRoom() {
    for (auto& disk : disks) disk->MakeRoom();
    platform::write_faults::Clear();
  }

  Principal& p() { return *s.principal; }
  void Check() {
    p().Dispatch([&] { p().BtBtnNovasAtualizacoesClick(); });
  }
  void Run() {
    p().Dispatch([&] { p().BtbtnIniciarAtualizacaoClick(); });
    if (s.form.ActivePage() != &s.form.TbShtBackup) return;
    s.form.RGBackup.SetItemIndex(0);
    p().Dispatch([&] { p().RGBackupClick(); });
    p().Dispatch([&] { p().BtBtnContinuarClick(); });
  }
  void Restart() {
    s.shell = {};
    s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
    ASSERT_TRUE(s.Start());
  }
  std::string Column(const std::string& column) const {
    return IsqlValue(s.site.mainDatabase, "SELECT " + column + " FROM VERSAOBD");
  }

  // The files the program reads back later, as they are now.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const char* name : {"KORVA.INI", "dbxconnections.ini", "scriptEMPRESA.ini"}) {
      files[name] = ReadBytes(s.Local(name));
    }
    return files;
  }

  // What must hold whatever happened: executables whole and runnable, their
  // records never ahead of them, no half-written file anywhere.
  void ExpectSiteWhole() {
    for (const std::string& folder : {Folder(Disk::Application), Folder(Disk::Branch)}) {
      SCOPED_TRACE(folder);
      const std::string efin = ReadBytes(folder + "/EFIN.EXE");
      EXPECT_TRUE(efin == ModuleBytes("EFIN.EXE", "2.1.7") || efin == NewEfin());
      std::string said;
      EXPECT_EQ(RunCommand({"/bin/sh", folder + "/EFIN.EXE"}, said), 0);
      EXPECT_TRUE(said == "EFIN.EXE 2.1.7\n" || said == "EFIN.EXE 2.2.0\n") << said;
      if (folder == Folder(Disk::Application) && efin != NewEfin()) {
        EXPECT_EQ(Column("VERSAO_FIN"), "2.1.7");
      }
    }
    for (int d = 0; d <= static_cast<int>(Disk::Working); ++d) {
      for (const auto& entry : fs::directory_iterator(Folder(static_cast<Disk>(d)))) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name.find(".korva-") != std::string::npos) << "left behind: " << entry.path();
      }
    }
    // Settings and the script file: as they were, or as a whole new file.
    const auto now = Snapshot();
    EXPECT_EQ(now.at("dbxconnections.ini"), before.at("dbxconnections.ini"));
    EXPECT_EQ(now.at("KORVA.INI"), before.at("KORVA.INI"));
    EXPECT_TRUE(now.at("scriptEMPRESA.ini") == before.at("scriptEMPRESA.ini") ||
                now.at("scriptEMPRESA.ini") == kScriptFile);
    const std::string client = s.Local(std::string(UpdateSite::kClientId) + ".ini");
    if (fs::exists(client)) {
      const std::string bytes = ReadBytes(client);
      EXPECT_TRUE(bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n") << bytes;
    }
  }

  TempDir places;
  trust::KeyPair maker = trust::GenerateKeyPair();
  UpdateSite s;
  std::vector<std::unique_ptr<SmallDisk>> disks;
  std::map<std::string, std::string> before;
};

TEST_P(DiskFull, TheStepFailsAsItsPartSaysAndTheNextRunCompletes) {
  const Case& c = GetParam().c;
  if (GetParam().mounted) {
    ASSERT_TRUE(kPrivateMounts) << "no tmpfs of the test's own";
  }
  ASSERT_TRUE(s.Start());
  const std::string app = s.site.applicationFolder;
  const std::int64_t catalogue = static_cast<std::int64_t>(
      s.server->GetFile(s.ServerFolder() + "/" + s.CatalogueName()).size());
  const std::int64_t package =
      static_cast<std::int64_t>(s.server->GetFile(s.ServerFolder() + "/efin.zip").size());

  std::vector<Message> expected;
  switch (c.point) {
    case Point::Catalogue:
      LeaveFree(c.disk, 0);
      Check();
      expected = {{"KORVA",
                   "Servidor de atualizações não disponível no momento.\rVerifique sua conexão "
                   "com a internet ou tente mais tarde.\r\rMensagem recebida:\rCannot write file "
                   "\"" +
                       s.Local(s.CatalogueName()) + "\". No space left on device",
                   MsgIcon::Warning, kOk, kOk}};
      EXPECT_EQ(s.shell.endRequests, 1);
      EXPECT_FALSE(fs::exists(s.Local(s.CatalogueName())));
      break;
    case Point::ModulePackage:
      Check();
      LeaveFree(c.disk, 64 * 1024);
      Run();
      expected = {{"KORVA Update",
                   "Problemas na localização ou leitura do arquivo efin.zip, tente novamente!\r"
                   "Caso o problema persista entre em contato com o Suporte Vestramon.",
                   MsgIcon::Error, kOk, kOk},
                  kDownloadError};
      EXPECT_FALSE(fs::exists(app + "/efin.zip"));
      break;
    case Point::ScriptPackage:
      Check();
      LeaveFree(c.disk, 64 * 1024);
      Run();
      expected = {{"",
                   "Cannot write file \"" + s.Local("script_usuario_1_4_3.ini") +
                       "\". No space left on device",
                   MsgIcon::Error, kOk, kOk}};
      // Half a package is not left for a later run in local mode to apply.
      EXPECT_FALSE(fs::exists(s.Local("script_usuario_1_4_3.ini")));
      EXPECT_EQ(IsqlValue(s.site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.4.2");
      EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT COUNT(*) FROM CLIENTE"), "0");
      break;
    case Point::NewExecutable:
      Check();
      LeaveFree(c.disk, package + 64 * 1024);
      s.shell.QueueAnswer(kAbort);
      Run();
      expected = {{"",
                   "Cannot write " + app +
                       "/EFIN.EXE: No space left on device. File processing "
                       "error, possibly disk is full",
                   MsgIcon::Question, kAbort | kRetry | kIgnore, kNoButton},
                  {"KORVA Update",
                   "Falha na descompactação do arquivo em\r" + app +
                       "\rEntre em contato com o Suporte Vestramon.",
                   MsgIcon::Error, kOk, kNoButton},
                  kDownloadError};
      EXPECT_FALSE(fs::exists(app + "/EFIN.Old"));
      break;
    case Point::BranchCopy:
      Check();
      LeaveFree(c.disk, 64 * 1024);
      s.shell.QueueAnswer(kNo);
      Run();
      expected = {{"KORVA",
                   "Não foi possível copiar atualização para o servidor\r" + Folder(c.disk) +
                       "\rTenta novamente ?",
                   MsgIcon::Question, kYes | kNo, kNoButton},
                  kSuccess};
      EXPECT_FALSE(fs::exists(Branch("efin.zip")));
      break;
    case Point::BranchExtraction:
      Check();
      LeaveFree(c.disk, package + 64 * 1024);
      s.shell.QueueAnswer(kAbort);
      Run();
      expected = {{"",
                   "Cannot write " + Branch("EFIN.EXE") +
                       ": No space left on device. File "
                       "processing error, possibly disk is full",
                   MsgIcon::Question, kAbort | kRetry | kIgnore, kNoButton},
                  {"KORVA Update",
                   "Falha na descompactação do arquivo em\r" + Folder(c.disk) +
                       "\rEntre em contato com o Suporte Vestramon.",
                   MsgIcon::Error, kOk, kNoButton},
                  kSuccess};
      // The copy stays where the extraction failed.
      EXPECT_EQ(static_cast<std::int64_t>(ReadBytes(Branch("efin.zip")).size()), package);
      EXPECT_FALSE(fs::exists(Branch("EFIN.Old")));
      break;
    case Point::LogFile:
      Check();
      LeaveFree(c.disk, 0);
      Run();
      expected = {{"KORVA - Atualizações", "Falha na conexão com o servidor KORVA",
                   MsgIcon::Warning, kOk, kOk}};
      EXPECT_EQ(s.shell.endRequests, 1);
      EXPECT_FALSE(fs::exists(app + "/efin.zip"));
      break;
    case Point::PendingList:
      Check();
      LeaveFree(c.disk, 0);
      s.shell.saveNames.push_back(Folder(c.disk) + "/lista.txt");
      p().Dispatch([&] { p().BtBtnGravarClick(); });
      expected = {
          {"", Folder(c.disk) + "/lista.txt: No space left on device", MsgIcon::Error, kOk, kOk}};
      EXPECT_EQ(ReadBytes(Folder(c.disk) + "/lista.txt"), "a list exported before\r\n");
      break;
    case Point::ScriptExport: {
      Check();
      const std::string home = fs::current_path();
      fs::current_path(Folder(c.disk));
      LeaveFree(c.disk,
                static_cast<std::int64_t>(CrLf("UPDATE CLIENTE\nSET CODCLIENTE = 1\n").size()));
      p().Dispatch([&] { p().GerarScript1Click(); });
      fs::current_path(home);
      expected = {{"", "SCRIPT_2.TXT: No space left on device", MsgIcon::Error, kOk, kOk}};
      EXPECT_EQ(ReadBytes(Folder(c.disk) + "/SCRIPT_1.TXT"),
                CrLf("UPDATE CLIENTE\nSET CODCLIENTE = 1\n"));
      EXPECT_FALSE(fs::exists(Folder(c.disk) + "/SCRIPT_2.TXT"));
      break;
    }
    case Point::ClientVersionFile:
      LeaveFree(c.disk, catalogue);
      Check();
      expected = {{"", "Unable to write to " + s.Local(std::string(UpdateSite::kClientId) + ".ini"),
                   MsgIcon::Error, kOk, kOk}};
      break;
    case Point::Settings:
      s.form.EdtProxy_Host.SetText("proxy.local");
      LeaveFree(c.disk, 0);
      p().Dispatch([&] { p().BtBtnGravaConfigClick(); });
      expected = {{"", "Unable to write to " + s.Local("KORVA.INI"), MsgIcon::Error, kOk, kOk}};
      break;
    case Point::KeptSerie:
      // The disk fills the moment the catalogue is verified: its SERIE is
      // not kept, the check goes on to the client version file, whose write
      // ends it as its Part says.
      delivery::UpdateSource::SetAfterVerificationHookForTests([&](const std::string& path) {
        if (path == s.Local(s.CatalogueName())) LeaveFree(c.disk, 0);
      });
      Check();
      delivery::UpdateSource::SetAfterVerificationHookForTests(nullptr);
      expected = {{"", "Unable to write to " + s.Local(std::string(UpdateSite::kClientId) + ".ini"),
                   MsgIcon::Error, kOk, kOk}};
      break;
    case Point::ScriptFile:
      LeaveFree(c.disk, catalogue);
      Check();
      expected = {{"", s.Local("scriptEMPRESA.ini") + ": No space left on device", MsgIcon::Error,
                   kOk, kOk}};
      break;
  }
  EXPECT_THAT(s.shell.messages, ::testing::ElementsAreArray(expected));
  if (!GetParam().mounted) {
    EXPECT_GT(platform::write_faults::FailedWrites(), 0);
  }
  ExpectSiteWhole();

  // Room again: what failed goes through, and a whole run completes.
  MakeRoom();
  Restart();
  switch (c.point) {
    case Point::PendingList:
      Check();
      s.shell.saveNames.push_back(Folder(c.disk) + "/lista.txt");
      p().Dispatch([&] { p().BtBtnGravarClick(); });
      EXPECT_EQ(s.shell.messages.back().text, "Arquivo gravado com sucesso.");
      EXPECT_EQ(ReadBytes(Folder(c.disk) + "/lista.txt"),
                CrLf("BANCO DE DADOS KORVA - Atualizar para versão 3.16.51\n"
                     "MÓDULO FIN - Atualizar para versão 2.2.0\n"));
      Restart();
      break;
    case Point::ScriptExport: {
      Check();
      const std::string home = fs::current_path();
      fs::current_path(Folder(c.disk));
      p().Dispatch([&] { p().GerarScript1Click(); });
      fs::current_path(home);
      EXPECT_EQ(s.shell.messages.back().text, "Script gerado com sucesso");
      EXPECT_EQ(ReadBytes(Folder(c.disk) + "/SCRIPT_2.TXT"), CrLf("DELETE FROM CLIENTE\n"));
      Restart();
      break;
    }
    case Point::Settings:
      s.form.EdtProxy_Host.SetText("proxy.local");
      p().Dispatch([&] { p().BtBtnGravaConfigClick(); });
      EXPECT_EQ(s.shell.messages.back().text, "Dados gravados com sucesso");
      EXPECT_THAT(ReadBytes(s.Local("KORVA.INI")),
                  ::testing::HasSubstr("PROXY_HOST=proxy.local\r\n"));
      Restart();
      break;
    default:
      break;
  }
  s.shell.messages.clear();
  Check();
  const bool branchOnly = c.point == Point::BranchCopy || c.point == Point::BranchExtraction;
  if (branchOnly) {
    // The application folder is current; the branch left behind is owed
    // the module, and this run brings it level.
    EXPECT_THAT(s.Nodes(),
                ElementsAre("FILIAL " + Folder(Disk::Branch) + " - MÓDULO FIN - Cópia pendente"));
  }
  Run();
  EXPECT_THAT(s.shell.messages, ElementsAre(kSuccess));
  EXPECT_EQ(ReadBytes(Branch("EFIN.EXE")), NewEfin());
  EXPECT_FALSE(fs::exists(s.Local("FiliaisPendentes.ini")));
  if (c.point == Point::KeptSerie) {
    EXPECT_THAT(ReadBytes(s.Local("KORVA.INI")), ::testing::HasSubstr("SERIE_EMPRESA=3\r\n"));
  }
  EXPECT_EQ(ReadBytes(app + "/EFIN.EXE"), NewEfin());
  EXPECT_EQ(Column("VERSAO_FIN"), "2.2.0");
  if (c.databaseOffered) {
    EXPECT_EQ(Column("VERSAOBANCO"), "3.16.51");
  }
}

std::vector<Param> AllPoints() {
  std::vector<Param> params;
  for (const bool mounted : {true, false}) {
    for (const Case& c : kCases) params.push_back({c, mounted});
  }
  return params;
}

INSTANTIATE_TEST_SUITE_P(WritePoints, DiskFull, ::testing::ValuesIn(AllPoints()),
                         [](const auto& info) {
                           return std::string(info.param.c.name) +
                                  (info.param.mounted ? "_OnASmallDisk" : "_ThroughTheSeam");
                         });

}  // namespace
}  // namespace korva
