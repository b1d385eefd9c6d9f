// One update run per site: updaters on two workstations, each with its own
// folder (settings, connection file, programs), window registry and name,
// against one site's databases and application folder. The one that starts
// first runs; the other is told where and since when, and changes nothing;
// once the first is killed, a third runs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/site_lock.h"
#include "platform/files.h"
#include "platform/workstation.h"
#include "support/child_process.h"
#include "support/firebird_fixture.h"
#include "support/update_site.h"
#include "text/strings.h"

namespace korva {
namespace {

using namespace testing;

const std::string kSuccess = "KORVA|Atualizações efetuadas com sucesso";

struct Workstation {
  std::string name;
  std::string folder;  // the updater's own
};

// One workstation's updater in a process of its own: the check in local
// mode, "Iniciar &Atualizações", "Sim", "&Continuar"; it pauses before its
// first write to the main database when asked to. What it showed goes to
// `outcome`: the page it ended on, then "caption|text" of each message.
bool RunUpdater(const Workstation& w, const UpdateSite& s, bool pauseAtFirstWrite,
                const std::function<void()>& pause, const std::string& outcome) {
  const TempDir runtime;
  ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
  platform::OverrideWorkstationName(w.name);
  platform::OverrideExecutablePath(platform::JoinPath(w.folder, "korvaupdate"));
  form::FormModel form;
  ScriptedShell shell;
  SetClock clock;
  clock.now = s.clock.now;
  Principal principal(form, shell, clock, w.folder);
  form.PpMnTesteVESTRAMON.SetChecked(form.AtualizarPelaInternet, false);
  principal.FormCreate();
  principal.FormShow();
  principal.BtBtnNovasAtualizacoesClick();
  bool paused = false;
  principal.SQLConnectionKORVA().SetStatementObserver([&](std::string_view sql) {
    if (pauseAtFirstWrite && !paused && sql.rfind("SELECT", 0) != 0) {
      paused = true;
      pause();
    }
  });
  principal.BtbtnIniciarAtualizacaoClick();
  if (form.ActivePage() == &form.TbShtBackup) {
    form.RGBackup.SetItemIndex(0);
    principal.RGBackupClick();
    principal.BtBtnContinuarClick();
  }
  std::string text = form.ActivePage() == &form.TbShtBackup                 ? "backup\n"
                     : form.ActivePage() == &form.TbShtVerificaAtualizacoes ? "pending list\n"
                                                                            : "log\n";
  for (const Message& m : shell.messages) text += m.caption + "|" + m.text + "\n";
  WriteBytes(outcome, text);
  return true;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class SiteLockTest : public ::testing::Test {
 protected:
  SiteLockTest()
      : s(SiteOptions{"EMPRESA",
                      "FDB",
                      {"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
                       "--app-module=EADM.EXE=1.9.12", "--app-module=EVEI.EXE=1.0.0"}},
          FtpServerKind::Pyftpdlib) {
    s.UseLocalMode();
    Isql(s.site.mainDatabase,
         "CREATE TABLE TRILHA (SEQ INTEGER, O VARCHAR(60));\nCREATE SEQUENCE G_TRILHA;\nCOMMIT;");
    for (const char* name : {"ESTACAO-B", "ESTACAO-C"}) {
      const std::string folder = dir.File(name);
      std::filesystem::create_directories(folder);
      for (const char* file : {"dbxconnections.ini", "KORVA.INI", "KorvaLib.dll", "korvaupdate"}) {
        std::filesystem::copy_file(s.Local(file), platform::JoinPath(folder, file));
      }
      others.push_back({name, folder});
    }
  }

  // The catalogue and a script package, in every updater's own folder.
  void Offer(const std::string& catalogue, const std::string& package, const std::string& bytes) {
    const std::string all[] = {s.site.folder, others[0].folder, others[1].folder};
    for (const std::string& folder : all) {
      WriteBytes(platform::JoinPath(folder, s.CatalogueName()), catalogue);
      if (!package.empty()) WriteBytes(platform::JoinPath(folder, package), bytes);
    }
  }

  // The groups applied, in order.
  std::vector<std::string> Trail() const {
    std::vector<std::string> groups;
    for (const std::string& line :
         Lines(Isql(s.site.mainDatabase, "SET HEADING OFF;\nSELECT O FROM TRILHA ORDER BY SEQ;"))) {
      if (!text::Trim(line).empty()) groups.push_back(text::Trim(line));
    }
    return groups;
  }
  std::string Column(const std::string& column) const {
    return IsqlValue(s.site.mainDatabase, "SELECT " + column + " FROM VERSAOBD");
  }

  UpdateSite s;
  TempDir dir;
  TempDir outcomes;
  std::vector<Workstation> others;
};

TEST_F(SiteLockTest, OneRunsTheOtherRefusesAndAThirdRunsAfterTheFirstIsKilled) {
  const Workstation a{"ESTACAO-A", s.site.folder};
  const Workstation& b = others[0];
  const Workstation& c = others[1];
  const auto updater = [&](const Workstation& w, bool pause, const std::string& outcome) {
    return [&, pause, outcome](const std::function<void()>& stop) {
      return RunUpdater(w, s, pause, stop, outcome);
    };
  };
  // A stops at its first write, holding the site, while B tries; then A
  // meets its end. Each run's outcome goes to its file of the round.
  const auto bWhileAHolds = [&](const std::string& round,
                                const std::function<void(PausingChild&)>& endOfA) {
    PausingChild first(updater(a, true, outcomes.File("a" + round)));
    ASSERT_TRUE(first.WaitUntilPaused());
    PausingChild second(updater(b, false, outcomes.File("b" + round)));
    ASSERT_TRUE(second.Succeeded());
    endOfA(first);
  };

  // A database update and a module.
  Offer(CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n[BANCO_KORVA]\n"
             "ÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n"),
        "script_korva_3_16_51.ini",
        ScriptPackage("3.16.51",
                      {{"INSERT INTO TRILHA VALUES (NEXT VALUE FOR G_TRILHA, '3.16.51/1')"},
                       {"INSERT INTO TRILHA VALUES (NEXT VALUE FOR G_TRILHA, '3.16.51/2')"}}));
  s.PutModulePackage("EFIN.EXE", "2.2.0");
  ASSERT_NO_FATAL_FAILURE(bWhileAHolds("1", [](PausingChild& first) {
    first.Resume();
    ASSERT_TRUE(first.Succeeded());
  }));
  // B was asked about A's connection, then refused with the backup page as
  // it was; A's run went through once.
  EXPECT_THAT(Lines(ReadBytes(outcomes.File("b1"))),
              ElementsAre("backup",
                          "KORVA|ATENÇÃO!\rExistem 1 conexões ativas.\rAs atualizações de banco "
                          "de dados talvez não possam ser realizadas.\rTem certeza que deseja "
                          "continuar assim mesmo?",
                          "KORVA - Atualizações|Atualização em andamento na estação ESTACAO-A "
                          "desde 21:30."));
  EXPECT_THAT(Lines(ReadBytes(outcomes.File("a1"))), ElementsAre("log", kSuccess));
  EXPECT_THAT(Trail(), ElementsAre("3.16.51/1", "3.16.51/2"));
  EXPECT_EQ(Column("VERSAOBANCO"), "3.16.51");
  EXPECT_EQ(Column("VERSAO_FIN"), "2.2.0");
  EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
  EXPECT_FALSE(std::filesystem::exists(platform::JoinPath(b.folder, "LogUpdate.txt")));
  // The lock file stays, with who held it last.
  EXPECT_EQ(ReadBytes(s.App(kSiteLockName)), "ESTACAO-A\r\n09/12/2026 21:30:00\r\n");

  // Only a module: A takes the site before the installation and is killed
  // while it records the module's version; B is refused meanwhile, C can
  // run once A is gone.
  Offer(CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n[BANCO_KORVA]\n"
             "ÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n[EEST.EXE]\n"
             "ÚltimaVersão=2.0.4\n"),
        "", "");
  s.PutModulePackage("EEST.EXE", "2.0.4");
  ASSERT_NO_FATAL_FAILURE(bWhileAHolds("2", [](PausingChild& first) { first.Kill(); }));
  EXPECT_THAT(Lines(ReadBytes(outcomes.File("b2"))),
              ElementsAre("pending list",
                          "KORVA - Atualizações|Atualização em andamento na estação ESTACAO-A "
                          "desde 21:30."));
  EXPECT_EQ(Column("VERSAO_EST"), "2.0.3");

  s.clock.now.hour = 23;
  s.clock.now.minute = 5;
  PausingChild third(updater(c, false, outcomes.File("c")));
  ASSERT_TRUE(third.Succeeded());
  EXPECT_THAT(Lines(ReadBytes(outcomes.File("c"))), ElementsAre("log", kSuccess));
  EXPECT_EQ(Column("VERSAO_EST"), "2.0.4");
  EXPECT_EQ(ReadBytes(s.App("EEST.EXE")), ModuleBytes("EEST.EXE", "2.0.4"));
  EXPECT_THAT(Trail(), ElementsAre("3.16.51/1", "3.16.51/2"));
  EXPECT_EQ(ReadBytes(s.App(kSiteLockName)), "ESTACAO-C\r\n09/12/2026 23:05:00\r\n");
}

// A lock file that cannot be opened (here a folder took its name; at a site,
// a read-only or unreachable application folder): the run goes on as it
// would without the lock, and the log file says so.
TEST_F(SiteLockTest, WhereNoLockCanBeHadTheRunGoesOnAndSaysSo) {
  std::filesystem::create_directories(s.App(kSiteLockName));
  Offer(CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n[BANCO_KORVA]\n"
             "ÚltimaVersão=3.16.50\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n"),
        "", "");
  s.PutModulePackage("EFIN.EXE", "2.2.0");
  ASSERT_TRUE(s.Start());
  s.principal->BtBtnNovasAtualizacoesClick();
  s.principal->BtbtnIniciarAtualizacaoClick();
  EXPECT_THAT(s.shell.messages, ElementsAre(Message{"KORVA", "Atualizações efetuadas com sucesso",
                                                    MsgIcon::Information, kOk, kOk}));
  EXPECT_EQ(Column("VERSAO_FIN"), "2.2.0");
  EXPECT_EQ(Lines(ReadBytes(s.Local("LogUpdate.txt"))).front(),
            "Atualização sem bloqueio de outras estações: " + s.App(kSiteLockName) +
                ": Is a directory\r");
}

// What another workstation left in the lock file is shown only as far as it
// is plain text; a file that says nothing still refuses.
TEST(SiteLockText, RefusalTellsWhereAndSinceWhen) {
  const struct {
    std::string file;
    std::string text;
  } cases[] = {
      {"CAIXA-02\r\n09/12/2026 08:05:59\r\n",
       "Atualização em andamento na estação CAIXA-02 desde 08:05."},
      {"CAIXA-02\n09/12/2026 08:05:59\n",
       "Atualização em andamento na estação CAIXA-02 desde 08:05."},
      {"", "Atualização em andamento na estação ? desde ?."},
      {"CAIXA\a-02\r\nontem\r\n", "Atualização em andamento na estação CAIXA-02 desde ?."},
      {std::string(200, 'X') + "\r\n09/12/2026 8:5\r\n",
       "Atualização em andamento na estação " + std::string(63, 'X') + " desde ?."},
  };
  for (const auto& t : cases) {
    SCOPED_TRACE(t.file);
    EXPECT_EQ(SiteLockRefusal(t.file),
              (Message{"KORVA - Atualizações", t.text, MsgIcon::Information, kOk, kOk}));
  }
  EXPECT_EQ(SiteLockText("CAIXA-02", platform::LocalDateTime{2026, 1, 2, 3, 4, 5, 678}),
            "CAIXA-02\r\n02/01/2026 03:04:05\r\n");
}

}  // namespace
}  // namespace korva
