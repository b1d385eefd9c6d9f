// The pieces of the attachment count that need no server: the walk of an
// isc_info_user_names response, the parameter buffer items and the wording
// of a status vector.
// Runs on Linux only: the Firebird client's headers and library, which the Windows build has not.
#include <gtest/gtest.h>
#include <ibase.h>

#include <string>
#include <vector>

#include "db/attachment_count.h"
#include "support/error_text.h"
#include "text/error.h"

namespace korva {
namespace {

// One entry as the server writes it: the tag, the data length in two bytes
// (low first), then the data (a length byte and the user name).
std::string Entry(const std::string& user) {
  const std::size_t length = 1 + user.size();
  return std::string{isc_info_user_names, static_cast<char>(length & 0xFF),
                     static_cast<char>(length >> 8), static_cast<char>(user.size() & 0xFF)} +
         user;
}

TEST(UserNameResponse, CountsTheEntriesUpToTheFirstMark) {
  const std::string korva = Entry("KORVA");
  const std::string end(1, isc_info_end), truncated(1, isc_info_truncated),
      error(1, isc_info_error);
  const struct {
    std::string written;
    int entries;
  } cases[] = {
      {korva + korva + end, 2},
      {end, 0},
      {korva + korva + korva + truncated + korva + end, 3},
      {korva + error + korva + end, 1},
      // Only a length read in both bytes lands on the next entry.
      {Entry(std::string(300, 'U')) + korva + end, 2},
      {std::string{isc_info_user_names, '\xff', '\xff'} + end, 1},
  };
  for (const auto& c : cases) {
    std::vector<char> response(1024, 0);  // zero after what the server wrote
    std::copy(c.written.begin(), c.written.end(), response.begin());
    EXPECT_EQ(db::CountUserNameEntries(response), c.entries) << c.written.size();
  }
}

TEST(ParameterBufferItem, AValueThatDoesNotFitIsRefusedAndNothingWritten) {
  db::ParameterBuffer buffer{};
  std::size_t position = 1;
  EXPECT_THROW(db::AdicionaItemDpb(buffer, position, isc_dpb_password, std::string(256, 'p')),
               KorvaError);
  position = 1020;
  EXPECT_THROW(db::AdicionaItemDpb(buffer, position, isc_dpb_password, "abc"), KorvaError);
  EXPECT_EQ(position, 1020u);
  EXPECT_EQ(buffer, db::ParameterBuffer{});
}

TEST(StatusWording, ARepeatedLineIsKeptOnceAndLinesAreJoinedWithCrLf) {
  // Status vectors of ready-made lines, as the client keeps interpreted text.
  const auto wording = [](const std::vector<const char*>& lines) {
    std::vector<std::intptr_t> vector;
    for (const char* line : lines) {
      vector.push_back(isc_arg_interpreted);
      vector.push_back(reinterpret_cast<std::intptr_t>(line));
    }
    vector.push_back(isc_arg_end);
    return testing::ErrorOf([&] { db::LevantaErroIsc(vector.data()); });
  };
  EXPECT_EQ(wording({"I/O error", "I/O error", "No such file"}), "I/O error\r\nNo such file");
  EXPECT_EQ(wording({"A", "B", "A"}), "A\r\nB\r\nA");
}

}  // namespace
}  // namespace korva
