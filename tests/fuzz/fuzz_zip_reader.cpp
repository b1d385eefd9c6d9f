// Hostile packages straight from the network: open and extract "*.EXE" into
// a scratch folder, and check that nothing appeared beside that folder and
// that no more bytes came out than the entries declare.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "form/shell.h"
#include "fuzz_scratch.h"
#include "installer/zip/zip_reader.h"
#include "support/null_shell.h"
#include "text/error.h"

namespace {

namespace fs = std::filesystem;

// Ignores every entry failure (Retry would loop on a fault that does not go
// away); an input's first byte picks Abort instead now and then.
class AnsweringShell : public korva::testing::NullShell {
 public:
  korva::MsgButton answer = korva::kIgnore;
  korva::MsgButton ShowMessage(const korva::Message&) override { return answer; }
};

struct Scratch {
  std::string root = korva::fuzz::ScratchFolder();
  std::string archive = root + "/pkg.zip";
  std::string base = root + "/out";
};

void WriteArchive(const std::string& path, const std::uint8_t* data, std::size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) std::abort();
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) std::abort();
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  WriteArchive(scratch.archive, data, size);

  AnsweringShell shell;
  if (size > 0 && data[0] % 7 == 0) shell.answer = korva::kAbort;
  std::uint64_t declared = 0;
  {
    korva::installer::ZipReader reader(shell);
    reader.SetBaseFolder(scratch.base + "/");
    try {
      reader.Open(scratch.archive);
      for (const auto& entry : reader.Entries()) declared += entry.uncompressedSize;
      reader.ExtractFiles("*.EXE");
    } catch (const korva::KorvaError&) {
    }
  }

  for (const auto& item : fs::directory_iterator(scratch.root)) {
    const std::string name = item.path().filename().string();
    if (name != "pkg.zip" && name != "out") std::abort();
  }
  std::uint64_t written = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(scratch.base, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && !it->is_symlink()) written += it->file_size();
  }
  if (written > declared) std::abort();
  fs::remove_all(scratch.base, ec);
  return 0;
}
