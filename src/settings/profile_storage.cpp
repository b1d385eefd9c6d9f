#include "settings/profile_storage.h"

#include "text/error.h"

namespace korva::settings::profile {
namespace {

std::string ReadAll(platform::File& file, std::size_t expected) {
  std::string bytes;
  bytes.reserve(expected);
  char buffer[1 << 16];
  while (const std::size_t n = file.Read(buffer, sizeof buffer)) bytes.append(buffer, n);
  return bytes;
}

}  // namespace

FileSnapshot ReadSnapshotOrFail(const std::string& path) {
  // A writer that changes the file while we read it shows up as a different
  // identity after the read; the bytes are then read again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    platform::File file = platform::File::OpenRead(path);
    const platform::FileIdentity before = file.Identity();
    FileSnapshot snapshot;
    snapshot.bytes = ReadAll(file, static_cast<std::size_t>(before.size));
    snapshot.identity = file.Identity();
    if (before == snapshot.identity &&
        static_cast<std::int64_t>(snapshot.bytes.size()) == snapshot.identity.size) {
      return snapshot;
    }
  }
  // Still changing: the caller gets what was there, unrecorded (an identity
  // that no later look at the file will match).
  platform::File file = platform::File::OpenRead(path);
  FileSnapshot snapshot;
  snapshot.bytes = ReadAll(file, 0);
  snapshot.identity.size = -1;
  return snapshot;
}

std::optional<FileSnapshot> ReadSnapshot(const std::string& path) {
  try {
    return ReadSnapshotOrFail(path);
  } catch (const platform::FileSystemError&) {
    return std::nullopt;
  }
}

void ReplaceFileOrFail(const std::string& path, std::string_view bytes) {
  platform::ReplaceFileContent(path, [&](platform::File& file) { file.Write(bytes); },
                               {.mode = platform::ReplaceMode::kAsEdited});
}

void ReplaceFile(const std::string& path, std::string_view bytes) {
  try {
    ReplaceFileOrFail(path, bytes);
  } catch (const platform::FileSystemError& e) {
    // Still held by another program after every try: the operator learns
    // which, and can close it before trying again.
    if (e.WhatCause() == platform::FileSystemError::Cause::kInUse) {
      throw KorvaError("Unable to write to " + path + ": " + e.Reason());
    }
    throw KorvaError("Unable to write to " + path);
  }
}

}  // namespace korva::settings::profile
