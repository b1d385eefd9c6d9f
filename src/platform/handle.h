#pragma once
// Handles of open files, folders and sockets. Everything the platform opens
// is held by one owner type, OwnedHandle, which closes it exactly once.
#include <cstdint>

namespace korva::platform {

// The operating system's own handle of something open, as an event loop
// watches it (Qt's QSocketNotifier takes Value() as it stands): a file
// descriptor on POSIX, a SOCKET or HANDLE on Windows. Not owned.
class NativeHandle {
 public:
  constexpr NativeHandle() = default;
  constexpr explicit NativeHandle(std::intptr_t value) : value_(value) {}
  constexpr std::intptr_t Value() const { return value_; }
  constexpr bool IsValid() const { return value_ != kInvalid; }
  bool operator==(const NativeHandle&) const = default;

 private:
  // -1 is no descriptor on POSIX, INVALID_HANDLE_VALUE and INVALID_SOCKET on
  // Windows.
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t value_ = kInvalid;
};

// Owns a native handle and closes it when it goes.
class OwnedHandle {
 public:
  // Windows closes sockets and other handles with different calls.
  enum class Kind { kFile, kSocket };

  OwnedHandle() = default;
  explicit OwnedHandle(NativeHandle handle, Kind kind = Kind::kFile)
      : handle_(handle), kind_(kind) {}
  ~OwnedHandle() { Reset(); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()), kind_(other.kind_) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      kind_ = other.kind_;
      handle_ = other.Release();
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  NativeHandle Get() const { return handle_; }
  bool IsOpen() const { return handle_.IsValid(); }
  Kind HandleKind() const { return kind_; }
  // Gives the handle up without closing it.
  NativeHandle Release() {
    const NativeHandle handle = handle_;
    handle_ = NativeHandle();
    return handle;
  }
  // Closes now; a failure to close is not reported (File::Close reports it
  // where written bytes are at stake).
  void Reset() noexcept;

 private:
  NativeHandle handle_;
  Kind kind_ = Kind::kFile;
};

}  // namespace korva::platform
