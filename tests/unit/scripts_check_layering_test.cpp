// scripts/check-layering over small source trees of its own: each include
// against the table of who may use whom is named with its file and line, the
// allowed ones pass, and so does this very tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/site_builder.h"
#include "support/source_tree.h"

namespace korva {
namespace {

// The libraries as src/CMakeLists.txt lays them out, in the same words.
const std::string kLibraries =
    "korva_subsystem(text DIRS text)\n"
    "korva_subsystem(platform DIRS platform platform/posix DEPS korva_text ${CMAKE_DL_LIBS})\n"
    "set(korva_base korva_text korva_platform)\n"
    "korva_subsystem(transfer DIRS transfer DEPS ${korva_base})\n"
    "korva_subsystem(records DIRS records DEPS korva_transfer\n"
    "                ${korva_base})\n";

// The layering check over the tree.
struct Tree : testing::SourceTree {
  std::pair<int, std::string> Check() const { return Run("check-layering"); }
};

// A tree with the libraries and one source holding the include as line 2.
std::pair<int, std::string> CheckInclude(const std::string& file, const std::string& include) {
  Tree tree;
  tree.Put("src/CMakeLists.txt", kLibraries);
  tree.Put("src/transfer/ftp_replies.h", "#pragma once\n");
  tree.Put("src/" + file, "// a source\n#include " + include + "\nint x;\n");
  return tree.Check();
}

TEST(CheckLayering, EachIncludeAgainstTheTableIsNamed) {
  struct Fault {
    std::string file, include, why;
  };
  for (const Fault& c : std::vector<Fault>{
           {"transfer/ftp_session.cpp", "\"app/principal.h\"", "transfer may not use app"},
           {"installer/zip/zip_reader.cpp", "\"app/session_state.h\"", "installer may not use app"},
           {"settings/settings_file.cpp", "\"transfer/ftp_session.h\"",
            "settings may not use transfer"},
           {"dbupdate/version_row.cpp", "\"catalogue/catalogue_check.h\"",
            "dbupdate may not use catalogue"},
           {"records/update_log.cpp", "\"dbupdate/version_row.h\"", "records may not use dbupdate"},
           {"form/form_model.h", "\"versions/version_rules.h\"", "form may not use versions"},
           {"db/connection.cpp", "\"settings/profile_file.h\"", "db may not use settings"},
           {"platform/posix/files.cpp", "\"form/shell.h\"", "platform may not use form"},
           {"text/cp1252.cpp", "\"platform/files.h\"", "text may not use platform"},
           {"app/principal.cpp", "\"app/qt/qt_shell.h\"", "app may not use app/qt"},
           {"app/principal.cpp", "<QString>", "a Qt header outside src/app/qt"},
           {"form/shell.h", "<QtWidgets/QWidget>", "a Qt header outside src/app/qt"},
       }) {
    SCOPED_TRACE(c.file + " " + c.include);
    const auto [status, output] = CheckInclude(c.file, c.include);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(output, "src/" + c.file + ":2: #include " + c.include + ": " + c.why +
                          "\ncheck-layering: 1 against the table of who may use whom\n");
  }
}

TEST(CheckLayering, IncludesTheTableAllowsPass) {
  const std::vector<std::pair<std::string, std::string>> allowed = {
      {"app/principal.cpp", "\"installer/module_install.h\""},
      {"app/qt/main_window.cpp", "\"app/principal.h\""},
      {"app/qt/main_window.cpp", "<QWidget>"},
      {"installer/zip/zip_reader.cpp", "\"catalogue/module_registry.h\""},
      {"catalogue/catalogue_check.cpp", "\"dbupdate/version_row.h\""},
      {"dbupdate/script_engine.cpp", "\"db/connection.h\""},
      {"records/update_log.cpp", "\"transfer/ftp_session.h\""},
      {"transfer/ftp_session.cpp", "\"vendor/vendor_library.h\""},
      {"trust/signature.cpp", "\"platform/files.h\""},
      {"platform/files.cpp", "\"text/cp1252.h\""},
      // Beside the including file (the vendor library's interface beside its bridge).
      {"transfer/ftp_session.cpp", "\"ftp_replies.h\""},
      {"vendor/vendor_library.cpp", "\"korvalib.h\""},
      {"text/cp1252.cpp", "<queue>"},
  };
  for (const auto& [file, include] : allowed) {
    SCOPED_TRACE(file + " " + include);
    EXPECT_EQ(CheckInclude(file, include), std::make_pair(0, std::string()));
  }
}

TEST(CheckLayering, SourcesOutsideEveryLibraryAreNamed) {
  Tree tree;
  tree.Put("src/CMakeLists.txt", kLibraries);
  tree.Put("src/main.cpp", "int main() {}\n");
  tree.Put("src/helpers/strings.cpp", "#include \"transfer/ftp_replies.h\"\n");
  const auto [status, output] = tree.Check();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(output,
            "src/helpers/strings.cpp:1: lies in no library's folder\n"
            "src/main.cpp:1: lies in no library's folder\n"
            "check-layering: 2 against the table of who may use whom\n");
}

TEST(CheckLayering, LibraryDependenciesFollowTheTableWithoutCycles) {
  Tree tree;
  tree.Put("src/CMakeLists.txt",
           kLibraries + "korva_subsystem(settings DIRS settings transfer DEPS korva_records)\n" +
               "korva_subsystem(form DIRS form DEPS korva_form_extra korva_platform)\n");
  auto [status, output] = tree.Check();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(output,
            "src/CMakeLists.txt:7: korva_settings: takes the sources of src/transfer\n"
            "src/CMakeLists.txt:7: korva_settings: settings may not use records\n"
            "src/CMakeLists.txt:8: korva_form: form may not use form_extra\n"
            "check-layering: 3 against the table of who may use whom\n");

  // A cycle is named along its path, besides the step that breaks the table.
  tree.Put("src/CMakeLists.txt",
           kLibraries + "korva_subsystem(text DIRS text DEPS korva_platform)\n");
  std::tie(status, output) = tree.Check();
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("korva_text: text may not use platform\n"), std::string::npos) << output;
  EXPECT_NE(output.find("the libraries form a cycle: korva_platform -> korva_text -> "
                        "korva_platform\n"),
            std::string::npos)
      << output;
}

TEST(CheckLayering, ThisTreeFollowsTheTable) {
  std::string output;
  EXPECT_EQ(
      testing::RunCommand(
          {std::string(KORVA_SOURCE_DIR) + "/scripts/check-layering", KORVA_SOURCE_DIR}, output),
      0);
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace korva
