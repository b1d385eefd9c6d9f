#pragma once
// Helpers for the package reader's tests: real archivers run from the shell,
// hand-built archives for the faults no archiver produces, and whole-tree
// snapshots to compare what extraction wrote.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korva::testing {

// Single-quoted for /bin/sh.
std::string ShellQuote(const std::string& text);
// Runs the command with /bin/sh; returns its exit status.
int RunCommand(const std::string& command);
bool ToolAvailable(const std::string& name);

// Raw deflate (no zlib header), as ZIP entries carry it.
std::string RawDeflate(const std::string& data);
std::uint32_t Crc32(const std::string& data);

struct HandEntry {
  std::string name;
  std::string data;  // what the entry unpacks to
  std::uint16_t method = 8;
  // Bytes stored as the entry's data instead of data compressed by `method`.
  std::optional<std::string> payload;
  // Recorded values instead of the true ones.
  std::optional<std::uint32_t> crc;
  std::optional<std::uint32_t> compressedSize;
  std::optional<std::uint32_t> uncompressedSize;
  std::optional<std::uint32_t> localHeaderOffset;
  std::uint16_t flags = 0;
  std::uint16_t versionMadeBy = 20;
  std::uint32_t externalAttributes = 0x20;
  std::uint16_t dosTime = (12 << 11) | (34 << 5) | 28;           // 12:34:56
  std::uint16_t dosDate = ((2021 - 1980) << 9) | (3 << 5) | 14;  // 2021-03-14
  // Sizes and CRC left zero in the local header and written after the data.
  bool dataDescriptor = false;
};

struct HandArchive {
  std::vector<HandEntry> entries;
  std::string prefix;  // bytes in front of the archive
  std::string comment;
  std::optional<std::uint16_t> entryCount;
  std::optional<std::uint32_t> directoryOffset;
  std::optional<std::uint32_t> directorySize;
  std::string Build() const;
};

// Every file and folder below root: relative path -> content ("/" for folders).
std::map<std::string, std::string> ReadTree(const std::string& root);

}  // namespace korva::testing
