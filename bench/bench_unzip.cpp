// Extraction of a 100 MB module package against Info-ZIP unzip on the same
// machine in the same run. Each of our files is flushed to disk before it is
// closed, so unzip's run is followed by sync to pay for the same writes.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common.h"
#include "form/shell.h"
#include "installer/zip/zip_reader.h"
#include "support/null_shell.h"

namespace {

namespace fs = std::filesystem;
using korva::bench::Clock;
using korva::bench::Median;
using korva::bench::Seconds;

// About 145 MB of content, which Info-ZIP packs into a package of about 100 MB.
constexpr int kExecutables = 8;
constexpr std::size_t kExecutableSize = 145'000'000 / kExecutables;
constexpr int kRounds = 5;

class SilentShell : public korva::testing::NullShell {
 public:
  int failures = 0;
  korva::MsgButton ShowMessage(const korva::Message& m) override {
    std::fprintf(stderr, "entry failure: %s\n", m.text.c_str());
    ++failures;
    return korva::kAbort;
  }
};

void Run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// Executables are half machine code that compresses poorly and half tables
// and strings that compress well; so is this content, in blocks.
std::string ExecutableLike(std::size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes;
  bytes.reserve(size + 65536);
  while (bytes.size() < size) {
    if (random() % 2) {
      for (int i = 0; i < 8192; ++i) {
        const std::uint64_t v = random();
        bytes.append(reinterpret_cast<const char*>(&v), sizeof v);
      }
    } else {
      for (int i = 0; i < 1500; ++i) {
        bytes += "TFrmKorva.Button" + std::to_string(random() % 97) + "Click\0\0\x90\x90";
        bytes += std::to_string(i * 17);
      }
    }
  }
  bytes.resize(size);
  return bytes;
}

struct Outcome {
  double seconds = 0;
  long peakKilobytes = 0;  // resident set of the extracting process
};

// Waits for the child and takes its peak resident set.
long Reap(pid_t pid) {
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "child %d failed\n", static_cast<int>(pid));
    std::exit(1);
  }
  return usage.ru_maxrss;
}

// Each side runs in a process of its own, so that its memory is its own.
Outcome ExtractWithKorva(const std::string& package, const std::string& out) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    SilentShell shell;
    korva::installer::ZipReader reader(shell);
    reader.SetBaseFolder(out + "/");
    reader.Open(package);
    reader.ExtractFiles("*.EXE");
    reader.Close();
    ::_exit(shell.failures == 0 ? 0 : 1);
  }
  Outcome o;
  o.peakKilobytes = Reap(pid);
  o.seconds = Seconds(start);
  return o;
}

Outcome ExtractWithUnzip(const std::string& package, const std::string& out) {
  const auto start = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp("unzip", "unzip", "-o", "-qq", package.c_str(), "*.EXE", "-d", out.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  Outcome o;
  o.peakKilobytes = Reap(pid);
  pid = ::fork();
  if (pid == 0) {
    ::execlp("sync", "sync", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  Reap(pid);
  o.seconds = Seconds(start);
  return o;
}

}  // namespace

int main() {
  const char* tmp = std::getenv("TMPDIR");
  std::string work = std::string(tmp && *tmp ? tmp : "/tmp") + "/korva-bench-unzip-XXXXXX";
  if (!::mkdtemp(work.data())) return 1;
  const std::string source = work + "/src";
  const std::string package = work + "/efin.zip";
  fs::create_directories(source);
  for (int i = 0; i < kExecutables; ++i) {
    std::ofstream(source + "/MODULO" + std::to_string(i) + ".EXE", std::ios::binary)
        << ExecutableLike(kExecutableSize, static_cast<unsigned>(i + 1));
  }
  std::ofstream(source + "/LEIAME.TXT") << "notas da versao\n";
  Run("cd '" + source + "' && zip -q -r '" + package + "' .");
  std::printf("package: %.1f MB, %d executables of %.1f MB\n",
              static_cast<double>(fs::file_size(package)) / 1e6, kExecutables,
              static_cast<double>(kExecutableSize) / 1e6);

  const std::string ours = work + "/ours";
  const std::string theirs = work + "/theirs";
  std::vector<double> ourTimes;
  std::vector<double> theirTimes;
  long ourPeak = 0;
  long theirPeak = 0;
  for (int round = 0; round < kRounds; ++round) {
    // Both start from the same state: old output gone and its deletion on
    // disk, the package in the page cache.
    fs::remove_all(ours);
    fs::remove_all(theirs);
    Run("sync");
    const Outcome korva = ExtractWithKorva(package, ours);
    const Outcome unzip = ExtractWithUnzip(package, theirs);
    ourTimes.push_back(korva.seconds);
    theirTimes.push_back(unzip.seconds);
    ourPeak = std::max(ourPeak, korva.peakKilobytes);
    theirPeak = std::max(theirPeak, unzip.peakKilobytes);
    std::printf("round %d: korva %.3f s, unzip+sync %.3f s\n", round + 1, korva.seconds,
                unzip.seconds);
  }
  Run("diff -r '" + ours + "' '" + theirs + "'");
  fs::remove_all(work);

  std::printf("peak memory: korva %.1f MB, unzip %.1f MB (ratio %.2f)\n", ourPeak / 1024.0,
              theirPeak / 1024.0, static_cast<double>(ourPeak) / static_cast<double>(theirPeak));
  std::printf("korva median %.3f s, unzip+sync median %.3f s\n", Median(ourTimes),
              Median(theirTimes));
  const double ratio = Median(ourTimes) / Median(theirTimes);
  std::printf("bench unzip ratio=%.2f goal=<=1.1\n", ratio);
  return 0;
}
