#pragma once
// What the benches share: timing, the shell, the module packages of the
// install and run benches, and the verdict line that scripts/bench reads.
#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace korva::bench {

using Clock = std::chrono::steady_clock;

// The registry's ten modules, whose packages "E<module>.zip" the install and
// run benches update.
inline constexpr const char* kModules[] = {"ADM", "FIN", "EST", "FCX", "VAU",
                                           "SER", "VEI", "NFE", "SIN", "SPD"};

double Seconds(Clock::time_point since);

template <typename F>
double Seconds(F&& work) {
  const auto start = Clock::now();
  work();
  return Seconds(start);
}

double Median(std::vector<double> v);

// The best time of each side over the rounds: a moment of load elsewhere on
// the machine does not decide the figure.
struct Best {
  double ours = 1e9;
  double reference = 1e9;
  void Add(double oursSeconds, double referenceSeconds) {
    ours = std::min(ours, oursSeconds);
    reference = std::min(reference, referenceSeconds);
  }
  double Ratio() const { return ours / reference; }
};

// A command line run by /bin/sh; its output, or a failure with it.
std::string Run(const std::string& command);

// In `stock`, one package per module of kModules, each holding a runnable
// module of 10 MiB that does not compress; `seed` picks its bytes.
void MakeModulePackages(const std::string& stock, unsigned seed);

// The line that scripts/bench reads: "bench NAME ratio=R goal=<=G".
void PrintRatio(const char* name, double ratio, double goal);
// The same for the best times, and the bench's exit status: 0 within the goal.
int Verdict(const char* name, const Best& best, double goal);
// Runs the bench; a failure ends it with "bench NAME: why" and status 1.
int Guarded(const char* name, const std::function<int()>& bench);

}  // namespace korva::bench
