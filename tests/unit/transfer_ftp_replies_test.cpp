// The replies as the control connection delivers them, in pieces of any size
// and within their limits, and the numbers the session takes from replies and
// puts into commands: strict ranges, never a wrap.
#include <gtest/gtest.h>

#include "support/error_text.h"
#include "transfer/ftp_reply.h"

namespace korva::transfer {
namespace {

using testing::ErrorOf;

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

// The reader on the bytes of a control connection, fed in pieces of every
// size: the replies it gives, "|"-separated as code and lines, then the
// error that ended the reading, if any.
std::string ReadAll(const std::string& bytes, bool final) {
  std::string seen;
  for (std::size_t piece = 1; piece <= bytes.size() + 1; ++piece) {
    FtpReplyReader reader;
    std::string out;
    try {
      for (std::size_t at = 0; at < bytes.size(); at += piece) {
        reader.Feed(std::string_view(bytes).substr(at, piece));
        while (auto reply = final ? reader.TakeFinal() : reader.Take()) {
          out += std::to_string(reply->code) + ":" + reply->Text() + "|";
        }
      }
    } catch (const KorvaError& e) {
      out += e.what();
    }
    if (piece > 1) {
      EXPECT_EQ(out, seen) << "pieces of " << piece;
    }
    seen = out;
  }
  return seen;
}

TEST(FtpReplyReader, LinesMakeRepliesWhateverPiecesTheyComeIn) {
  const struct {
    const char* bytes;
    const char* replies;
  } cases[] = {
      {"220 Hello\r\n331 Password.\n", "220:Hello|331:Password.|"},
      {"230-Logged in.\r\n230-\r\n 230 still inside\r\n230 Done.\r\n",
       // Every line loses its first four characters, whatever they are.
       "230:Logged in.\r\n\r\n still inside\r\nDone.|"},
      // A multi-line reply ends only with its own code and a blank.
      {"550-No\r\n551 other\r\n550-still\r\n550\r\n", "550:No\r\nother\r\nstill\r\n|"},
      {"200\r\n", "200:|"},
      {"220 Hello\r\n220 wor", "220:Hello|"},
      {"220 Hello\r\nhello there\r\n", "220:Hello|Invalid reply from the FTP server: hello there"},
      {"22 short\r\n", "Invalid reply from the FTP server: 22 short"},
      {"220x\r\n", "Invalid reply from the FTP server: 220x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ReadAll(c.bytes, false), c.replies);
  }
  EXPECT_EQ(ReadAll("150 Opening.\r\n125 Again.\r\n226 Done.\r\n", true), "226:Done.|");
}

TEST(FtpReplyReader, NoReplyGrowsPastTheLimit) {
  const std::string tooLong = "The FTP server's reply is longer than 65536 bytes.";
  FtpReplyReader reader;
  // A line that never ends fails as soon as it is too long.
  reader.Feed("220 " + std::string(FtpReplyReader::kMaxReplyBytes, 'x'));
  EXPECT_EQ(ErrorOf([&] { reader.Take(); }), tooLong);

  std::string lines = "220-";
  while (lines.size() <= FtpReplyReader::kMaxReplyBytes) lines += "220-more\r\n";
  reader.Clear();
  reader.Feed(lines);
  EXPECT_EQ(ErrorOf([&] { reader.Take(); }), tooLong);

  // Preliminary replies count together towards the final one's limit, each
  // of them whole and short.
  std::string preliminary;
  while (preliminary.size() <= FtpReplyReader::kMaxReplyBytes) preliminary += "150 Opening.\r\n";
  reader.Clear();
  reader.Feed(preliminary);
  EXPECT_TRUE(reader.Take());
  reader.Clear();
  reader.Feed(preliminary + "226 Done.\r\n");
  EXPECT_EQ(ErrorOf([&] { reader.TakeFinal(); }), tooLong);
}

}  // namespace
}  // namespace korva::transfer
