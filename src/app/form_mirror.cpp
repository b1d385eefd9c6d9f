#include "app/form_mirror.h"

#include <exception>

namespace korva {

FormMirror::FormMirror(form::FormModel& form, Principal& principal)
    : form_(form), principal_(principal) {}

void FormMirror::AddView(form::Control* control, std::function<void()> apply) {
  views_.push_back(View{control, ~std::uint64_t{0}, std::move(apply)});
}

void FormMirror::Start(const std::function<void()>& attach) {
  BindHandlers();
  attach();
  Mirror();
}

void FormMirror::BindHandlers() {
  // Which control's click runs which handler: the controls are the model's
  // own members, so a misspelt name does not compile.
  using Handler = void (Principal::*)();
  form::FormModel& f = form_;
  const std::pair<form::Control*, Handler> clicks[] = {
      {&f.BtBtnFechar, &Principal::BtBtnFecharClick},
      {&f.FltBtnConfig, &Principal::BtBtnConfigClick},
      {&f.BitBtn1, &Principal::BitBtn1Click},
      {&f.LblSite, &Principal::LblSiteClick},
      {&f.Label6, &Principal::LblSiteClick},
      {&f.Label8, &Principal::Label8Click},
      {&f.BtBtnGravaConfig, &Principal::BtBtnGravaConfigClick},
      {&f.BtBtnNovasAtualizacoes, &Principal::BtBtnNovasAtualizacoesClick},
      {&f.BtBtnGravar, &Principal::BtBtnGravarClick},
      {&f.BtBtImpimirAtualizacao, &Principal::BtBtImpimirAtualizacaoClick},
      {&f.BtbtnIniciarAtualizacao, &Principal::BtbtnIniciarAtualizacaoClick},
      {&f.BtBtnContinuar, &Principal::BtBtnContinuarClick},
      {&f.BitBtn2, &Principal::BitBtn2Click},
      {&f.GerarScript1, &Principal::GerarScript1Click},
  };
  Principal& p = principal_;
  for (const auto& click : clicks) {
    // A structured binding cannot be captured by every compiler we build with.
    const auto handler = click.second;
    BindClick(*click.first, [&p, handler] { (p.*handler)(); });
  }
  // Both items of the test menu share one handler, told which was clicked.
  for (form::MenuItem* item : {&f.AtualizacaoLocal, &f.AtualizarPelaInternet})
    BindClick(*item, [&p, item] { p.AtualizacaoLocalClick(*item); });
}

void FormMirror::BindClick(form::Control& control, std::function<void()> handler) {
  clicks_[&control] = std::move(handler);
}

void FormMirror::Click(form::Control& control) {
  // "&Abortar" must reach a running transfer: it only sets two flags, so it
  // runs beside the operation instead of being turned away as a second click.
  if (&control == &form_.BtBtnAbortar) {
    principal_.BtBtnAbortarClick();
    return;
  }
  auto found = clicks_.find(&control);
  if (found == clicks_.end()) return;
  RunClick(&control, found->second);
}

void FormMirror::Choose(form::Control& control, std::function<void()> choice) {
  if (!choice) {
    auto found = clicks_.find(&control);
    if (found != clicks_.end()) choice = found->second;
  }
  RunClick(&control, choice);
}

void FormMirror::Changed(form::Control& control) {
  if (View* view = ViewOf(&control)) view->seen = control.Revision();
}

void FormMirror::RunClick(form::Control* clicked, const std::function<void()>& handler) {
  if (handler) principal_.Dispatch(handler);
  Mirror();
  if (View* view = ViewOf(clicked)) Apply(*view);
}

FormMirror::View* FormMirror::ViewOf(const form::Control* control) {
  for (View& view : views_) {
    if (view.control == control) return &view;
  }
  return nullptr;
}

void FormMirror::Apply(View& view) {
  view.seen = view.control->Revision();
  view.apply();
}

void FormMirror::Mirror() {
  for (View& view : views_) {
    if (view.control->Revision() != view.seen) Apply(view);
  }
  if (form_.CaptionRevision() != captionSeen_) {
    captionSeen_ = form_.CaptionRevision();
    ShowCaption(form_.Caption());
  }
  if (form_.ActivePageRevision() != pageSeen_ && form_.ActivePage()) {
    pageSeen_ = form_.ActivePageRevision();
    ShowPage(*form_.ActivePage());
  }
}

void FormMirror::Shown() {
  if (shownOnce_) return;
  shownOnce_ = true;
  principal_.Dispatch([this] { principal_.FormShow(); });
  Mirror();
}

void FormMirror::Activated() {
  if (!shownOnce_) return;
  try {
    principal_.FormActivate();
  } catch (const std::exception& e) {
    principal_.ShowError(e.what());
  }
}

bool FormMirror::CloseAllowed() {
  if (principal_.OperationRunning()) {
    // Closed when the operation returns.
    principal_.RequestClose();
    return false;
  }
  if (!closed_) {
    closed_ = true;
    try {
      principal_.FormClose();
    } catch (const std::exception& e) {
      principal_.ShowError(e.what());
    }
  }
  return true;
}

}  // namespace korva
