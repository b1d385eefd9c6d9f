// The printed pending-update list: QtShell's print dialog answered through
// its test hook with a PDF file as the printer, and the PDF read back.
#include <sstream>

#include "records/pending_list_report.h"
#include "support/site_builder.h"
#include "text/cp1252.h"
#include "ui/window_harness.h"

namespace korva::testing {
namespace {

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(h.Show()); }
  WindowHarness h;
};

// A word of pdftotext -bbox: its text and box in points from the page's
// top-left corner.
struct Word {
  std::string text;
  double xMin, yMin;
  int page;
};

std::vector<Word> WordsOf(const std::string& pdf) {
  std::string html;
  EXPECT_EQ(RunCommand({"pdftotext", "-bbox", pdf, "-"}, html), 0) << html;
  std::vector<Word> words;
  int page = 0;
  std::istringstream in(html);
  for (std::string line; std::getline(in, line);) {
    if (line.find("<page ") != std::string::npos) ++page;
    const auto at = line.find("<word xMin=\"");
    if (at == std::string::npos) continue;
    Word w{};
    w.page = page;
    std::sscanf(line.c_str() + at, "<word xMin=\"%lf\" yMin=\"%lf\"", &w.xMin, &w.yMin);
    w.text = line.substr(line.find('>', at) + 1);
    w.text = w.text.substr(0, w.text.find('<'));
    words.push_back(w);
  }
  return words;
}

TEST_F(PrintTest, ThePrintedListLandsWhereItsLayoutSaysOnAsManyPagesAsItNeeds) {
  std::vector<form::TreeView::Node> nodes = {{"MÓDULO FIN - Atualizar para versão 2.2.0", {}}};
  for (int i = 1; i <= 90; ++i) nodes.push_back({"Item " + std::to_string(i) + " da lista", {}});
  const form::Report report = records::RelatorioAtualizacoes(nodes, "09/12/2026 21:05:07");
  TempDir dir;
  const std::string pdf = dir.File("lista.pdf");

  h.shell.QueuePrintToPdf(std::nullopt);  // the operator cancels
  EXPECT_EQ(h.shell.PrintReport(report), PrintOutcome::kCancelled);
  EXPECT_FALSE(platform::FileExists(pdf));

  h.shell.QueuePrintToPdf(QString::fromStdString(pdf));
  ASSERT_EQ(h.shell.PrintReport(report), PrintOutcome::kPrinted);
  const std::vector<Word> words = WordsOf(pdf);
  const auto find = [&](const std::string& text) {
    for (const Word& w : words)
      if (w.text == text) return w;
    ADD_FAILURE() << text << " not printed";
    return Word{};
  };
  // Millimetres from the paper's corner: the margin, then the layout's box.
  const auto mm = [](double points) { return points * 25.4 / 72; };
  const Word title = find("Sistema");
  EXPECT_NEAR(mm(title.xMin), 6.35 + 1.852, 0.5);
  EXPECT_NEAR(mm(title.yMin), 6.35 + 2.117, 0.5);
  const Word date = find("09/12/2026");
  EXPECT_NEAR(mm(date.xMin), 6.35 + 101.071, 0.5);
  EXPECT_NEAR(mm(date.yMin), 6.35 + 2.117, 0.5);
  const Word first = find(text::ToUtf8("MÓDULO"));  // pdftotext speaks UTF-8
  EXPECT_NEAR(mm(first.xMin), 6.35 + 1.323, 0.5);
  EXPECT_NEAR(mm(first.yMin), 6.35 + 19.05, 0.5);
  EXPECT_EQ(first.page, 1);
  EXPECT_EQ(find("90").page, 2);  // "Item 90 da lista" went on to the second page

  std::string layout;
  ASSERT_EQ(RunCommand({"pdftotext", "-layout", pdf, "-"}, layout), 0);
  std::size_t at = layout.find(text::ToUtf8("Sistema KORVA - Atualizações do Sistema"));
  EXPECT_NE(at, std::string::npos);
  for (int i = 1; i <= 90; ++i) {
    const auto next = layout.find("Item " + std::to_string(i) + " da lista", at);
    ASSERT_NE(next, std::string::npos) << i;
    at = next;
  }
}

TEST_F(PrintTest, APrinterThatCannotBeWrittenIsAFailureToldToTheOperator) {
  h.form.TVAtualizacoes.SetNodes({{"MÓDULO FIN - Atualizar para versão 2.2.0", {}}});
  h.ShowPage(h.form.TbShtVerificaAtualizacoes);
  TempDir dir;
  // The painter cannot open its PDF file: the folder is not there.
  const std::string pdf = dir.File("nao-existe/lista.pdf");
  h.shell.QueuePrintToPdf(QString::fromStdString(pdf));
  h.shell.ClearRecords();
  h.principal.BtBtImpimirAtualizacaoClick();
  EXPECT_FALSE(platform::FileExists(pdf));
  ASSERT_EQ(h.shell.ShownMessages().size(), 1u);
  const qt::QtShell::ShownMessage& shown = h.shell.ShownMessages()[0];
  EXPECT_EQ(shown.caption, "KORVA Update");
  EXPECT_EQ(shown.text, Utf16(u"Não foi possível imprimir a lista de atualizações."));
  EXPECT_EQ(shown.icon, QMessageBox::Critical);
  EXPECT_EQ(shown.buttons, QMessageBox::Ok);

  // Cancelled: nothing printed, nothing said.
  h.shell.ClearRecords();
  h.shell.QueuePrintToPdf(std::nullopt);
  h.principal.BtBtImpimirAtualizacaoClick();
  EXPECT_TRUE(h.shell.ShownMessages().empty());
}

}  // namespace
}  // namespace korva::testing

KORVA_UI_TEST_MAIN()
