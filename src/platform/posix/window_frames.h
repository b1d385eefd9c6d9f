#pragma once
// The little messages between a registered window and the programs that ask
// it something: a frame is a 32-bit little-endian payload length, then the
// payload, a list of fields each written as 32-bit little-endian length and
// bytes. Entry files hold one frame as well.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/handle.h"

namespace korva::platform::posix {

using Fields = std::vector<std::string>;

// Class names and titles are short; anything larger is not ours.
inline constexpr std::uint32_t kMaxFrame = 64 * 1024;

std::string EncodeFrame(const std::vector<std::string_view>& fields);
// The fields of one whole frame; nullopt when the bytes are not exactly one.
std::optional<Fields> DecodeFrame(std::string_view frame);

// Reads one whole frame from a non-blocking socket before the deadline;
// nullopt on end of stream, a malformed or oversized frame, an error or
// time out.
std::optional<Fields> ReadFrame(NativeHandle socket,
                                std::chrono::steady_clock::time_point deadline);
// Writes the frame before the deadline; false when it could not.
bool WriteFrame(NativeHandle socket, std::string_view frame,
                std::chrono::steady_clock::time_point deadline);

}  // namespace korva::platform::posix
