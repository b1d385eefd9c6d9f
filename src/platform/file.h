#pragma once
// Open files and folders. Files are always opened in binary mode: the bytes
// read and written are the bytes on disk. Offsets and sizes are 64-bit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/clock.h"
#include "platform/handle.h"
#include "text/error.h"

namespace korva::platform {

// A file or folder operation that the operating system refused. what() is
// "<path>: <reason>" with the reason in the system's own words ("Permission
// denied"); callers that word the failure themselves take Reason().
class FileSystemError : public FileError {
 public:
  enum class Cause { kOther, kNotFound, kExists, kIsFolder, kNotAFile, kSymbolicLink };

  FileSystemError(std::string path, std::string reason, Cause cause = Cause::kOther)
      : FileError(path + ": " + reason),
        path_(std::move(path)),
        reason_(std::move(reason)),
        cause_(cause) {}
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }
  Cause WhatCause() const { return cause_; }

 private:
  std::string path_;
  std::string reason_;
  Cause cause_;
};

// What makes a file on disk provably the same between two looks at it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t mtimeSeconds = 0;
  std::int64_t mtimeNanoseconds = 0;
  std::int64_t ctimeSeconds = 0;
  std::int64_t ctimeNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The wall clock in nanoseconds, the clock that file times are taken from.
std::int64_t WallClockNanoseconds();

// An open file. Every failure throws FileSystemError naming Path().
class File {
 public:
  File() = default;
  // Takes over a handle that the platform opened on that path.
  File(OwnedHandle handle, std::string path) : handle_(std::move(handle)), path_(std::move(path)) {}

  // Opens an existing plain file for reading. Nobody is locked out: others
  // may read, write, rename or delete it meanwhile. A folder is refused
  // (kIsFolder), so is anything else that is not a plain file (kNotAFile),
  // and a pipe never makes the open wait; a missing file gives kNotFound.
  static File OpenRead(const std::string& path);
  // The same, for a file whose bytes are to be vouched for and must stay
  // those while it is open: on Windows others may read it but neither write,
  // rename nor delete it; on POSIX, which has no such sharing rule, what is
  // read is a private copy taken at the open, of at most limit + 1 bytes
  // when a limit is given (what lies past it is of no use to the caller).
  static File OpenReadHeld(const std::string& path, std::int64_t limit = -1);
  // Creates the file for writing, or empties the one that is there.
  static File Create(const std::string& path);
  // Opens the file for writing at its end, creating it when missing.
  static File OpenAppend(const std::string& path);

  bool IsOpen() const { return handle_.IsOpen(); }
  const std::string& Path() const { return path_; }
  NativeHandle Handle() const { return handle_.Get(); }

  std::int64_t Size() const;
  // What the open file is now, wherever its name points meanwhile.
  FileIdentity Identity() const;

  // Reads at the current position; 0 at the end of the file.
  std::size_t Read(void* buffer, std::size_t capacity);
  // Reads at offset without moving the position; fewer than size bytes only
  // at the end of the file.
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) const;
  // Writes every byte (a full disk is among the failures).
  void Write(const void* data, std::size_t size);
  void Write(std::string_view bytes) { Write(bytes.data(), bytes.size()); }

  // Gives the file that local modification time. False, and nothing
  // changes, when the system cannot hold that time.
  bool SetModificationTime(const LocalDateTime& local);
  // Takes the write permission away, as the read-only attribute does.
  void MakeReadOnly();
  // Returns once everything written is on the disk.
  void FlushToDisk();
  // Closes, and throws when the system reports that written bytes were lost.
  void Close();

 private:
  OwnedHandle handle_;
  std::string path_;
};

// An open folder in which files and sub-folders are made and looked at by
// name, never through a symbolic link: neither a link planted below it nor a
// crafted name carries an operation outside it. The folder itself is the
// caller's and trusted (a link on its own path is followed).
class Folder {
 public:
  enum class EntryType { kMissing, kFile, kFolder, kOther };

  static Folder Open(const std::string& path);
  // Takes over a handle that the platform opened on that path.
  Folder(OwnedHandle handle, std::string path)
      : handle_(std::move(handle)), path_(std::move(path)) {}

  const std::string& Path() const { return path_; }

  // What stands under the name; a symbolic link is kOther.
  EntryType TypeOf(const std::string& name) const;
  // kNotFound when missing, kSymbolicLink when a link stands there.
  Folder OpenSubfolder(const std::string& name) const;
  // A folder already there under the name is fine.
  void CreateSubfolder(const std::string& name) const;
  // A new file for writing; kExists when anything took the name, a link
  // included.
  File CreateFile(const std::string& name) const;
  // A plain file for reading, as File::OpenRead, but never through a link.
  File OpenFile(const std::string& name) const;
  // Deletes the file (a link itself, never what it points to). Needs no
  // write permission on the file, so a read-only one goes like any other.
  void Remove(const std::string& name) const;
  // Puts the file `from` in place of `to`, both in this folder, in one step:
  // whatever stood under `to` (read-only or not; a link itself) is replaced,
  // and `to` never names half of either.
  void Replace(const std::string& from, const std::string& to) const;

 private:
  OwnedHandle handle_;
  std::string path_;
};

}  // namespace korva::platform
