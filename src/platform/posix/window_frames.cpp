#include "platform/posix/window_frames.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace korva::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

void PutLength(std::string& out, std::size_t n) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
}

std::uint32_t GetLength(const char* p) {
  std::uint32_t n = 0;
  for (int i = 3; i >= 0; --i) n = (n << 8) | static_cast<unsigned char>(p[i]);
  return n;
}

std::optional<Fields> DecodePayload(std::string_view payload) {
  Fields fields;
  while (!payload.empty()) {
    if (payload.size() < 4) return std::nullopt;
    const std::uint32_t n = GetLength(payload.data());
    payload.remove_prefix(4);
    if (n > payload.size()) return std::nullopt;
    fields.emplace_back(payload.substr(0, n));
    payload.remove_prefix(n);
  }
  return fields;
}

// Waits for the socket to become ready, at most a second at a time so that
// the deadline is looked at again; false once the deadline has passed or
// the wait failed.
bool AwaitReady(int fd, short events, Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000))) >= 0 || errno == EINTR;
}

}  // namespace

std::string EncodeFrame(const std::vector<std::string_view>& fields) {
  std::string payload;
  for (auto f : fields) {
    PutLength(payload, f.size());
    payload.append(f);
  }
  std::string frame;
  PutLength(frame, payload.size());
  return frame + payload;
}

std::optional<Fields> DecodeFrame(std::string_view frame) {
  if (frame.size() < 4 || GetLength(frame.data()) != frame.size() - 4) return std::nullopt;
  return DecodePayload(frame.substr(4));
}

std::optional<Fields> ReadFrame(NativeHandle socket, Clock::time_point deadline) {
  const int fd = static_cast<int>(socket.Value());
  std::string buffer;
  std::size_t wanted = 4;
  bool haveLength = false;
  while (buffer.size() < wanted) {
    char chunk[4096];
    const std::size_t room = std::min(sizeof chunk, wanted - buffer.size());
    const ssize_t n = ::recv(fd, chunk, room, 0);
    if (n > 0) {
      buffer.append(chunk, static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!AwaitReady(fd, POLLIN, deadline)) return std::nullopt;
    } else if (n == 0 || errno != EINTR) {
      // The peer closed, or the socket failed.
      return std::nullopt;
    }
    if (!haveLength && buffer.size() == 4) {
      const std::uint32_t n = GetLength(buffer.data());
      if (n > kMaxFrame) return std::nullopt;
      wanted = 4 + n;
      haveLength = true;
    }
  }
  return DecodePayload(std::string_view(buffer).substr(4));
}

bool WriteFrame(NativeHandle socket, std::string_view frame, Clock::time_point deadline) {
  const int fd = static_cast<int>(socket.Value());
  while (!frame.empty()) {
    const ssize_t n = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    if (n > 0) {
      frame.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!AwaitReady(fd, POLLOUT, deadline)) return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace korva::platform::posix
