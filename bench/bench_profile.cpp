// Reading every key of a script package through direct mode against one
// full parse of the same file: the parsed copy must make thousands of key
// reads cost about as much as a few parses, not one parse per key.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "platform/files.h"
#include "settings/big_ini_file.h"
#include "settings/profile_file.h"
#include "settings/profile_parser.h"
#include "settings/profile_storage.h"

namespace {

using korva::bench::Median;
using korva::bench::Seconds;
using korva::settings::ProfileFile;

constexpr int kGroups = 23;
constexpr int kLinesPerGroup = 100;  // 2 300 keys in the version section
constexpr int kRounds = 41;

struct Package {
  std::string bytes;
  std::vector<std::string> keys;
};

// A package as the server publishes them: the version section with its
// statement lines, older versions around it.
Package MakePackage() {
  Package p;
  auto section = [&](const std::string& name, int groups, int lines, bool record) {
    // Appended piece by piece: GCC 12 at -O3 sees a false overlap in
    // "literal" + std::string.
    p.bytes.append("[").append(name).append("]\r\n");
    for (int g = 1; g <= groups; ++g) {
      for (int l = 1; l <= lines; ++l) {
        std::string key("S");
        key.append(std::to_string(g)).append("_").append(std::to_string(l));
        p.bytes.append(key).append("=  UPDATE CLIENTE SET SITUACAO = 'A', OBS = '");
        p.bytes.append(std::to_string(g * l)).append("' WHERE ID_CLIENTE = ");
        p.bytes.append(std::to_string(l)).append(";\r\n");
        if (record) p.keys.push_back(key);
      }
    }
    p.bytes += "\r\n";
  };
  section("GERAL", 1, 3, false);
  section("3.16.46", 2, 40, false);
  section("3.16.47", kGroups, kLinesPerGroup, true);
  section("3.16.48", 2, 40, false);
  return p;
}

}  // namespace

int main() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder(tmp && *tmp ? tmp : "/tmp");
  folder.append("/korva-bench-profile-").append(std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = korva::platform::JoinPath(folder, "3.16.47.ini");
  const Package package = MakePackage();
  korva::platform::WriteFileBytes(path, package.bytes);

  // A package is read as soon as it has arrived; the first rounds run while
  // its time stamps are still too fresh to prove anything.
  std::vector<double> fresh;
  std::size_t found = 0;
  ProfileFile ini(path);
  const auto readEveryKey = [&] {
    for (const std::string& key : package.keys) {
      found += ini.ReadString("3.16.47", key, "").size() > 0;
    }
  };
  ProfileFile::ForgetCachedCopies();
  fresh.push_back(Seconds(readEveryKey));

  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::vector<double> parse;
  std::vector<double> keys;
  std::vector<double> wholeFile;
  std::size_t sections = 0;
  for (int round = 0; round < kRounds; ++round) {
    // (a) the reference: read and parse the file once, as the cache does.
    parse.push_back(Seconds([&] {
      auto snapshot = korva::settings::profile::ReadSnapshot(path);
      sections +=
          korva::settings::profile::ParseProfile(std::move(snapshot->bytes))->sections.size();
    }));
    // For comparison: loading the file in whole-file mode.
    wholeFile.push_back(Seconds([&] {
      korva::settings::TBigIniFile whole(path);
      sections += whole.Sections().Count();
    }));
    // (b) every key of the version section, starting without a kept copy.
    ProfileFile::ForgetCachedCopies();
    keys.push_back(Seconds(readEveryKey));
  }
  std::filesystem::remove_all(folder);
  if (found != package.keys.size() * (kRounds + 1) || sections == 0) {
    std::fprintf(stderr, "bench profile: keys not found (%zu)\n", found);
    return 1;
  }
  const double a = Median(parse);
  const double b = Median(keys);
  std::printf("file %zu bytes, %zu keys read per round, %d rounds\n", package.bytes.size(),
              package.keys.size(), kRounds);
  std::printf("one parse           %9.1f us (median)\n", a * 1e6);
  std::printf("whole-file open     %9.1f us (median)\n", Median(wholeFile) * 1e6);
  std::printf("every key           %9.1f us (median), %.3f us per key\n", b * 1e6,
              b * 1e6 / static_cast<double>(package.keys.size()));
  std::printf("every key, fresh    %9.1f us (file just written)\n", fresh.front() * 1e6);
  std::printf("bench profile ratio=%.2f goal=<=3\n", b / a);
  return 0;
}
