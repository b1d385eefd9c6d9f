#include "support/zip_archives.h"

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/temp_dir.h"
#ifdef _WIN32
#include "text/cp1252.h"
#endif

namespace korva::testing {
namespace {

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
#ifdef _WIN32
  // cmd.exe: the tools of the Linux side are not there, every command fails.
  return status;
#else
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool ToolAvailable(const std::string& name) {
  return RunCommand("command -v " + ShellQuote(name) + " >/dev/null 2>&1") == 0;
}

std::string RawDeflate(const std::string& data) {
  z_stream s{};
  if (deflateInit2(&s, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&s, data.size()), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

std::uint32_t Crc32(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

std::string HandArchive::Build() const {
  std::string out = prefix;
  std::string directory;
  for (const HandEntry& e : entries) {
    const std::string body = e.payload ? *e.payload : (e.method == 8 ? RawDeflate(e.data) : e.data);
    const std::uint32_t crc = e.crc ? *e.crc : Crc32(e.data);
    const std::uint32_t compressed = e.compressedSize ? *e.compressedSize : body.size();
    const std::uint32_t uncompressed = e.uncompressedSize ? *e.uncompressedSize : e.data.size();
    const std::uint16_t flags = e.flags | (e.dataDescriptor ? 0x0008 : 0);
    const std::uint32_t offset =
        e.localHeaderOffset ? *e.localHeaderOffset : out.size() - prefix.size();

    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, flags);
    Put16(out, e.method);
    Put16(out, e.dosTime);
    Put16(out, e.dosDate);
    Put32(out, e.dataDescriptor ? 0 : crc);
    Put32(out, e.dataDescriptor ? 0 : compressed);
    Put32(out, e.dataDescriptor ? 0 : uncompressed);
    Put16(out, e.name.size());
    Put16(out, 0);
    out += e.name;
    out += body;
    if (e.dataDescriptor) {
      Put32(out, 0x08074b50);
      Put32(out, crc);
      Put32(out, compressed);
      Put32(out, uncompressed);
    }

    Put32(directory, 0x02014b50);
    Put16(directory, e.versionMadeBy);
    Put16(directory, 20);
    Put16(directory, flags);
    Put16(directory, e.method);
    Put16(directory, e.dosTime);
    Put16(directory, e.dosDate);
    Put32(directory, crc);
    Put32(directory, compressed);
    Put32(directory, uncompressed);
    Put16(directory, e.name.size());
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, e.externalAttributes);
    Put32(directory, offset);
    directory += e.name;
  }
  const std::uint32_t directoryStart = out.size() - prefix.size();
  out += directory;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, entryCount ? *entryCount : entries.size());
  Put16(out, entryCount ? *entryCount : entries.size());
  Put32(out, directorySize ? *directorySize : directory.size());
  Put32(out, directoryOffset ? *directoryOffset : directoryStart);
  Put16(out, comment.size());
  out += comment;
  return out;
}

std::map<std::string, std::string> ReadTree(const std::string& root) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
#ifdef _WIN32
    // The library's narrow names are UTF-8 on Windows; the tree's are
    // Windows-1252, as everywhere in the program.
    const std::string relative =
        text::FromUtf8(it->path().lexically_relative(root).generic_string());
#else
    const std::string relative = it->path().lexically_relative(root).generic_string();
#endif
    if (it->is_symlink()) {
      tree[relative] = "-> " + fs::read_symlink(it->path()).string();
      it.disable_recursion_pending();
    } else if (it->is_directory()) {
      // Not assigned from a literal: GCC 12 at -O3 sees a false overlap there.
      tree[relative] = std::string(1, '/');
    } else {
#ifdef _WIN32
      tree[relative] = ReadBytes(relative.empty() ? root : root + "/" + relative);
#else
      tree[relative] = ReadBytes(it->path().string());
#endif
    }
  }
  return tree;
}

}  // namespace korva::testing
