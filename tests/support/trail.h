#pragma once
// What a database tells about the transactions the updater committed: the
// test's statement groups and every change of VERSAOBD add a line to a table
// TRILHA, each with its transaction, so the table shows what ran together
// and in which order.
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korva::testing {

// Creates TRILHA and the trigger on VERSAOBD that adds "VERSAO <version>".
// A change of moduleColumn (when one is named) adds "MODULO <value>" instead.
void CreateTrail(const std::string& database, const std::string& moduleColumn = "");

// The statement of a group that leaves `what` in the trail.
std::string Trace(const std::string& what);

// The lines of TRILHA in order: transaction and what.
std::vector<std::pair<std::string, std::string>> TrailLines(const std::string& database);

struct Trail {
  std::map<std::string, std::vector<std::string>> byTransaction;
  std::vector<std::string> groups;  // "3.16.52/1", in commit order
};
// The groups' and the version's lines; a module's records are on their own
// and left out.
Trail ReadTrail(const std::string& database);

}  // namespace korva::testing
