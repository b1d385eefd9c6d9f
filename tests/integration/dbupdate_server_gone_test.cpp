// The database server killed (SIGKILL) in the middle of an update run: between
// a group's statement and its version record, at the group's commit, while a
// module's version is recorded, and while the connected users are counted.
// Each time the run stops with the database's message and no group is
// recorded that was not committed; once the server is back, a new run
// applies each remaining group once and records the right versions.
// Each test has a Firebird server of its own: the machine's, which the other
// tests share, is never touched.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/firebird_fixture.h"
#include "support/firebird_instance.h"
#include "support/trail.h"
#include "support/update_site.h"

namespace korva {
namespace {

using namespace testing;

const Message kSuccess{"KORVA", "Atualizações efetuadas com sucesso", MsgIcon::Information, kOk,
                       kOk};
const char* const kPackages[] = {"3.16.51", "3.16.52", "3.16.53"};
const std::string kMainFailure =
    "Não foi possível atualizar o banco de dados. Verifique se existem usuários\rconectados no "
    "sistema. Entre em contato com o suporte da VESTRAMON e informe  a\rmensagem de erro "
    "abaixo:\r\r";

// Where the server goes away.
enum class Moment { BeforeVersionRecord, AtCommit, ModuleVersionRecord, UsersCount };

struct Case {
  const char* name;
  Moment moment;
  int nth;  // which version record or commit of the main database
  // After the kill: VERSAOBANCO, and the groups in effect.
  std::string recorded;
  std::vector<std::string> applied;
  // Left unapplied for good: their package's version was already recorded.
  std::vector<std::string> neverApplied;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
  return out << c.name;
}

class ServerGone : public ::testing::TestWithParam<Case> {
 protected:
  ServerGone()
      : s(SiteOptions{"EMPRESA",
                      "FDB",
                      {"--server=" + fb.Server(), "--app-module=EFIN.EXE=2.1.7",
                       "--app-module=EEST.EXE=2.0.3", "--app-module=EADM.EXE=1.9.12",
                       "--app-module=EVEI.EXE=1.0.0"}},
          FtpServerKind::Pyftpdlib) {
    // Every group and every version record leaves a line with its transaction.
    CreateTrail(s.site.mainDatabase, "VERSAO_FIN");
    s.PutCatalogue(
        CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n"
             "[BANCO_KORVA]\nÚltimaVersão=3.16.53\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n"));
    for (const std::string version : kPackages) {
      std::vector<std::vector<std::string>> groups;
      for (const char* g : {"1", "2"}) {
        groups.push_back({Trace(version + "/" + g)});
      }
      s.PutUpdateFile("script_korva_3_16_" + version.substr(5) + ".ini",
                      ScriptPackage(version, groups));
    }
    s.PutModulePackage("EFIN.EXE", "2.2.0");
  }

  // The check, "Iniciar &Atualizações", "Sim", "&Continuar", each click as the
  // window makes it: a failure it does not handle goes to the error display.
  void ClickThrough() {
    Principal& p = *s.principal;
    p.Dispatch([&] { p.BtBtnNovasAtualizacoesClick(); });
    p.Dispatch([&] { p.BtbtnIniciarAtualizacaoClick(); });
    if (s.form.ActivePage() != &s.form.TbShtBackup) return;
    s.form.RGBackup.SetItemIndex(0);
    p.Dispatch([&] { p.RGBackupClick(); });
    p.Dispatch([&] { p.BtBtnContinuarClick(); });
  }

  Trail ReadTrail() const { return testing::ReadTrail(s.site.mainDatabase); }
  std::string Column(const std::string& column) const {
    return IsqlValue(s.site.mainDatabase, "SELECT " + column + " FROM VERSAOBD");
  }

  FirebirdInstance fb;
  UpdateSite s;
};

TEST_P(ServerGone, TheRunStopsAndTheNextAppliesWhatIsLeftOnce) {
  const Case& c = GetParam();
  ASSERT_TRUE(s.Start());
  db::Connection& main = s.principal->SQLConnectionKORVA();
  int seen = 0;
  const auto killAt = [&](int nth) {
    if (++seen == nth) fb.Kill();
  };
  switch (c.moment) {
    case Moment::BeforeVersionRecord:
      main.SetStatementObserver([&](std::string_view sql) {
        if (sql.find("SET VERSAOBANCO") != std::string_view::npos) killAt(c.nth);
      });
      break;
    case Moment::AtCommit:
      main.SetCommitObserver([&] { killAt(c.nth); });
      break;
    case Moment::ModuleVersionRecord:
      main.SetStatementObserver([&](std::string_view sql) {
        if (sql.find("SET VERSAO_FIN") != std::string_view::npos) killAt(1);
      });
      break;
    case Moment::UsersCount:
      s.shell.onBusyCursor = [&](bool on) {
        if (on) killAt(1);
      };
      break;
  }
  ClickThrough();
  ASSERT_FALSE(fb.Running()) << "the moment never came";

  // The run stopped where the server went, with the database's words (the
  // module's record has a message of its own). Whether the client noticed
  // the server gone while it wrote or while it read is the network's affair.
  const auto lost = [](const std::string& before, const std::string& caption) {
    return ::testing::AnyOf(Message{caption, before + "Error reading data from the connection.",
                                    MsgIcon::Error, kOk, kOk},
                            Message{caption, before + "Error writing data to the connection.",
                                    MsgIcon::Error, kOk, kOk});
  };
  ASSERT_FALSE(s.shell.messages.empty());
  const Message& last = s.shell.messages.back();
  switch (c.moment) {
    case Moment::BeforeVersionRecord:
    case Moment::AtCommit:
      EXPECT_THAT(last, lost(kMainFailure, "KORVA"));
      break;
    case Moment::ModuleVersionRecord:
      EXPECT_EQ(last, (Message{"KORVA - Atualizações de Banco de Dados",
                               "Não foi possível atualizar Versões dos Módulos.\rEntre em contato "
                               "com o suporte da VESTRAMON.",
                               MsgIcon::Error, kOk, kOk}));
      break;
    case Moment::UsersCount:
      EXPECT_THAT(last, lost("", ""));
      break;
  }
  if (c.moment == Moment::ModuleVersionRecord) {
    EXPECT_THAT(ReadBytes(s.Local("LogUpdate.txt")),
                HasSubstr("Gravação (CCOMMIT) de versão de efin.zip FALHOU\r\n"));
    // The new executable is in place, its record not: never the other way.
    EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
  }
  if (c.moment == Moment::UsersCount) {
    EXPECT_EQ(s.form.StTxtNumUsers.Text(), "?");
  }

  fb.Start();
  // A group and its version record share one transaction, or neither is there.
  const Trail after = ReadTrail();
  for (const auto& [transaction, lines] : after.byTransaction) {
    ASSERT_EQ(lines.size(), 2u) << "transaction " << transaction << ": " << lines[0];
    EXPECT_EQ(lines[1], "VERSAO " + lines[0].substr(0, lines[0].find('/')));
  }
  EXPECT_THAT(after.groups, ElementsAreArray(c.applied));
  EXPECT_EQ(Column("VERSAOBANCO"), c.recorded);
  EXPECT_EQ(Column("VERSAO_FIN"), "2.1.7");

  // The operator starts the updater again.
  s.shell = {};
  s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
  ASSERT_TRUE(s.Start());
  ClickThrough();
  EXPECT_THAT(s.shell.messages, ElementsAre(kSuccess));
  std::vector<std::string> all;
  for (const std::string version : kPackages) {
    for (const char* g : {"/1", "/2"}) {
      const std::string group = version + g;
      if (std::find(c.neverApplied.begin(), c.neverApplied.end(), group) == c.neverApplied.end())
        all.push_back(group);
    }
  }
  EXPECT_THAT(ReadTrail().groups, ElementsAreArray(all));
  EXPECT_EQ(Column("VERSAOBANCO"), "3.16.53");
  EXPECT_EQ(Column("VERSAO_FIN"), "2.2.0");
  EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
}

INSTANTIATE_TEST_SUITE_P(
    Moments, ServerGone,
    ::testing::Values(
        // The second group of 3.16.52: its first group already recorded the
        // package's version, so the next run starts after it.
        Case{"BeforeTheVersionRecordOfASecondGroup",
             Moment::BeforeVersionRecord,
             4,
             "3.16.52",
             {"3.16.51/1", "3.16.51/2", "3.16.52/1"},
             {"3.16.52/2"}},
        Case{"AtTheCommitOfAFirstGroup",
             Moment::AtCommit,
             3,
             "3.16.51",
             {"3.16.51/1", "3.16.51/2"},
             {}},
        Case{"WhileAModulesVersionIsRecorded",
             Moment::ModuleVersionRecord,
             1,
             "3.16.53",
             {"3.16.51/1", "3.16.51/2", "3.16.52/1", "3.16.52/2", "3.16.53/1", "3.16.53/2"},
             {}},
        Case{"WhileTheConnectedUsersAreCounted", Moment::UsersCount, 1, "3.16.50", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace korva
