// The FTP reply reader on arbitrary bytes: input is one byte that sets the
// size of the pieces the bytes arrive in, then what the server sent. Pieces
// must not change what is read: the replies, and the error that ends them,
// are those of the same bytes fed at once. Every reply keeps to the limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/ftp_reply.h"

namespace {

using korva::transfer::FtpReply;
using korva::transfer::FtpReplyReader;

struct Reading {
  std::vector<FtpReply> replies;
  std::string error;
};

void Check(const FtpReply& reply, const FtpReplyReader& reader, bool final) {
  if (reply.code < 0 || reply.code > 999 || reply.lines.empty()) std::abort();
  if (reader.LastReplyBytes() > FtpReplyReader::kMaxReplyBytes) std::abort();
  if (final && korva::transfer::IsPreliminary(reply.code)) std::abort();
  for (const std::string& line : reply.lines) {
    if (line.find('\n') != std::string::npos) std::abort();
  }
}

Reading Read(std::string_view bytes, std::size_t piece, bool final) {
  FtpReplyReader reader;
  Reading reading;
  try {
    while (!bytes.empty()) {
      reader.Feed(bytes.substr(0, piece));
      bytes.remove_prefix(std::min(piece, bytes.size()));
      for (auto reply = final ? reader.TakeFinal() : reader.Take(); reply;
           reply = final ? reader.TakeFinal() : reader.Take()) {
        Check(*reply, reader, final);
        reading.replies.push_back(std::move(*reply));
      }
    }
  } catch (const korva::KorvaError& e) {
    reading.error = e.what();
  }
  return reading;
}

bool Same(const Reading& a, const Reading& b) {
  if (a.error != b.error || a.replies.size() != b.replies.size()) return false;
  for (std::size_t i = 0; i < a.replies.size(); ++i) {
    if (a.replies[i].code != b.replies[i].code || a.replies[i].lines != b.replies[i].lines) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = data[0] % 64 + 1;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (const bool final : {false, true}) {
    if (!Same(Read(bytes, bytes.size() + 1, final), Read(bytes, piece, final))) std::abort();
  }
  return 0;
}
