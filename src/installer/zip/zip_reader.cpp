#include "installer/zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <optional>

#include "form/shell.h"
#include "installer/zip/entry_output.h"
#include "installer/zip/zip_names.h"
#include "platform/files.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::installer {
namespace {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndRecordSignature = 0x06054b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kMaxCommentSize = 0xFFFF;
constexpr std::uint16_t kFlagUtf8Name = 0x0800;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint8_t kHostUnix = 3;
// The Unix file mode that archivers on Unix keep in the upper half of the
// external attributes: its type field and the owner's write permission.
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixRegularFile = 0100000;
constexpr std::uint32_t kUnixOwnerWrite = 0200;
// Large buffers keep the system calls few; the output buffer takes a whole
// run of inflate before it is written.
constexpr std::size_t kInputBufferSize = 1 << 18;
constexpr std::size_t kOutputBufferSize = 1 << 20;

std::uint16_t U16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

[[noreturn]] void NotAnArchive(const std::string& path, const std::string& why) {
  throw KorvaError(path + " is not a valid ZIP archive: " + why);
}

struct EndRecord {
  std::uint64_t position = 0;
  std::uint16_t disk = 0;
  std::uint16_t directoryDisk = 0;
  std::uint16_t entriesOnDisk = 0;
  std::uint16_t entries = 0;
  std::uint32_t directorySize = 0;
  std::uint32_t directoryOffset = 0;
};

EndRecord ParseEndRecord(const unsigned char* p, std::uint64_t position) {
  EndRecord r;
  r.position = position;
  r.disk = U16(p + 4);
  r.directoryDisk = U16(p + 6);
  r.entriesOnDisk = U16(p + 8);
  r.entries = U16(p + 10);
  r.directorySize = U32(p + 12);
  r.directoryOffset = U32(p + 16);
  return r;
}

// The entry's MS-DOS date and time; nullopt when they are not a valid date.
std::optional<platform::LocalDateTime> EntryTime(const ZipEntry& entry) {
  platform::LocalDateTime t;
  t.year = 1980 + (entry.dosDate >> 9);
  t.month = (entry.dosDate >> 5) & 0x0F;
  t.day = entry.dosDate & 0x1F;
  t.hour = entry.dosTime >> 11;
  t.minute = (entry.dosTime >> 5) & 0x3F;
  t.second = (entry.dosTime & 0x1F) * 2;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return std::nullopt;
  }
  return t;
}

// The base folder without its trailing separator; the working folder when
// none was given.
std::string OutputRoot(const std::string& baseFolder) {
  return baseFolder.empty() ? std::string(1, '.') : platform::ExcludeTrailingSeparator(baseFolder);
}

void RemoveQuietly(const platform::Folder& folder, const std::string& name) {
  try {
    folder.Remove(name);
  } catch (const std::exception&) {
    // Nothing under the name, or nothing more to be done about it.
  }
}

// One central directory record whose name (nameLength bytes) follows it.
ZipEntry ParseCentralHeader(const unsigned char* h, std::size_t nameLength) {
  ZipEntry e;
  e.versionMadeBy = U16(h + 4);
  e.flags = U16(h + 8);
  e.method = U16(h + 10);
  e.dosTime = U16(h + 12);
  e.dosDate = U16(h + 14);
  e.crc32 = U32(h + 16);
  e.compressedSize = U32(h + 20);
  e.uncompressedSize = U32(h + 24);
  e.externalAttributes = U32(h + 38);
  e.localHeaderOffset = U32(h + 42);
  const std::string stored(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength);
  e.name = (e.flags & kFlagUtf8Name) ? text::FromUtf8(stored) : stored;
  return e;
}

// Each entry's data ends where the next entry begins. Entries that share
// bytes are how a small file unpacks to an enormous one; no archiver writes
// them.
void LimitEntryData(const std::string& path, std::vector<ZipEntry>& entries,
                    std::uint64_t directoryStart) {
  std::vector<ZipEntry*> byOffset;
  for (ZipEntry& e : entries) {
    if (!e.NeedsZip64()) byOffset.push_back(&e);
  }
  std::sort(byOffset.begin(), byOffset.end(), [](const ZipEntry* a, const ZipEntry* b) {
    return a->localHeaderOffset < b->localHeaderOffset;
  });
  for (std::size_t i = 0; i < byOffset.size(); ++i) {
    ZipEntry& e = *byOffset[i];
    e.dataLimit = i + 1 < byOffset.size() ? byOffset[i + 1]->localHeaderOffset : directoryStart;
    if (e.localHeaderOffset + kLocalHeaderSize + e.compressedSize > e.dataLimit) {
      NotAnArchive(path, "entries " + e.name + " and " + byOffset[i + 1]->name + " overlap");
    }
  }
}

// What can be known of an entry before the old file is deleted: one that
// cannot be decoded at all leaves the file in place.
void CheckDecodable(const ZipEntry& entry) {
  if (entry.NeedsZip64()) {
    throw EntryFailure("Entry " + entry.name + " needs ZIP64 extensions, which are not supported");
  }
  if (entry.IsEncrypted()) {
    throw EntryFailure("Entry " + entry.name + " is encrypted and no password is set");
  }
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    throw EntryFailure("Entry " + entry.name + " uses compression method " +
                       std::to_string(entry.method) + ", which is not supported");
  }
  if (entry.method == kMethodStored && entry.compressedSize != entry.uncompressedSize) {
    throw EntryFailure("Size error in " + entry.name + ": stored " +
                       std::to_string(entry.compressedSize) + " bytes, recorded " +
                       std::to_string(entry.uncompressedSize));
  }
}

// The guarded file, written under a name of its own, takes the place of the
// old one; on failure the new one goes.
void PlaceGuarded(const platform::Folder& folder, const std::string& written,
                  const std::string& name, const std::string& shownPath,
                  const std::function<void()>& beforePlacing) {
  try {
    if (beforePlacing) beforePlacing();
    folder.Replace(written, name);
  } catch (const platform::FileSystemError& e) {
    RemoveQuietly(folder, written);
    throw EntryFailure("Cannot replace " + shownPath + ": " + e.Reason());
  } catch (...) {
    RemoveQuietly(folder, written);
    throw;
  }
}

}  // namespace

bool ZipEntry::IsFolder() const {
  return (externalAttributes & kAttrDirectory) != 0 ||
         (!name.empty() && (name.back() == '/' || name.back() == '\\'));
}

bool ZipEntry::NeedsZip64() const {
  return compressedSize == 0xFFFFFFFFu || uncompressedSize == 0xFFFFFFFFu ||
         localHeaderOffset == 0xFFFFFFFFu;
}

std::uint32_t ZipEntry::DosAttributes() const {
  std::uint32_t attributes = externalAttributes & 0xFF;
  if ((versionMadeBy >> 8) == kHostUnix) {
    const std::uint32_t mode = externalAttributes >> 16;
    if ((mode & kUnixTypeMask) == kUnixRegularFile && (mode & kUnixOwnerWrite) == 0) {
      attributes |= platform::kAttrReadOnly;
    }
  }
  return attributes;
}

struct ZipReader::DirectoryPlace {
  EndRecord end;
  std::uint64_t start = 0;
};

ZipReader::ZipReader(Shell& shell) : shell_(shell) {}

ZipReader::~ZipReader() {
  Close();
}

void ZipReader::Close() {
  file_ = platform::File();
  entries_.clear();
  centralDirectoryStart_ = 0;
}

void ZipReader::Open(const std::string& archiveFileName) {
  Close();
  archiveFileName_ = archiveFileName;
  if (archiveFileName.empty()) throw KorvaError("No archive file name was given");
  // No lock: others may read or replace the package meanwhile.
  try {
    file_ = platform::File::OpenRead(archiveFileName);
  } catch (const platform::FileSystemError& e) {
    Close();
    using Cause = platform::FileSystemError::Cause;
    switch (e.WhatCause()) {
      case Cause::kNotFound:
        throw KorvaError(archiveFileName + ": file not found");
      case Cause::kIsFolder:
      case Cause::kNotAFile:
        throw KorvaError(archiveFileName + " is not a file");
      default:
        throw KorvaError("Cannot open " + archiveFileName + ": " + e.Reason());
    }
  }
  ReadOpened();
}

void ZipReader::Open(platform::File archive) {
  Close();
  archiveFileName_ = archive.Path();
  file_ = std::move(archive);
  ReadOpened();
}

void ZipReader::ReadOpened() {
  try {
    ReadCentralDirectory(static_cast<std::uint64_t>(file_.Size()));
  } catch (...) {
    Close();
    throw;
  }
}

std::int64_t ZipReader::ReadArchive(std::uint64_t offset, unsigned char* buffer, std::size_t size) {
  try {
    return static_cast<std::int64_t>(file_.ReadAt(offset, buffer, size));
  } catch (const platform::FileSystemError&) {
    return -1;
  }
}

void ZipReader::ReadCentralDirectory(std::uint64_t fileSize) {
  const DirectoryPlace place = FindEndRecord(fileSize);
  std::vector<ZipEntry> entries = ReadEntries(place);
  LimitEntryData(archiveFileName_, entries, place.start);
  entries_ = std::move(entries);
  centralDirectoryStart_ = place.start;
}

ZipReader::DirectoryPlace ZipReader::FindEndRecord(std::uint64_t fileSize) {
  const std::string& path = archiveFileName_;
  if (fileSize < kEndRecordSize) NotAnArchive(path, "the file is too short");

  // The end record sits at the very end, followed only by the archive
  // comment (at most 64 KiB). A comment may itself hold the signature, so each
  // candidate from the end backwards must also point at a central directory.
  const std::size_t tailSize =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kEndRecordSize + kMaxCommentSize));
  const std::uint64_t tailStart = fileSize - tailSize;
  std::vector<unsigned char> tail(tailSize);
  if (ReadArchive(tailStart, tail.data(), tailSize) != static_cast<std::int64_t>(tailSize)) {
    NotAnArchive(path, "the file cannot be read");
  }
  auto signatureAt = [&](std::uint64_t offset, std::uint32_t signature) {
    unsigned char b[4];
    return ReadArchive(offset, b, 4) == 4 && U32(b) == signature;
  };

  std::string rejected = "end of central directory not found";
  for (std::size_t i = tailSize - kEndRecordSize + 1; i-- > 0;) {
    const unsigned char* p = tail.data() + i;
    if (U32(p) != kEndRecordSignature) continue;
    const EndRecord r = ParseEndRecord(p, tailStart + i);
    if (r.position + kEndRecordSize + U16(p + 20) > fileSize) continue;
    if (r.position >= kZip64LocatorSize &&
        signatureAt(r.position - kZip64LocatorSize, kZip64LocatorSignature)) {
      throw KorvaError(path + ": ZIP64 archives are not supported");
    }
    if (r.disk != 0 || r.directoryDisk != 0 || r.entriesOnDisk != r.entries) {
      rejected = "multi-volume archives are not supported";
      continue;
    }
    if (r.directorySize > r.position || r.directoryOffset > r.position - r.directorySize) {
      rejected = "the central directory lies outside the file";
      continue;
    }
    // The directory normally ends where the end record begins. When it
    // starts later than recorded, data was put in front of the archive (a
    // self-extractor stub) and every recorded offset is short by that much.
    const std::uint64_t expected = r.position - r.directorySize;
    if (r.entries == 0 || signatureAt(r.directoryOffset, kCentralHeaderSignature)) {
      return {r, r.directoryOffset};
    }
    if (signatureAt(expected, kCentralHeaderSignature)) return {r, expected};
    rejected = "the central directory is missing or damaged";
  }
  NotAnArchive(path, rejected);
}

std::vector<ZipEntry> ZipReader::ReadEntries(const DirectoryPlace& place) {
  const std::string& path = archiveFileName_;
  const EndRecord& end = place.end;
  const std::uint64_t bias = place.start - end.directoryOffset;
  const std::size_t directorySize = end.directorySize;
  if (static_cast<std::uint64_t>(end.entries) * kCentralHeaderSize > directorySize) {
    NotAnArchive(path, "the entry count does not fit the central directory");
  }
  if (place.start + directorySize > end.position) {
    NotAnArchive(path, "the central directory overlaps its end record");
  }
  std::vector<unsigned char> directory(directorySize);
  if (ReadArchive(place.start, directory.data(), directorySize) !=
      static_cast<std::int64_t>(directorySize)) {
    NotAnArchive(path, "the central directory cannot be read");
  }

  std::vector<ZipEntry> entries;
  entries.reserve(end.entries);
  std::size_t pos = 0;
  for (std::uint32_t index = 0; index < end.entries; ++index) {
    if (directorySize - pos < kCentralHeaderSize)
      NotAnArchive(path, "the central directory is cut short");
    const unsigned char* h = directory.data() + pos;
    if (U32(h) != kCentralHeaderSignature)
      NotAnArchive(path, "a central directory record is damaged");
    const std::size_t nameLength = U16(h + 28);
    const std::size_t variable = nameLength + U16(h + 30) + U16(h + 32);
    if (directorySize - pos - kCentralHeaderSize < variable) {
      NotAnArchive(path, "a central directory record runs past the directory");
    }
    ZipEntry e = ParseCentralHeader(h, nameLength);
    if (!e.NeedsZip64()) {
      e.localHeaderOffset += bias;
      if (e.localHeaderOffset + kLocalHeaderSize + e.compressedSize > place.start) {
        NotAnArchive(path, "the data of " + e.name + " lies outside the file");
      }
    }
    entries.push_back(std::move(e));
    pos += kCentralHeaderSize + variable;
  }
  return entries;
}

bool ZipReader::ExtractFiles(std::string_view mask, std::string_view guarded,
                             const std::function<void()>& beforePlacing) {
  if (!IsOpen()) throw KorvaError("No archive is open");
  bool placed = false;
  for (const ZipEntry& entry : entries_) {
    if (!EntryMatchesMask(entry.name, mask)) continue;
    for (;;) {
      std::string failure;
      try {
        if (ExtractEntry(entry, guarded, beforePlacing)) placed = true;
      } catch (const EntryFailure& f) {
        failure = f.what();
      }
      if (failure.empty()) break;
      const MsgButton answer = shell_.ShowMessage(
          Message{"", text::Format("%s. File processing error, possibly disk is full", {failure}),
                  MsgIcon::Question, kAbort | kRetry | kIgnore, kNoButton});
      if (answer == kRetry) continue;
      if (answer == kIgnore) break;
      return placed;
    }
  }
  return placed;
}

bool ZipReader::ExtractEntry(const ZipEntry& entry, std::string_view guarded,
                             const std::function<void()>& beforePlacing) {
  const std::string root = OutputRoot(baseFolder_);

  const auto parts = SplitEntryPath(entry.name);
  if (!parts) {
    throw EntryFailure("Entry " + entry.name + " would be written outside " + root);
  }
  std::string shownPath = root;
  for (const std::string& part : *parts) shownPath = platform::JoinPath(shownPath, part);

  if (entry.IsFolder()) {
    OpenOutputFolder(root, *parts);
    return false;
  }
  if (parts->empty()) throw EntryFailure("Entry " + entry.name + " has no file name");
  CheckDecodable(entry);
  const std::uint64_t dataStart = DataStart(entry);

  const std::vector<std::string> folders(parts->begin(), parts->end() - 1);
  const platform::Folder folder = OpenOutputFolder(root, folders);
  const bool isGuarded =
      folders.empty() && !guarded.empty() && text::SameText1252(parts->back(), guarded);
  // The guarded file goes to a name of its own first.
  const std::string name = isGuarded ? "." + parts->back() + ".korva-novo" : parts->back();
  WriteEntry(entry, dataStart, folder, name, shownPath, isGuarded);
  if (!isGuarded) return false;
  PlaceGuarded(folder, name, parts->back(), shownPath, beforePlacing);
  return true;
}

void ZipReader::WriteEntry(const ZipEntry& entry, std::uint64_t dataStart,
                           const platform::Folder& folder, const std::string& name,
                           const std::string& shownPath, bool isGuarded) {
  platform::File out = CreateOutputFile(folder, name, shownPath);
  std::string problem;
  try {
    problem = entry.method == kMethodStored ? CopyStored(entry, dataStart, out, shownPath)
                                            : Inflate(entry, dataStart, out, shownPath);
    // A file whose data failed its checks is still finished like a good one:
    // the operator sees it reported, and Retry writes it again from the start.
    FinishOutputFile(out, EntryTime(entry), (entry.DosAttributes() & platform::kAttrReadOnly) != 0,
                     shownPath);
  } catch (...) {
    if (isGuarded) RemoveQuietly(folder, name);
    throw;
  }
  if (!problem.empty()) {
    if (isGuarded) RemoveQuietly(folder, name);
    throw EntryFailure(problem);
  }
}

std::uint64_t ZipReader::DataStart(const ZipEntry& entry) {
  unsigned char h[kLocalHeaderSize];
  if (ReadArchive(entry.localHeaderOffset, h, sizeof h) != static_cast<std::int64_t>(sizeof h) ||
      U32(h) != kLocalHeaderSignature) {
    throw EntryFailure("The local header of " + entry.name + " is damaged");
  }
  if (U16(h + 6) & 0x0041) {
    throw EntryFailure("Entry " + entry.name + " is encrypted and no password is set");
  }
  const std::uint64_t start =
      entry.localHeaderOffset + kLocalHeaderSize + U16(h + 26) + U16(h + 28);
  if (start + entry.compressedSize > entry.dataLimit) {
    throw EntryFailure("The data of " + entry.name + " runs past its place in the archive");
  }
  return start;
}

void ZipReader::ReadEntryData(const ZipEntry& entry, std::uint64_t offset, unsigned char* buffer,
                              std::size_t size) {
  std::size_t n = 0;
  try {
    n = file_.ReadAt(offset, buffer, size);
  } catch (const platform::FileSystemError& e) {
    throw EntryFailure("Cannot read " + entry.name + " from " + archiveFileName_ + ": " +
                       e.Reason());
  }
  if (n != size) {
    throw EntryFailure("The archive ends inside the data of " + entry.name);
  }
}

std::string ZipReader::CopyStored(const ZipEntry& entry, std::uint64_t offset, platform::File& out,
                                  const std::string& shownPath) {
  input_.resize(kInputBufferSize);
  uLong crc = crc32_z(0, nullptr, 0);
  std::uint64_t remaining = entry.compressedSize;
  while (remaining > 0) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, input_.size()));
    ReadEntryData(entry, offset, input_.data(), chunk);
    crc = crc32_z(crc, input_.data(), chunk);
    WriteOutput(out, input_.data(), chunk, shownPath);
    offset += chunk;
    remaining -= chunk;
  }
  if (crc != entry.crc32) return "CRC error in " + entry.name;
  return {};
}

std::string ZipReader::Inflate(const ZipEntry& entry, std::uint64_t offset, platform::File& out,
                               const std::string& shownPath) {
  input_.resize(kInputBufferSize);
  output_.resize(kOutputBufferSize);
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
    throw EntryFailure("Not enough memory to inflate " + entry.name);
  }
  struct StreamEnd {
    z_stream& s;
    ~StreamEnd() { inflateEnd(&s); }
  } streamEnd{stream};

  uLong crc = crc32_z(0, nullptr, 0);
  std::uint64_t inputLeft = entry.compressedSize;
  std::uint64_t produced = 0;
  const std::uint64_t recorded = entry.uncompressedSize;
  for (;;) {
    if (stream.avail_in == 0 && inputLeft > 0) {
      const std::size_t chunk =
          static_cast<std::size_t>(std::min<std::uint64_t>(inputLeft, input_.size()));
      ReadEntryData(entry, offset, input_.data(), chunk);
      offset += chunk;
      inputLeft -= chunk;
      stream.next_in = input_.data();
      stream.avail_in = static_cast<uInt>(chunk);
    }
    // Never ask inflate for more than the entry may still hold, plus one
    // byte to notice a stream that would go on past its recorded size.
    const std::uint64_t room = recorded - produced + 1;
    stream.next_out = output_.data();
    stream.avail_out = static_cast<uInt>(std::min<std::uint64_t>(room, output_.size()));
    const int status = inflate(&stream, Z_NO_FLUSH);
    std::size_t have = static_cast<std::size_t>(stream.next_out - output_.data());
    const bool overrun = produced + have > recorded;
    if (overrun) have = static_cast<std::size_t>(recorded - produced);
    if (have > 0) {
      crc = crc32_z(crc, output_.data(), have);
      WriteOutput(out, output_.data(), have, shownPath);
      produced += have;
    }
    if (overrun) {
      return "Size error in " + entry.name + ": the data holds more than the recorded " +
             std::to_string(recorded) + " bytes";
    }
    if (status == Z_STREAM_END) break;
    if (status == Z_BUF_ERROR && inputLeft == 0 && stream.avail_in == 0) {
      return "The compressed data of " + entry.name + " ends too soon";
    }
    if (status == Z_MEM_ERROR) throw EntryFailure("Not enough memory to inflate " + entry.name);
    if (status != Z_OK && status != Z_BUF_ERROR)
      return "The compressed data of " + entry.name + " is damaged";
  }
  if (produced != recorded) {
    return "Size error in " + entry.name + ": " + std::to_string(produced) +
           " bytes instead of the recorded " + std::to_string(recorded);
  }
  if (crc != entry.crc32) return "CRC error in " + entry.name;
  return {};
}

}  // namespace korva::installer
