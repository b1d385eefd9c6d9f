#pragma once
// What each system gives the file helpers (posix/files.cpp and
// windows/files.cpp): the separators and the root of a path, and the single
// steps of writing beside and replacing, of copying and of making folders,
// each failing with FileSystemError in the system's own words. The steps,
// their order and their checks are the helpers' own (files.cpp), written once
// over these.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace korva::platform::file_primitives {

// '/' alone on POSIX; '\\' and '/' on Windows.
bool IsSeparator(char c);
// Where a path's folders begin: after "C:\" or "\\server\share\" on
// Windows; 0 where the system knows no such prefix.
std::size_t RootLength(std::string_view path);

// The running executable as the system names it, and whether that name can
// be written in Windows-1252.
std::string SystemExecutablePath();
bool SystemExecutablePathFits();
// A number that no other running process has.
unsigned long ProcessId();

// Deletes the file; false when the system refuses.
bool RemoveFile(const std::string& path);
// Makes one folder; something already under the name is left to the
// caller's own check.
void MakeFolder(const std::string& path);
// The failure of an empty path, and of a file under a folder's name.
[[noreturn]] void ThrowNoSuchPath(const std::string& path);
[[noreturn]] void ThrowNameTaken(const std::string& path);

// The source's times as they are now; the step gives them to another file.
std::function<void(File&)> TakeTimes(const File& source);

// What a file edited in place hands on to its replacement: the permission
// bits and owner on POSIX, the attributes on Windows.
struct EditedFile {
  std::uint32_t mode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
};
// The file that is written under `path`: on POSIX a link is written
// through to its file, not replaced.
std::string WrittenTarget(const std::string& path);
// Refuses a target that cannot be edited in place (a folder, a read-only
// file); what it hands on when there is one.
std::optional<EditedFile> CheckEditable(const std::string& path, const std::string& target);
// The new file beside the target; `fresh`: the name must not exist yet,
// else whatever stands there is emptied. Failures name `path`.
File CreateTemporary(const std::string& path, const std::string& temporary, bool fresh,
                     bool ownerOnly);
// Before the new content is flushed, and once it is closed: hands on what
// the edited file had, or makes way for the replace.
void KeepWhileOpen(File& file, const EditedFile& edited);
void KeepOnceClosed(const std::string& temporary, const std::string& target,
                    const std::optional<EditedFile>& edited);
// Renames the temporary file over the target in one step; failures name
// `path`.
void PutInPlace(const std::string& path, const std::string& temporary, const std::string& target);

}  // namespace korva::platform::file_primitives
