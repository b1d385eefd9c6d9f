// scripts/check-format and scripts/check-tidy over small trees of their own:
// a file laid out otherwise than .clang-format says, a function one line
// over the limit and a bugprone construct each fail, named by file and line;
// their mended forms pass.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/source_tree.h"

namespace korva {
namespace {

using testing::SourceTree;

// A function whose body, from the line after its "{" to its "}" as
// clang-tidy counts it, has `lines` lines.
std::string FunctionOf(int lines) {
  std::string body;
  for (int i = 0; i < lines - 2; ++i) body += "  total += " + std::to_string(i) + ";\n";
  return "int Sum(int total) {\n" + body + "  return total;\n}\n";
}

TEST(CheckFormat, AFileLaidOutOtherwiseIsNamedWithItsFirstLine) {
  SourceTree tree;
  tree.CopyFromRepository(".clang-format");
  tree.Put("src/good.cpp", "// good\nint Twice(int x) {\n  return 2 * x;\n}\n");
  tree.Put("tests/bad_test.h", "#pragma once\nint  Twice( int x );\n");
  auto [status, output] = tree.Run("check-format");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(output,
            "tests/bad_test.h:2: not as .clang-format lays it out\n"
            "check-format: 1 files to format (clang-format -i FILE)\n");

  tree.Put("tests/bad_test.h", "#pragma once\nint Twice(int x);\n");
  EXPECT_EQ(tree.Run("check-format"), std::make_pair(0, std::string()));
}

TEST(CheckTidy, EachFindingFailsTheCheckAndItsMendPasses) {
  struct Case {
    std::string what, source, finding;  // finding: "" when the source passes
  };
  const std::vector<Case> cases = {
      {"60 lines", FunctionOf(60), ""},
      {"61 lines", FunctionOf(61),
       "src/a.cpp:1:5: error: function 'Sum' exceeds recommended "
       "size/complexity thresholds [readability-function-size]"},
      {"a widened product",
       "#include <cstddef>\nstd::size_t Bytes(int kib) { return kib * 1024; }\n",
       "src/a.cpp:2:37: error: performing an implicit widening conversion to type 'std::size_t' "
       "(aka 'unsigned long') of a multiplication performed in type 'int' "
       "[bugprone-implicit-widening-of-multiplication-result]"},
  };
  SourceTree tree;
  tree.CopyFromRepository(".clang-tidy");
  tree.Put("CMakeLists.txt",
           "cmake_minimum_required(VERSION 3.20)\nproject(t CXX)\n"
           "set(CMAKE_CXX_STANDARD 20)\nadd_library(a STATIC src/a.cpp)\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tree.Put("src/a.cpp", c.source);
    const auto [status, output] = tree.Run("check-tidy");
    if (c.finding.empty()) {
      EXPECT_EQ(status, 0) << output;
    } else {
      EXPECT_EQ(status, 1);
      EXPECT_NE(output.find(c.finding + "\n"), std::string::npos) << output;
      EXPECT_NE(output.find("check-tidy: 1 findings, 0 files in no compile database"),
                std::string::npos)
          << output;
    }
  }
  // A source that no build compiles escapes no check: it fails.
  tree.Put("src/b.cpp", "int b;\n");
  const auto [status, output] = tree.Run("check-tidy");
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("src/b.cpp: in no compile database\n"), std::string::npos) << output;
}

}  // namespace
}  // namespace korva
