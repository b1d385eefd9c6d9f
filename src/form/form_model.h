#pragma once
// The main window TFrmKorvaUpdate as plain objects: one member per named
// control, named as the control, each declared once by its line of the
// window's design (form/window_design.def). Built in its initial state
// (texts, hidden and disabled controls, selected items); the handlers change
// it as they run.
#include <string>
#include <vector>

#include "form/controls.h"

namespace korva::form {

class FormModel {
 public:
  FormModel();
  FormModel(const FormModel&) = delete;
  FormModel& operator=(const FormModel&) = delete;

  // Window: fixed client area 655 x 469, title set by the start-up sequence.
  static constexpr int kClientWidth = 655;
  static constexpr int kClientHeight = 469;
  // The title as designed; the start-up adds the build (ComposeMainTitle).
  static constexpr const char* kDesignTitle =
      "           KORVA - Atualização de Sistemas / Banco de Dados";
  // The design title, " -  Versão: " and the build: the window's title, and
  // what a second copy looks for.
  static std::string ComposeMainTitle(const std::string& build) {
    return std::string(kDesignTitle) + " -  Versão: " + build;
  }
  // The application's title (task bar) while no transfer shows a percentage.
  static constexpr const char* kApplicationTitle = "KORVA Update";
  std::string Caption() const { return caption_; }
  void SetCaption(std::string caption) {
    caption_ = std::move(caption);
    ++captionRevision_;
  }
  std::uint64_t CaptionRevision() const { return captionRevision_; }

  // One member per control, named and typed by its line of the design.
#define CONTROL(KIND, NAME, ...) ControlOf<Kind::KIND> NAME;
#include "form/window_design.def"
#undef CONTROL

  // The page shown by PgCtrlPrincipal.
  TextControl* ActivePage() const {
    return activePage_;
  }
  void ShowPage(TextControl& page);
  std::uint64_t ActivePageRevision() const {
    return activePageRevision_;
  }
  // The pages, in page order.
  std::vector<TextControl*> Pages();
  std::vector<const TextControl*> Pages() const;

  // Internet mode is in force exactly while AtualizarPelaInternet is checked.
  bool InternetMode() const {
    return AtualizarPelaInternet.Checked();
  }

  // Every control in the design's order (a parent before what it holds), for
  // the window that builds and mirrors them and for tests that look one up.
  const std::vector<Control*>& AllControls() const {
    return all_;
  }
  Control* Find(const std::string& name) const;

 private:
  std::vector<Control*> all_;
  std::string caption_;
  std::uint64_t captionRevision_ = 0;
  TextControl* activePage_ = nullptr;
  std::uint64_t activePageRevision_ = 0;
};

}  // namespace korva::form
