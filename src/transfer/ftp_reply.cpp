#include "transfer/ftp_reply.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <utility>

#include "text/strings.h"

namespace korva::transfer {
namespace {

[[noreturn]] void ThrowTooLong() {
  throw KorvaError("The FTP server's reply is longer than " +
                   std::to_string(FtpReplyReader::kMaxReplyBytes) + " bytes.");
}

// Three digits, then the end of the line, a blank or a hyphen.
bool StartsReply(const std::string& line) {
  return line.size() >= 3 &&
         std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }) &&
         (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

// A multi-line reply ends with a line that starts with its code and a blank.
bool EndsReply(const std::string& line, int code) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%03d", code);
  return line.compare(0, 3, digits) == 0 && (line.size() == 3 || line[3] == ' ');
}

}  // namespace

std::string FtpReply::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

bool IsPreliminary(int code) {
  return code >= 100 && code < 200;
}

bool Accepts(std::initializer_list<int> accepted, int code) {
  return accepted.size() == 0 ||
         std::find(accepted.begin(), accepted.end(), code) != accepted.end();
}

std::string QuoteLine(std::string_view line) {
  std::string out;
  for (char c : line.substr(0, 120)) out += static_cast<unsigned char>(c) < ' ' ? '?' : c;
  if (line.size() > 120) out += "...";
  return out;
}

// --- the reader ---

std::optional<FtpReply> FtpReplyReader::Take() {
  while (const std::optional<std::string> line = TakeLine()) {
    if (!AddLine(*line)) continue;
    replyBytes_ = std::exchange(partialBytes_, 0);
    return std::exchange(partial_, FtpReply{});
  }
  return std::nullopt;
}

std::optional<FtpReply> FtpReplyReader::TakeFinal() {
  while (std::optional<FtpReply> reply = Take()) {
    if (!IsPreliminary(reply->code)) {
      preliminaryBytes_ = 0;
      return reply;
    }
    preliminaryBytes_ += replyBytes_;
    if (preliminaryBytes_ > kMaxReplyBytes) ThrowTooLong();
  }
  return std::nullopt;
}

void FtpReplyReader::Clear() {
  *this = FtpReplyReader{};
}

void FtpReplyReader::Feed(std::string_view bytes) {
  // The lines taken go now, not one by one: a long reply of short lines
  // would otherwise be moved once per line.
  inbox_.erase(0, taken_);
  inboxSearched_ -= taken_;
  taken_ = 0;
  inbox_.append(bytes);
}

std::optional<std::string> FtpReplyReader::TakeLine() {
  const auto end = inbox_.find('\n', inboxSearched_);
  const std::size_t lineBytes = (end == std::string::npos ? inbox_.size() : end + 1) - taken_;
  // Counted before the line is whole: a server that never ends one cannot
  // make the inbox grow without bound.
  if (partialBytes_ + lineBytes > kMaxReplyBytes) ThrowTooLong();
  if (end == std::string::npos) {
    inboxSearched_ = inbox_.size();
    return std::nullopt;
  }
  std::string line = inbox_.substr(taken_, end - taken_);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  taken_ += lineBytes;
  inboxSearched_ = taken_;
  partialBytes_ += lineBytes;
  return line;
}

bool FtpReplyReader::AddLine(const std::string& line) {
  std::string text = line.size() > 4 ? line.substr(4) : std::string();
  if (!partial_.lines.empty()) {
    partial_.lines.push_back(std::move(text));
    return EndsReply(line, partial_.code);
  }
  if (!StartsReply(line)) {
    throw KorvaError("Invalid reply from the FTP server: " + QuoteLine(line));
  }
  partial_.code = std::stoi(line.substr(0, 3));
  partial_.lines.push_back(std::move(text));
  return line.size() == 3 || line[3] != '-';
}

// --- the numbers in replies and commands ---

PassiveAddress ParsePassiveReply(std::string_view firstLine) {
  const std::string line = text::Trim(firstLine);
  const auto fail = [&]() -> PassiveAddress {
    throw KorvaError("Invalid reply to PASV: " + QuoteLine(line));
  };
  std::string_view inner = line;
  const auto open = line.find('(');
  const auto close = line.find(')');
  if (open != std::string::npos && close != std::string::npos) {
    if (close < open) return fail();
    inner = inner.substr(open + 1, close - open - 1);
  } else if (const auto blank = line.rfind(' '); blank != std::string::npos) {
    inner = inner.substr(blank + 1);
  }
  int numbers[6];
  for (int i = 0; i < 6; ++i) {
    const auto comma = inner.find(',');
    if ((comma == std::string_view::npos) != (i == 5)) return fail();
    const std::string_view part = inner.substr(0, comma);
    // Strict: a number that does not fit a byte is an error, never wrapped.
    if (part.empty() || part.size() > 3) return fail();
    int value = 0;
    for (char c : part) {
      if (c < '0' || c > '9') return fail();
      value = value * 10 + (c - '0');
    }
    if (value > 255) return fail();
    numbers[i] = value;
    if (comma != std::string_view::npos) inner.remove_prefix(comma + 1);
  }
  PassiveAddress result;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) result.address += '.';
    result.address += std::to_string(numbers[i]);
  }
  result.port = static_cast<std::uint16_t>(numbers[4] * 256 + numbers[5]);
  return result;
}

std::string FormatPortCommand(const std::string& address, std::uint16_t port) {
  std::string command = "PORT " + address;
  std::replace(command.begin(), command.end(), '.', ',');
  return command + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

std::int32_t ParseSizeReply(const FtpReply& reply) {
  if (reply.code != 213) return -1;
  std::string value = text::Trim(reply.Text());
  if (const auto blank = value.find(' '); blank != std::string::npos) value.erase(0, blank + 1);
  if (value.empty() || value.size() > 10) return -1;
  std::int64_t number = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    number = number * 10 + (c - '0');
  }
  if (number > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(number);
}

}  // namespace korva::transfer
