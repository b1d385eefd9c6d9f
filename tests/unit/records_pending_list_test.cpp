// The pending-update list handed on: the exported file byte for byte, the
// save dialog's answers, and the printed report's layout.
#include <gtest/gtest.h>

#include "app/principal.h"
#include "platform/files.h"
#include "support/scripted_shell.h"
#include "support/temp_dir.h"
#include "support/update_site.h"
#include "text/error.h"

namespace korva {
namespace {

using testing::ReadBytes;

class PendingList : public ::testing::Test {
 protected:
  PendingList() {
    form.TVAtualizacoes.SetNodes({{"BANCO DE DADOS KORVA - Atualizar para versão 3.16.51", {}},
                                  {"MÓDULO FIN - Atualizar para versão 2.2.0", {}},
                                  {"MÓDULO VEI - Reinstalação", {}}});
  }
  testing::TempDir dir;
  form::FormModel form;
  testing::ScriptedShell shell;
  testing::SetClock clock;
  Principal principal{form, shell, clock, dir.Path()};
};

const Message kSaved{"KOVA Update", "Arquivo gravado com sucesso.", MsgIcon::Information, kOk, kOk};

TEST_F(PendingList, ExportWritesOneCrLfLinePerNodeAndTheDialogDecidesTheName) {
  const std::string lines =
      "BANCO DE DADOS KORVA - Atualizar para versão 3.16.51\r\n"
      "MÓDULO FIN - Atualizar para versão 2.2.0\r\nMÓDULO VEI - Reinstalação\r\n";
  struct Case {
    std::string typed;
    std::string written;
  };
  for (const Case& c : {Case{"lista", "lista.TXT"}, Case{"lista.csv", "lista.csv"},
                        Case{"lista", "lista.TXT"}}) {  // the second time replaces the first
    shell.messages.clear();
    shell.saveNames.push_back(dir.File(c.typed));
    principal.BtBtnGravarClick();
    EXPECT_EQ(ReadBytes(dir.File(c.written)), lines) << c.typed;
    EXPECT_EQ(shell.messages, std::vector<Message>{kSaved});
  }
  EXPECT_EQ(shell.saveDialogs.back(),
            (std::pair<std::string, std::string>{"AtualizacoesKORVA", "TXT"}));

  // Cancelled: nothing written, nothing said.
  shell.messages.clear();
  principal.BtBtnGravarClick();
  EXPECT_TRUE(shell.messages.empty());

  // A file that cannot be created reaches the error display; no success.
  shell.saveNames.push_back(dir.File("nao-existe/lista.txt"));
  EXPECT_THROW(principal.BtBtnGravarClick(), KorvaError);
  EXPECT_TRUE(shell.messages.empty());
  EXPECT_FALSE(platform::FileExists(dir.File("nao-existe/lista.txt")));
}

TEST_F(PendingList, APrintThatFailsIsToldAndACancelledOneIsNot) {
  const Message failed{"KORVA Update", "Não foi possível imprimir a lista de atualizações.",
                       MsgIcon::Error, kOk, kOk};
  struct Case {
    PrintOutcome outcome;
    std::vector<Message> told;
  };
  for (const Case& c : {Case{PrintOutcome::kFailed, {failed}}, Case{PrintOutcome::kCancelled, {}},
                        Case{PrintOutcome::kPrinted, {}}}) {
    shell.messages.clear();
    shell.printOutcome = c.outcome;
    principal.BtBtImpimirAtualizacaoClick();
    EXPECT_EQ(shell.messages, c.told) << static_cast<int>(c.outcome);
  }
  // The list stays as it was, whatever became of the print.
  EXPECT_EQ(form.TVAtualizacoes.Nodes().size(), 3u);
}

TEST_F(PendingList, PrintLaysTheListOutUnderTheTitleAndTheTimeOfPrinting) {
  clock.now = {2026, 12, 9, 21, 5, 7, 0};
  principal.BtBtImpimirAtualizacaoClick();
  principal.BtBtImpimirAtualizacaoClick();
  ASSERT_EQ(shell.printed.size(), 2u);
  EXPECT_EQ(shell.printed[0], shell.printed[1]);  // each print holds the list once
  const form::Report& report = shell.printed[0];
  EXPECT_EQ(report.documentName, "Report");
  EXPECT_EQ(report.pageWidth, 210);
  EXPECT_EQ(report.pageHeight, 297);
  EXPECT_EQ(report.margin, 6.35);
  ASSERT_EQ(report.header.size(), 2u);
  EXPECT_EQ(report.header[0].text, "Sistema KORVA - Atualizações do Sistema");
  EXPECT_EQ(report.header[0].font, (form::ReportFont{"Arial", 12, true, true}));
  EXPECT_EQ(report.header[0].box, (form::ReportBox{1.852, 2.117, 86.784, 5.027}));
  EXPECT_EQ(report.header[1].box, (form::ReportBox{101.071, 2.117, 36.248, 3.969}));
  EXPECT_EQ(report.header[1].text.substr(0, 10), "09/12/2026");
  EXPECT_NE(report.header[1].text.find("21"), std::string::npos);
  EXPECT_EQ(report.lines.size(), 3u);
  EXPECT_EQ(report.lines[2], "MÓDULO VEI - Reinstalação");
  EXPECT_EQ(report.listBox, (form::ReportBox{1.323, 19.05, 192.882, 10.054}));
  EXPECT_EQ(report.listFont, (form::ReportFont{"Arial", 10, false, false}));
}

}  // namespace
}  // namespace korva
