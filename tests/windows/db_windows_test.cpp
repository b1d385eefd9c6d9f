// The database on the Windows build: the Firebird client is fbclient.dll,
// loaded when the program first reaches for the database. None is built for
// Windows here, so what can be checked is the failure a site without one
// sees; everything that needs a server runs in the Linux build.
#include <gtest/gtest.h>

#include <string>

#include "db/attachment_count.h"
#include "db/connection.h"
#include "text/error.h"

namespace korva::db {
namespace {

std::string FailureOf(void (*call)()) {
  try {
    call();
  } catch (const KorvaError& e) {
    return e.what();
  }
  return "(no failure)";
}

constexpr const char* kMissingClient =
    "The Firebird client library fbclient.dll cannot be loaded: ";

TEST(WindowsDatabase, AMissingClientLibraryIsADatabaseFailureThatNamesIt) {
  const std::string connect = FailureOf([] {
    Connection connection("KORVA");
    connection.SetParams({"Database=localhost:/db/KORVA.FDB", "User_Name=SYSDBA"});
    connection.Open();
    ADD_FAILURE() << "opened without a client library";
  });
  EXPECT_TRUE(connect.starts_with(kMissingClient)) << connect;
  // Where it looked: beside the executable first.
  EXPECT_NE(connect.find("fbclient.dll"), std::string::npos) << connect;

  const std::string count =
      FailureOf([] { CountAttachments("localhost:/db/KORVA.FDB", "SYSDBA", "masterkey"); });
  EXPECT_TRUE(count.starts_with(kMissingClient)) << count;
}

}  // namespace
}  // namespace korva::db
