#pragma once
// Reader of module packages: ZIP archives as the PKWARE APPNOTE describes
// them, stored and deflated entries, without ZIP64, spanning or encryption.
// It only reads archives; zlib does the inflating, everything else is here.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace korva {
class Shell;
}

namespace korva::installer {

// One central-directory record, as far as extraction needs it.
struct ZipEntry {
  // Stored name in Windows-1252 (names flagged UTF-8 are converted).
  std::string name;
  std::uint16_t versionMadeBy = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t dosTime = 0;
  std::uint16_t dosDate = 0;
  std::uint32_t crc32 = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;
  std::uint32_t externalAttributes = 0;
  // Position of the local header in the archive file.
  std::uint64_t localHeaderOffset = 0;
  // Where this entry's data must end: the next local header or the central
  // directory.
  std::uint64_t dataLimit = 0;

  bool IsFolder() const;
  bool IsEncrypted() const { return (flags & 0x0041) != 0; }
  // Sizes or offset left to a ZIP64 extra field.
  bool NeedsZip64() const;
  // MS-DOS attribute bits; a file made on Unix without its owner's write
  // permission counts as read-only.
  std::uint32_t DosAttributes() const;
};

class ZipReader {
 public:
  // Entry failures are put to the operator through the shell.
  explicit ZipReader(Shell& shell);
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Output root of the extraction, given as folder + separator.
  void SetBaseFolder(std::string folder) { baseFolder_ = std::move(folder); }
  const std::string& BaseFolder() const { return baseFolder_; }

  // Opens the archive for reading without locking others out and reads its
  // central directory; an archive already open is closed first. Throws
  // KorvaError when the name is empty, the file missing or not a readable
  // ZIP archive.
  void Open(const std::string& archiveFileName);
  // The same for an archive already open (one whose digest was taken through
  // this very handle): the reader holds it until Close.
  void Open(platform::File archive);
  bool IsOpen() const { return file_.IsOpen(); }
  const std::string& ArchiveFileName() const { return archiveFileName_; }
  const std::vector<ZipEntry>& Entries() const { return entries_; }

  // Extracts every entry whose name matches the mask, in central-directory
  // order, replacing existing files. A failing entry is put to the operator
  // with Abort, Retry and Ignore and never makes this throw; it throws only
  // when no archive is open.
  //
  // The file named `guarded` at the top of the base folder (a module's
  // executable) is written beside its place and put there only when it is
  // whole, right after beforePlacing runs: a failed or abandoned one never
  // replaces what stood there, nor does one for which beforePlacing throws
  // (the error then leaves this function). The result says whether a whole one was put
  // in place.
  bool ExtractFiles(std::string_view mask, std::string_view guarded = {},
                    const std::function<void()>& beforePlacing = {});

  // Releases the archive; nothing happens when none is open.
  void Close();

 private:
  void ReadOpened();
  void ReadCentralDirectory(std::uint64_t fileSize);
  // The end record that points at a central directory, and where that
  // directory really starts.
  struct DirectoryPlace;
  DirectoryPlace FindEndRecord(std::uint64_t fileSize);
  std::vector<ZipEntry> ReadEntries(const DirectoryPlace& place);
  // True when it put the guarded file in place.
  bool ExtractEntry(const ZipEntry& entry, std::string_view guarded,
                    const std::function<void()>& beforePlacing);
  std::uint64_t DataStart(const ZipEntry& entry);
  // Writes the entry's data to `name`; a guarded file that fails goes.
  void WriteEntry(const ZipEntry& entry, std::uint64_t dataStart, const platform::Folder& folder,
                  const std::string& name, const std::string& shownPath, bool isGuarded);
  // Both return the reason the data is bad (empty when it is good) and throw
  // EntryFailure when the archive cannot be read or the output written.
  std::string CopyStored(const ZipEntry& entry, std::uint64_t offset, platform::File& out,
                         const std::string& shownPath);
  std::string Inflate(const ZipEntry& entry, std::uint64_t offset, platform::File& out,
                      const std::string& shownPath);
  void ReadEntryData(const ZipEntry& entry, std::uint64_t offset, unsigned char* buffer,
                     std::size_t size);
  // Bytes read (fewer only at the end of the file); -1 on a read error.
  std::int64_t ReadArchive(std::uint64_t offset, unsigned char* buffer, std::size_t size);

  Shell& shell_;
  std::string archiveFileName_;
  std::string baseFolder_;
  platform::File file_;
  std::uint64_t centralDirectoryStart_ = 0;
  std::vector<ZipEntry> entries_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
};

}  // namespace korva::installer
