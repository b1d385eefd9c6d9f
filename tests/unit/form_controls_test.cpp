#include <gtest/gtest.h>

#include "form/form_model.h"
#include "text/error.h"

namespace korva::form {
namespace {

TEST(FormCheckList, SelectionStaysOnItsLineWhenLinesGo) {
  CheckList list("ChkLBxLog");
  for (const char* text : {"a", "b", "c", "d", "e"}) list.Add(text);
  list.SetSelectedIndex(3);  // "d"
  list.Delete(0);
  list.Delete(0);
  EXPECT_EQ(list.SelectedIndex(), 1);
  EXPECT_EQ(list.Items()[1].text, "d");
  list.Delete(2);  // below the selection
  EXPECT_EQ(list.SelectedIndex(), 1);
  list.Delete(1);  // the selected line itself
  EXPECT_EQ(list.SelectedIndex(), -1);
  EXPECT_THROW(list.Delete(5), KorvaError);
  list.SetSelectedIndex(7);
  EXPECT_EQ(list.SelectedIndex(), -1);
}

TEST(FormCheckList, EveryVisibleChangeMovesTheRevisionAndNothingElseDoes) {
  CheckList list("ChkLBxLog");
  auto changes = [&, last = list.Revision()]() mutable {
    const bool changed = list.Revision() != last;
    last = list.Revision();
    return changed;
  };
  list.Add("a");
  EXPECT_TRUE(changes());
  list.SetChecked(0, true);
  EXPECT_TRUE(changes());
  list.SetChecked(0, true);
  EXPECT_FALSE(changes());
  list.SetText(0, "a");
  EXPECT_FALSE(changes());
  list.SetText(0, "b");
  EXPECT_TRUE(changes());
  EXPECT_THROW(list.SetChecked(1, true), KorvaError);
  EXPECT_FALSE(changes());
}

TEST(FormRadioGroup, ANewIndexRunsTheHandlerOnce) {
  RadioGroup group("RdGrpMetodoFTP", " Método FTP ", {"Ativo", "Passivo"}, -1);
  int clicks = 0;
  group.onClick = [&] { ++clicks; };
  group.SetItemIndex(1);
  group.SetItemIndex(1);
  EXPECT_EQ(clicks, 1);
  group.SetItemIndex(7);  // out of range: nothing selected
  EXPECT_EQ(group.ItemIndex(), -1);
  EXPECT_EQ(clicks, 2);
}

TEST(FormModel, TitleAndInitialStatesAsDesigned) {
  FormModel form;
  EXPECT_EQ(FormModel::ComposeMainTitle("3.17.2.118"),
            "           KORVA - Atualização de Sistemas / Banco de Dados -  Versão: 3.17.2.118");
  EXPECT_EQ(form.ActivePage(), &form.TbShtInicio);
  EXPECT_TRUE(form.InternetMode());
  EXPECT_FALSE(form.AtualizacaoLocal.Checked());
  EXPECT_EQ(form.RGBackup.ItemIndex(), 1);
  EXPECT_EQ(form.RdGrpModotAtualizacao.ItemIndex(), 1);
  EXPECT_EQ(form.StTxtNumUsers.Text(), "0");
  // The hot areas take clicks: they are present, they only draw nothing.
  EXPECT_TRUE(form.LblTipoTeste.Visible());
  EXPECT_TRUE(form.LblTipoTeste.Text().empty());
  // Every control is found by its name, once.
  for (Control* control : form.AllControls()) {
    EXPECT_EQ(form.Find(control->Name()), control) << control->Name();
  }
  EXPECT_EQ(form.Find("NoSuchControl"), nullptr);
}

TEST(FormModel, ARadioItemCheckedUnchecksTheOtherItemsOfItsMenu) {
  FormModel form;
  form.PpMnTesteVESTRAMON.SetChecked(form.AtualizacaoLocal, true);
  EXPECT_FALSE(form.InternetMode());
  form.PpMnTesteVESTRAMON.SetChecked(form.AtualizarPelaInternet, true);
  EXPECT_FALSE(form.AtualizacaoLocal.Checked());
  EXPECT_TRUE(form.InternetMode());
}

}  // namespace
}  // namespace korva::form
