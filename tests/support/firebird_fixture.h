#pragma once
// The real local Firebird server for integration tests: makes sure it runs and
// talks to it through isql, the server's own client, so that what a test
// prepares and checks does not depend on the code under test.
#include <string>

namespace korva::testing {

constexpr const char* kFirebirdUser = "KORVA";
constexpr const char* kFirebirdPassword = "ravelund";

// Starts the server through scripts/services/firebird when nothing listens on
// 127.0.0.1:3050 (once per process); throws when it does not come up.
void EnsureFirebirdServer();

// Runs statements (Windows-1252, ";"-terminated) on a database as KORVA, with
// the connection character set WIN1252, and returns isql's output. Throws
// with isql's output when a statement fails.
std::string Isql(const std::string& database, const std::string& statements);

// One value of a one-row, one-column query, trimmed; "<null>" for a null.
std::string IsqlValue(const std::string& database, const std::string& query);

}  // namespace korva::testing
