// The numbers the session takes from replies and puts into commands: strict
// ranges, never a wrap.
#include <gtest/gtest.h>

#include "transfer/ftp_session.h"

namespace korva::transfer {
namespace {

std::string PasvError(const std::string& line) {
  try {
    const PassiveAddress a = ParsePassiveReply(line);
    return "accepted " + a.address + ":" + std::to_string(a.port);
  } catch (const KorvaError& e) {
    return e.what();
  }
}

TEST(FtpReplies, PassiveAddressFromTheFirstLine) {
  const struct {
    const char* line;
    const char* address;
    std::uint16_t port;
  } cases[] = {
      {"Entering Passive Mode (10,0,0,7,19,137)", "10.0.0.7", 5001},
      {"Entering Passive Mode (10,0,0,7,19,137).", "10.0.0.7", 5001},
      {"  Entering Passive Mode (127,0,0,1,255,255)  ", "127.0.0.1", 65535},
      // Without parentheses: the text after the last blank.
      {"Entering Passive Mode 192,168,0,5,0,21", "192.168.0.5", 21},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const PassiveAddress a = ParsePassiveReply(c.line);
    EXPECT_EQ(a.address, c.address);
    EXPECT_EQ(a.port, c.port);
  }
}

TEST(FtpReplies, PassiveAddressOutOfRangeOrMalformedIsAnError) {
  for (const char* line : {
           "Entering Passive Mode (127,0,0,1,300,1)",   // above 255: no wrap to 44
           "Entering Passive Mode (127,0,0,256,4,1)",   // in the address too
           "Entering Passive Mode (127,0,0,1,4)",       // five numbers
           "Entering Passive Mode (127,0,0,1,4,1,9)",   // seven
           "Entering Passive Mode (127,0,0,-1,4,1)",    // a sign
           "Entering Passive Mode (127,0,0,1,4,0001)",  // four digits
           "Entering Passive Mode (127,0,0,1,,1)",      // empty field
           "Entering Passive Mode )127,0,0,1,4,1(",     // wrong order
           "Entering Passive Mode (127, 0,0,1,4,1)",    // a blank inside
           "",
       }) {
    SCOPED_TRACE(line);
    const std::string error = PasvError(line);
    EXPECT_EQ(error.rfind("Invalid reply to PASV: ", 0), 0u) << error;
  }
  // A hostile line is quoted short and without control characters.
  const std::string error = PasvError(std::string(5000, 'z') + "\x01(1,2,3,4,5,6");
  EXPECT_LE(error.size(), 160u);
}

TEST(FtpReplies, PortCommandCarriesAddressAndPortBytes) {
  EXPECT_EQ(FormatPortCommand("192.168.0.5", 5001), "PORT 192,168,0,5,19,137");
  EXPECT_EQ(FormatPortCommand("127.0.0.1", 65535), "PORT 127,0,0,1,255,255");
  EXPECT_EQ(FormatPortCommand("10.0.0.7", 255), "PORT 10,0,0,7,0,255");
}

TEST(FtpReplies, SizeIsTheNumberAfterTheFirstBlank) {
  const auto size = [](int code, std::vector<std::string> lines) {
    return ParseSizeReply(FtpReply{code, std::move(lines)});
  };
  EXPECT_EQ(size(213, {"12345"}), 12345);
  EXPECT_EQ(size(213, {" 12345\r"}), 12345);
  EXPECT_EQ(size(213, {"bytes 12345"}), 12345);
  EXPECT_EQ(size(213, {"0"}), 0);
  EXPECT_EQ(size(213, {"2147483647"}), 2147483647);
  EXPECT_EQ(size(213, {"2147483648"}), -1);  // beyond 32 bits
  EXPECT_EQ(size(213, {"abc"}), -1);
  EXPECT_EQ(size(213, {"12a"}), -1);
  EXPECT_EQ(size(213, {"-5"}), -1);
  EXPECT_EQ(size(213, {""}), -1);
  EXPECT_EQ(size(213, {"File size", "77"}), -1);  // joined: "size\r\n77"
  EXPECT_EQ(size(550, {"12345"}), -1);
}

TEST(FtpReplies, TextJoinsLinesWithCrLf) {
  EXPECT_EQ((FtpReply{550, {"No such", "file."}}).Text(), "No such\r\nfile.");
  EXPECT_EQ((FtpReply{550, {}}).Text(), "");
}

}  // namespace
}  // namespace korva::transfer
