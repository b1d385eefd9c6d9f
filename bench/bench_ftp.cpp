// A 256 MiB download from a local vsftpd through FetchFile, with the progress
// display attached as the window wires it (form model, a shell that draws
// nothing), against curl fetching the same file from the same server in the
// same run, in passive and in active mode. Each tool runs in a process of its
// own, timed from start to exit; ours also reports its peak memory, which
// must stay far below the file's size.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/session_state.h"
#include "common.h"
#include "form/form_model.h"
#include "form/shell.h"
#include "platform/clock.h"
#include "support/null_shell.h"
#include "transfer/ftp_session.h"
#include "transfer/progress_display.h"

namespace {

using korva::bench::Clock;
using korva::bench::Seconds;
using namespace std::chrono_literals;

constexpr std::int64_t kFileSize = 256LL << 20;
constexpr int kRounds = 5;
constexpr double kGoal = 1.11;
constexpr double kMemoryLimitMiB = 32;

using korva::testing::NullShell;

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The server: scripts/services/vsftpd in a process group of its own.
class Vsftpd {
 public:
  explicit Vsftpd(const std::string& dir) : dir_(dir) {
    const std::string script = std::string(KORVA_SOURCE_DIR) + "/scripts/services/vsftpd";
    const std::string portFile = dir + "/port";
    std::vector<std::string> args = {script,        "--root", dir + "/root",       "--port-file",
                                     portFile,      "--log",  dir + "/vsftpd.log", "--state",
                                     dir + "/state"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      const int fd = ::open((dir + "/vsftpd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    for (int i = 0; i < 500 && port_ == 0; ++i) {
      const std::string text = ReadWhole(portFile);
      if (!text.empty() && text.back() == '\n') port_ = std::stoi(text);
      std::this_thread::sleep_for(20ms);
    }
    if (port_ == 0)
      throw std::runtime_error("vsftpd did not start: " + ReadWhole(dir + "/vsftpd.out"));
    std::this_thread::sleep_for(200ms);
  }
  ~Vsftpd() {
    ::kill(-pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int Port() const { return port_; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

struct Run {
  double seconds = 0;
  double peakMiB = 0;
};

double PeakMiB() {
  std::istringstream in(ReadWhole("/proc/self/status"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return -1;
}

// Our download, in a child process: log-in, SIZE, FetchFile with the
// display attached, close.
Run RunOurs(int port, bool passive, const std::string& out) {
  int pipeFd[2];
  if (::pipe(pipeFd) != 0) throw std::runtime_error("pipe");
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFd[0]);
    int status = 0;
    try {
      korva::form::FormModel form;
      korva::SessionState session;
      NullShell shell;
      korva::platform::SystemClock clock;
      korva::transfer::FtpSession ftp("127.0.0.1", static_cast<std::uint16_t>(port));
      ftp.SetPassive(passive);
      korva::transfer::ProgressDisplay display(
          {form.STxtKBPS, form.STxtDownModulo, form.GaugeDownload, form.GgDownModulo},
          session.transfer, shell, clock, korva::platform::LocaleFormats::Current());
      ftp.SetEvents(&display);
      ftp.SetWaitHook([&shell] { shell.ProcessPendingInput(); });
      ftp.OpenSession();
      session.transfer.expectedTransferSize = ftp.RemoteFileSize("big.bin");
      ftp.FetchFile("big.bin", out);
      ftp.CloseSession();
      if (form.GaugeDownload.Percent() != 100) status = 3;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "ours: %s\n", e.what());
      status = 2;
    }
    const double peak = PeakMiB();
    if (::write(pipeFd[1], &peak, sizeof peak) != sizeof peak) status = 4;
    ::_exit(status);
  }
  ::close(pipeFd[1]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Run run;
  run.seconds = Seconds(start);
  if (::read(pipeFd[0], &run.peakMiB, sizeof run.peakMiB) != sizeof run.peakMiB) run.peakMiB = -1;
  ::close(pipeFd[0]);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("our download failed");
  return run;
}

Run RunCurl(int port, bool passive, const std::string& out) {
  const std::string url = "ftp://127.0.0.1:" + std::to_string(port) + "/big.bin";
  std::vector<std::string> args = {"curl", "-sS", "--user", "korva:K7p3R#", "-o", out, url};
  if (passive) {
    args.insert(args.begin() + 1, "--ftp-pasv");
  } else {
    args.insert(args.begin() + 1, {"--ftp-port", "-"});
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execvp("curl", argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  Run run;
  run.seconds = Seconds(start);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("curl failed");
  return run;
}

void CheckDownload(const std::string& path, const std::string& who) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || static_cast<std::int64_t>(size) != kFileSize) {
    throw std::runtime_error(who + " stored " + std::to_string(size) + " bytes");
  }
}

// Byte for byte, once per mode: speed means nothing for a wrong file.
void CompareFiles(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::string ba(1 << 20, '\0'), bb(1 << 20, '\0');
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || ba.compare(0, static_cast<std::size_t>(fa.gcount()), bb, 0,
                                                 static_cast<std::size_t>(fb.gcount())) != 0) {
      throw std::runtime_error(a + " differs from " + b);
    }
  }
}

void MakeServedFile(const std::string& path) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  std::string block(1 << 20, '\0');
  std::uint32_t x = 2463534242u;
  for (std::int64_t at = 0; at < kFileSize; at += static_cast<std::int64_t>(block.size())) {
    for (char& c : block) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      c = static_cast<char>(x);
    }
    f.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

}  // namespace

int main() {
  char pattern[] = "/tmp/korva-bench-ftp-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  ::chmod(dir.c_str(), 0755);
  std::filesystem::create_directories(dir + "/root");
  std::filesystem::create_directories(dir + "/state");
  const int result = korva::bench::Guarded("ftp", [&] {
    MakeServedFile(dir + "/root/big.bin");
    Vsftpd server(dir);
    const std::string ours = dir + "/ours.bin";
    const std::string theirs = dir + "/curl.bin";
    // Once each to warm the page cache and the server.
    RunCurl(server.Port(), true, theirs);
    CheckDownload(theirs, "curl");

    double oursTotal = 0, curlTotal = 0, peak = 0;
    for (const bool passive : {true, false}) {
      double bestOurs = 1e9, bestCurl = 1e9;
      for (int round = 0; round < kRounds; ++round) {
        std::filesystem::remove(ours);
        const Run o = RunOurs(server.Port(), passive, ours);
        CheckDownload(ours, "FetchFile");
        if (round == 0) CompareFiles(ours, dir + "/root/big.bin");
        std::filesystem::remove(ours);
        std::filesystem::remove(theirs);
        const Run c = RunCurl(server.Port(), passive, theirs);
        CheckDownload(theirs, "curl");
        std::filesystem::remove(theirs);
        bestOurs = std::min(bestOurs, o.seconds);
        bestCurl = std::min(bestCurl, c.seconds);
        peak = std::max(peak, o.peakMiB);
      }
      std::printf(
          "bench ftp %s: FetchFile %.3f s (%.0f MiB/s), curl %.3f s (%.0f MiB/s), ratio %.3f\n",
          passive ? "passive" : "active ", bestOurs, 256 / bestOurs, bestCurl, 256 / bestCurl,
          bestOurs / bestCurl);
      oursTotal += bestOurs;
      curlTotal += bestCurl;
    }
    std::printf("bench ftp peak memory of the downloading process: %.1f MiB (limit %.0f MiB)\n",
                peak, kMemoryLimitMiB);
    korva::bench::PrintRatio("ftp", oursTotal / curlTotal, kGoal);
    return peak <= 0 || peak >= kMemoryLimitMiB ? 1 : 0;
  });
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return result;
}
