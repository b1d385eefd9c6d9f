#pragma once
// A Shell that shows nothing and answers every box with OK, for programs that
// run the logic without a window and without a test's eye on it (benchmarks,
// fuzz targets). Header only: the fuzz build has no test support library.
#include <optional>
#include <string>

#include "form/shell.h"

namespace korva::testing {

class NullShell : public Shell {
 public:
  MsgButton ShowMessage(const Message&) override { return kOk; }
  void Repaint() override {}
  void ProcessPendingInput() override {}
  void SetBusyCursor(bool) override {}
  void SetApplicationTitle(const std::string& title) override { title_ = title; }
  std::string ApplicationTitle() const override { return title_; }
  void CloseMainWindow() override {}
  void EndProgram() override {}
  void OpenWebAddress(const std::string&) override {}
  std::optional<std::string> AskSaveFileName(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  PrintOutcome PrintReport(const form::Report&) override { return PrintOutcome::kCancelled; }

 private:
  std::string title_;
};

}  // namespace korva::testing
