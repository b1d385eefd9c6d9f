// Protected update mode against the real users database: reading it onto the
// selector, switching it with the selector's handler, its failure path and
// the switch-off at exit.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "dbupdate/protected_mode.h"
#include "dbupdate/version_row.h"
#include "support/firebird_fixture.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva {
namespace {

using dbupdate::DefineModoAtualizacao;
using dbupdate::ProtectedModeContext;
using dbupdate::VersionRow;
using namespace testing;  // the test support

const Message kAtivado{"KORVA Update", "Modo de Atualização Protegido: Ativado.",
                       MsgIcon::Information, kOk};
const Message kDesativado{"KORVA Update", "Modo de Atualização Protegido: Desativado.",
                          MsgIcon::Information, kOk};
const Message kErro{"", "Erro ao ativar/desativar Modo de Atualização Protegido.", MsgIcon::None,
                    kOk};

class ProtectedMode : public ::testing::Test {
 protected:
  // stored: EM_ATUALIZACAO as build-site takes it (a value, EMPTY or NULL).
  void Build(const std::string& stored, const std::string& edition = "EMPRESA") {
    site = BuildSite(dir.Path(), SiteOptions{edition, "FDB", {"--protected=" + stored}});
    s = std::make_unique<SiteSession>(site.folder);
    row = &s->principal.UsersVersionRow();
    context = std::make_unique<ProtectedModeContext>(ProtectedModeContext{
        s->users, *row, s->session.transactions, s->form.RdGrpModotAtualizacao, s->shell});
    // Each update of VERSAOBD leaves its transaction and the flag's values.
    Isql(site.usersDatabase,
         "CREATE TABLE FLAG_AUDIT (SEQ INTEGER, TRANSACAO BIGINT, ANTES CHAR(1), DEPOIS "
         "CHAR(1));\nCREATE SEQUENCE G_FLAG;\nCOMMIT;\nSET TERM ^;\n"
         "CREATE TRIGGER FLAG_AUDIT_AU FOR VERSAOBD AFTER UPDATE AS BEGIN\n"
         "  INSERT INTO FLAG_AUDIT VALUES (NEXT VALUE FOR G_FLAG, CURRENT_TRANSACTION, "
         "OLD.EM_ATUALIZACAO, NEW.EM_ATUALIZACAO);\nEND^\nSET TERM ;^\nCOMMIT;");
    Selector().onClick = [this] {
      ++handlerRuns;
      s->principal.RdGrpModotAtualizacaoClick();
    };
    s->main.Open();
  }

  // Built, and the mode read as the start-up reads it.
  void Started(const std::string& stored) {
    Build(stored);
    DefineModoAtualizacao(*context, "R");
  }
  // Closing the window closes both connections.
  void CloseWindow() {
    s->main.Close();
    s->users.Close();
  }

  // Selecting "Desativado" records "N" in one write, and the messages are these.
  void ExpectSwitchOff(const std::vector<Message>& messages) {
    Select(1);
    EXPECT_EQ(s->shell.messages, messages);
    EXPECT_EQ(Stored(), "N");
    EXPECT_EQ(Writes().size(), 1u);
  }

  form::RadioGroup& Selector() { return s->form.RdGrpModotAtualizacao; }
  // Lines "transaction before after" of the audit table, oldest first.
  std::vector<std::string> Writes() {
    std::istringstream out(
        Isql(site.usersDatabase,
             "SET HEADING OFF;\nSELECT TRANSACAO || ' ' || COALESCE(ANTES, "
             "'?') || ' ' || COALESCE(DEPOIS, '?') FROM FLAG_AUDIT ORDER BY SEQ;"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(out, line);)
      if (!text::Trim(line).empty()) lines.push_back(text::Trim(line));
    return lines;
  }
  std::string Stored() {
    return IsqlValue(site.usersDatabase, "SELECT EM_ATUALIZACAO FROM VERSAOBD");
  }
  // Changes the selection as the window does when the program sets it without
  // an operator: with the handler attached.
  void Select(int index) { Selector().SetItemIndex(index); }

  TempDir dir;
  Site site;
  std::unique_ptr<SiteSession> s;
  VersionRow* row = nullptr;
  std::unique_ptr<ProtectedModeContext> context;
  int handlerRuns = 0;
};

TEST_F(ProtectedMode, ReadingOnShowsAtivadoWithItsMessage) {
  Started("S");
  EXPECT_TRUE(s->users.IsOpen());
  EXPECT_EQ(Selector().ItemIndex(), 0);
  EXPECT_EQ(s->shell.messages, std::vector<Message>{kAtivado});
  EXPECT_EQ(handlerRuns, 0);
  EXPECT_TRUE(static_cast<bool>(Selector().onClick));  // attached again
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(s->session.transactions.transactionCounter, 0u);
}

class ProtectedModeOff : public ProtectedMode, public ::testing::WithParamInterface<const char*> {};

TEST_P(ProtectedModeOff, ReadingAnythingElseSelectsDesativadoSilently) {
  Build(GetParam(), "CARTORIO");
  // Start from "Ativado" so that the read visibly changes the selection.
  auto handler = std::move(Selector().onClick);
  Selector().onClick = nullptr;
  Select(0);
  Selector().onClick = std::move(handler);

  DefineModoAtualizacao(*context, "R");
  EXPECT_EQ(Selector().ItemIndex(), 1);
  EXPECT_TRUE(s->shell.messages.empty());
  EXPECT_EQ(handlerRuns, 0);
  EXPECT_TRUE(Writes().empty());
}

INSTANTIATE_TEST_SUITE_P(StoredValues, ProtectedModeOff,
                         ::testing::Values("N", "EMPTY", "NULL", "s"));

TEST_F(ProtectedMode, AtivadoThenDesativadoGivesTwoCommittedWritesAndTwoMessages) {
  Started("N");
  Select(0);
  EXPECT_EQ(Stored(), "S");  // committed: another client sees it
  Select(1);
  EXPECT_EQ(Stored(), "N");
  EXPECT_EQ(handlerRuns, 2);
  EXPECT_EQ(s->shell.messages, (std::vector<Message>{kAtivado, kDesativado}));
  EXPECT_EQ(s->session.transactions.transactionCounter, 2u);
  EXPECT_FALSE(s->users.InTransaction());
  const auto writes = Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].substr(writes[0].find(' ')), " N S");
  EXPECT_EQ(writes[1].substr(writes[1].find(' ')), " S N");
  EXPECT_NE(writes[0].substr(0, writes[0].find(' ')), writes[1].substr(0, writes[1].find(' ')));
}

TEST_F(ProtectedMode, RequestingTheStoredModeDoesNothing) {
  Started("S");
  s->shell.messages.clear();
  DefineModoAtualizacao(*context, "S");
  Selector().SetItemIndex(-1);  // no selection: the handler asks for nothing
  EXPECT_EQ(handlerRuns, 1);
  EXPECT_TRUE(s->shell.messages.empty());
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(s->session.transactions.transactionCounter, 0u);
}

TEST_F(ProtectedMode, AFailedWriteShowsTheErrorAndLeavesTheDatabaseAsItWas) {
  Build("N");
  Isql(site.usersDatabase,
       "CREATE EXCEPTION E_RECUSA 'recusado';\nCOMMIT;\nSET TERM ^;\n"
       "CREATE TRIGGER RECUSA_BU FOR VERSAOBD BEFORE UPDATE AS BEGIN\n"
       "  IF (NEW.EM_ATUALIZACAO = 'S') THEN EXCEPTION E_RECUSA;\nEND^\nSET TERM ;^\nCOMMIT;");
  DefineModoAtualizacao(*context, "R");
  Select(0);
  EXPECT_EQ(s->shell.messages, std::vector<Message>{kErro});
  EXPECT_FALSE(s->users.InTransaction());
  EXPECT_EQ(Stored(), "N");
  EXPECT_TRUE(Writes().empty());
  // The copy and the selector keep the request; asking again finds it equal.
  EXPECT_EQ(row->Value("EM_ATUALIZACAO"), "S");
  EXPECT_EQ(Selector().ItemIndex(), 0);
  DefineModoAtualizacao(*context, "S");
  EXPECT_EQ(s->shell.messages.size(), 1u);
  // The connection is still usable: switching off records "N" again.
  ExpectSwitchOff({kErro, kDesativado});
}

TEST_F(ProtectedMode, ExitWithAtivadoReopensAndSwitchesOff) {
  Started("S");
  CloseWindow();
  // Destroying it selects "Desativado".
  ExpectSwitchOff({kAtivado, kDesativado});
  EXPECT_EQ(handlerRuns, 1);
}

TEST_F(ProtectedMode, ExitWithDesativadoTouchesNoDatabase) {
  Started("N");
  CloseWindow();
  const auto generation = s->users.Generation();
  Select(1);
  EXPECT_EQ(handlerRuns, 0);
  EXPECT_FALSE(s->users.IsOpen());
  EXPECT_EQ(s->users.Generation(), generation);
  EXPECT_TRUE(s->shell.messages.empty());
}

TEST_F(ProtectedMode, ReadingFailuresReachTheCaller) {
  Build("S");
  std::filesystem::remove(site.usersFile);
  EXPECT_THROW(DefineModoAtualizacao(*context, "R"), KorvaError);
  EXPECT_TRUE(s->shell.messages.empty());
  EXPECT_EQ(Selector().ItemIndex(), 1);
}

TEST_F(ProtectedMode, ReadingFailsWhenTheFlagColumnIsMissing) {
  Build("S");
  Isql(site.usersDatabase,
       "DROP TRIGGER FLAG_AUDIT_AU;\nALTER TABLE VERSAOBD DROP EM_ATUALIZACAO;\nCOMMIT;");
  EXPECT_THROW(DefineModoAtualizacao(*context, "R"), KorvaError);
  EXPECT_TRUE(s->shell.messages.empty());
}

}  // namespace
}  // namespace korva
