#include "common.h"

#include <cstdio>
#include <exception>
#include <random>
#include <stdexcept>

#include "installer/module_installation.h"
#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "support/update_site.h"

namespace korva::bench {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Run(const std::string& command) {
  std::string output;
  if (testing::RunCommand({"/bin/sh", "-c", command}, output) != 0)
    throw std::runtime_error(command + ": " + output);
  return output;
}

void MakeModulePackages(const std::string& stock, unsigned seed) {
  Run("mkdir -p '" + stock + "'");
  std::mt19937 random(seed);
  for (const char* m : kModules) {
    const std::string executable = std::string("E") + m + ".EXE";
    std::string bytes = testing::ModuleBytes(executable, "9.0.0");
    bytes.resize(10 << 20);
    for (std::size_t i = 200; i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
    testing::WriteBytes(stock + "/" + executable, bytes);
    Run("cd '" + stock + "' && zip -q " + installer::PackageName(executable) + " " + executable +
        " && rm " + executable);
  }
}

void PrintRatio(const char* name, double ratio, double goal) {
  std::printf("bench %s ratio=%.3f goal=<=%g\n", name, ratio, goal);
}

int Verdict(const char* name, const Best& best, double goal) {
  PrintRatio(name, best.Ratio(), goal);
  return best.Ratio() <= goal ? 0 : 1;
}

int Guarded(const char* name, const std::function<int()>& bench) {
  try {
    return bench();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench %s: %s\n", name, e.what());
    return 1;
  }
}

}  // namespace korva::bench
