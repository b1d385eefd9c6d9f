#pragma once
// What the FTP server says, apart from the connection it says it on: the
// replies as the control connection delivers them, cut into lines and joined
// into whole replies, and the few numbers the session takes from them. The
// reader is fed bytes and needs no socket, so that a hostile server's bytes
// can be tried on it alone.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/error.h"

namespace korva::transfer {

struct FtpReply {
  int code = 0;
  // Each reply line without its first four characters.
  std::vector<std::string> lines;
  // The lines joined with CR LF: the message of a refused command.
  std::string Text() const;
};

// The server answered with a code the command does not accept. The dialogue
// is still in step; the session stays open.
class FtpReplyError : public KorvaError {
 public:
  explicit FtpReplyError(const FtpReply& reply) : KorvaError(reply.Text()), reply_(reply) {}
  const FtpReply& Reply() const { return reply_; }

 private:
  FtpReply reply_;
};

// 1xx: the server will say more about the same command.
bool IsPreliminary(int code);
// Whether a reply code is among the accepted ones; an empty list accepts any.
bool Accepts(std::initializer_list<int> accepted, int code);
// A reply line quoted in a message: bounded and without control characters.
std::string QuoteLine(std::string_view line);

// Cuts the control connection's bytes into replies. A line that starts no
// reply, or a reply longer than kMaxReplyBytes on the wire, is an error
// (KorvaError): the dialogue is out of step then, and the reader holds
// nothing usable until it is cleared.
class FtpReplyReader {
 public:
  static constexpr std::size_t kMaxReplyBytes = std::size_t{64} * 1024;

  void Feed(std::string_view bytes);
  // The next whole reply; none until more bytes come.
  std::optional<FtpReply> Take();
  // The next reply that is not preliminary. The preliminary ones before it
  // count towards one reply's size, so that a server cannot keep the session
  // reading them for ever.
  std::optional<FtpReply> TakeFinal();
  // The size on the wire of the reply taken last.
  std::size_t LastReplyBytes() const { return replyBytes_; }
  // Bytes fed and not yet taken as whole lines.
  bool HasUnread() const { return inbox_.size() > taken_; }
  void Clear();

 private:
  // The next whole line without its end, or none.
  std::optional<std::string> TakeLine();
  // Adds a line to the reply being read; true once that reply is complete.
  bool AddLine(const std::string& line);

  std::string inbox_;  // bytes fed, the first taken_ of them taken as lines
  std::size_t taken_ = 0;
  std::size_t inboxSearched_ = 0;  // where in inbox_ a line end may be
  FtpReply partial_;               // the reply whose lines are being taken
  std::size_t partialBytes_ = 0;
  std::size_t replyBytes_ = 0;
  std::size_t preliminaryBytes_ = 0;
};

// Reads the six numbers of a 227 reply's first line: "h1,h2,h3,h4,p1,p2"
// between the first "(" and ")", or after the last blank. Each must be a
// decimal number from 0 to 255; anything else is an error. The address is
// what the server announced: the session only checks its form and connects
// to its control connection's peer, so that a server cannot send the data
// connection to a third host.
struct PassiveAddress {
  std::string address;
  std::uint16_t port = 0;
};
PassiveAddress ParsePassiveReply(std::string_view firstLine);
// "PORT 192,168,0,5,19,137" for 192.168.0.5 and port 5001.
std::string FormatPortCommand(const std::string& address, std::uint16_t port);
// The number of a 213 reply's text, or -1.
std::int32_t ParseSizeReply(const FtpReply& reply);

}  // namespace korva::transfer
