#include "dbupdate/protected_mode.h"

#include <functional>

#include "dbupdate/write_protocol.h"

namespace korva::dbupdate {

namespace {

constexpr const char* kFlagColumn = "EM_ATUALIZACAO";

void ShowModeMessage(Shell& shell, bool on) {
  shell.ShowMessage(Message{
      "KORVA Update",
      on ? "Modo de Atualização Protegido: Ativado." : "Modo de Atualização Protegido: Desativado.",
      MsgIcon::Information, kOk});
}

// Keeps the selector's handler away while the stored state is put on screen.
class DetachedHandler {
 public:
  explicit DetachedHandler(form::RadioGroup& group)
      : group_(group), saved_(std::move(group.onClick)) {
    group_.onClick = nullptr;
  }
  ~DetachedHandler() { group_.onClick = std::move(saved_); }
  DetachedHandler(const DetachedHandler&) = delete;
  DetachedHandler& operator=(const DetachedHandler&) = delete;

 private:
  form::RadioGroup& group_;
  std::function<void()> saved_;
};

}  // namespace

void DefineModoAtualizacao(const ProtectedModeContext& context, std::string_view mode) {
  if (!context.users.IsOpen()) context.users.Open();
  if (!context.usersRow.IsOpen()) context.usersRow.Open();

  if (mode == "R") {
    DetachedHandler detached(context.selector);
    if (context.usersRow.Value(kFlagColumn) == "S") {
      context.selector.SetItemIndex(kProtectedModeOn);
      ShowModeMessage(context.shell, true);
    } else {
      context.selector.SetItemIndex(kProtectedModeOff);
    }
    return;
  }

  if (context.usersRow.Value(kFlagColumn) == mode) return;
  context.usersRow.SetValue(kFlagColumn, std::string(mode));
  try {
    BeginWrite(context.users, context.transactions);
    GravaVersao(context.usersRow, kFlagColumn, mode);
    context.users.Commit(CurrentTransaction(context.transactions));
    ShowModeMessage(context.shell, mode == "S");
  } catch (const std::exception&) {
    context.shell.ShowMessage(
        Message{"", "Erro ao ativar/desativar Modo de Atualização Protegido.", MsgIcon::None, kOk});
    RollbackQuietly(context.users, context.transactions);
  }
}

bool AbreVersaoBancoUsuario(VersionRow& usersRow) {
  try {
    usersRow.Open();
    return usersRow.IsOpen();
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace korva::dbupdate
