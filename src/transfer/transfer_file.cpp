#include "transfer/transfer_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/files.h"
#include "text/error.h"

namespace korva::transfer {
namespace {

// Runs one step on a local file; a refusal becomes `<what> "<path>". <reason>`.
template <typename Step>
auto Try(const char* what, const std::string& path, Step step) {
  try {
    return step();
  } catch (const platform::FileSystemError& e) {
    throw FileError(std::string(what) + " \"" + path + "\". " + e.Reason());
  }
}

}  // namespace

LocalFile LocalFile::Create(const std::string& path) {
  return LocalFile(Try("Cannot create file", path, [&] { return platform::File::Create(path); }));
}

LocalFile LocalFile::OpenRead(const std::string& path) {
  LocalFile file(Try("Cannot open file", path, [&] { return platform::File::OpenRead(path); }));
  file.size_ = Try("Cannot open file", path, [&] { return file.file_.Size(); });
  return file;
}

LocalFile::LocalFile(platform::File file)
    : file_(std::move(file)), buffer_(std::make_unique<char[]>(kBufferSize)) {}

LocalFile::~LocalFile() {
  try {
    WriteBuffered();
  } catch (const FileError&) {
    // The transfer already failed; what reached the disk stays.
  }
}

void LocalFile::Write(const char* bytes, std::size_t count) {
  if (unwritten_ + count > kBufferSize) WriteBuffered();
  if (count >= kBufferSize) {
    Try("Cannot write file", file_.Path(), [&] { file_.Write(bytes, count); });
    return;
  }
  std::memcpy(buffer_.get() + unwritten_, bytes, count);
  unwritten_ += count;
}

std::size_t LocalFile::Read(char* buffer, std::size_t capacity) {
  if (readAt_ == readEnd_) {
    readAt_ = 0;
    readEnd_ = Try("Cannot read file", file_.Path(),
                   [&] { return file_.Read(buffer_.get(), kBufferSize); });
  }
  const std::size_t n = std::min(capacity, readEnd_ - readAt_);
  std::memcpy(buffer, buffer_.get() + readAt_, n);
  readAt_ += n;
  return n;
}

void LocalFile::Discard() noexcept {
  unwritten_ = 0;
  if (!file_.IsOpen()) return;
  const std::string path = file_.Path();
  try {
    file_.Close();
  } catch (const platform::FileSystemError&) {
  }
  platform::DeleteFile(path);
}

void LocalFile::Close() {
  WriteBuffered();
  Try("Cannot write file", file_.Path(), [&] { file_.Close(); });
}

void LocalFile::WriteBuffered() {
  if (!file_.IsOpen() || unwritten_ == 0) return;
  const std::size_t count = std::exchange(unwritten_, 0);
  Try("Cannot write file", file_.Path(), [&] { file_.Write(buffer_.get(), count); });
}

}  // namespace korva::transfer
