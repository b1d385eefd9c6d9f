#include "platform/files.h"

#include "platform/file.h"

// What is the same on every system: paths joined by its separator, whole-file
// reads and writes over File, and folders made without an exception.
namespace korva::platform {

std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += kPathSeparator;
  path += name;
  return path;
}

bool ForceDirectories(const std::string& path) {
  try {
    CreateFolders(path);
    return true;
  } catch (const FileSystemError&) {
    return false;
  }
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  try {
    File file = File::OpenRead(path);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(file.Size()));
    char buffer[1 << 16];
    while (const std::size_t n = file.Read(buffer, sizeof buffer)) bytes.append(buffer, n);
    return bytes;
  } catch (const FileSystemError&) {
    return std::nullopt;
  }
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  File file = File::Create(path);
  file.Write(bytes);
  file.Close();
}

void AppendToFile(const std::string& path, std::string_view bytes) {
  File file = File::OpenAppend(path);
  file.Write(bytes);
  file.Close();
}

}  // namespace korva::platform
