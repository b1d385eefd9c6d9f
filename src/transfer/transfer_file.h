#pragma once
// The local side of a transfer. Closed on every path; a failed download keeps
// what was written so far unless it is discarded. Pieces arrive 8 KiB at a
// time and leave 1 KiB at a time; the disk sees them in large reads and
// writes through one buffer. A refusal of the file system becomes
// `<what> "<path>". <reason>` (FileError).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

namespace korva::transfer {

class LocalFile {
 public:
  static LocalFile Create(const std::string& path);
  static LocalFile OpenRead(const std::string& path);
  LocalFile(LocalFile&&) noexcept = default;
  LocalFile(const LocalFile&) = delete;
  LocalFile& operator=(const LocalFile&) = delete;
  ~LocalFile();

  // The size an opened file had.
  std::int64_t Size() const { return size_; }
  void Write(const char* bytes, std::size_t count);
  // 0 at the end of the file.
  std::size_t Read(char* buffer, std::size_t capacity);
  // A download that failed: what came of it goes, so that it is never taken
  // for the whole file later.
  void Discard() noexcept;
  // What is still buffered must reach the disk, or the download failed.
  void Close();

 private:
  static constexpr std::size_t kBufferSize = std::size_t{256} * 1024;

  explicit LocalFile(platform::File file);
  void WriteBuffered();

  platform::File file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t unwritten_ = 0;
  std::size_t readAt_ = 0;
  std::size_t readEnd_ = 0;
  std::int64_t size_ = 0;
};

}  // namespace korva::transfer
