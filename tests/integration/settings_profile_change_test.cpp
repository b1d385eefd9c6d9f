// Another process changes a profile file, or the folders above it, and tells
// us through a pipe; the very next read must see the file as it is now. The
// reads before the change must have been answered from the kept copy without
// a look at the disk, or the test would prove nothing about the watch.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_change_watch.h"
#include "settings/profile_cache.h"
#include "settings/profile_file.h"
#include "support/temp_dir.h"

namespace korva::settings {
namespace {

using profile::CacheCounters;
using profile::Counters;
using testing::TempDir;
using testing::WriteBytes;

// A shell in its own process, fed commands through one pipe; it answers
// through another once each command has finished, so whatever the command
// changed is changed when Run returns.
class Shell {
 public:
  Shell() {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::execl("/bin/sh", "sh", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toShell_ = in[1];
    fromShell_ = out[0];
  }
  ~Shell() {
    ::close(toShell_);
    ::close(fromShell_);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  void Run(const std::string& command) {
    const std::string done = "korva-feito-" + std::to_string(++runs_) + "\n";
    const std::string script =
        command + "\nprintf '%s\\n' '" + done.substr(0, done.size() - 1) + "'\n";
    for (std::size_t at = 0; at < script.size();) {
      const ssize_t n = ::write(toShell_, script.data() + at, script.size() - at);
      if (n < 0 && errno == EINTR) continue;
      ASSERT_GT(n, 0) << "the shell went away";
      at += static_cast<std::size_t>(n);
    }
    std::string heard;
    while (heard.size() < done.size() ||
           heard.compare(heard.size() - done.size(), done.size(), done) != 0) {
      char c;
      const ssize_t n = ::read(fromShell_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      ASSERT_EQ(n, 1) << "the shell went away after: " << command;
      heard += c;
    }
  }

 private:
  pid_t pid_ = -1;
  int toShell_ = -1;
  int fromShell_ = -1;
  int runs_ = 0;
};

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// printf arguments for a file whose value A starts at byte 7.
std::string FileWith(const std::string& value) {
  return "'[S]\\r\\nA=" + value + "\\r\\n'";
}

// One byte of the file replaced where it lies, size and name kept.
std::string WriteInPlace(const std::string& path, char byte) {
  return "printf '" + std::string(1, byte) + "' | dd of=" + Quoted(path) +
         " bs=1 seek=7 conv=notrunc 2>/dev/null";
}

// Reads until a read comes from the kept copy without a look at the disk;
// an event from elsewhere in a watched folder may cost a look or two first.
bool ReadsFromTheCopy(const ProfileFile& ini, const std::string& expected) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const CacheCounters before = Counters();
    const std::string value = ini.ReadString("S", "A", "ausente");
    if (value != expected) {
      ADD_FAILURE() << "read " << value << " instead of " << expected;
      return false;
    }
    if (Counters().vouchedByWatch > before.vouchedByWatch) return true;
  }
  return false;
}

// Twenty reads of A=1, none of them from the kept copy: each looks at the disk.
void ExpectEveryReadLooks(const ProfileFile& ini) {
  const CacheCounters before = Counters();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(ini.ReadString("S", "A", ""), "1");
  const CacheCounters after = Counters();
  EXPECT_EQ(after.vouchedByWatch, before.vouchedByWatch);
  EXPECT_EQ(after.looked - before.looked, 20u);
}

struct Change {
  const char* what;
  std::string setup;   // by the other process, before the first read
  std::string change;  // by the other process, between two reads
  std::string expected;
  // A second change after the first one was seen: the watches must follow the
  // new file and folders. Empty: none.
  std::string secondChange;
  std::string secondExpected;
};

class ProfileChangedByAnotherProcess : public ::testing::Test {
 protected:
  // A package holding A=1.
  std::string Package() {
    WriteBytes(dir_.File("pacote.ini"), "[S]\r\nA=1\r\n");
    return dir_.File("pacote.ini");
  }

  TempDir dir_;
  Shell shell_;
};

TEST_F(ProfileChangedByAnotherProcess, EveryKindOfChangeIsSeenByTheNextRead) {
  const bool root = ::geteuid() == 0;
  int number = 0;
  auto cases = [&](const std::string& base) {
    const std::string grand = base + "/avo";
    const std::string parent = grand + "/pasta";
    const std::string file = parent + "/pacote.ini";
    const std::string other = base + "/outra";
    const std::string f = Quoted(file);
    return std::vector<Change>{
        {"same size, in place, old modification time put back",
         "touch -r " + f + " " + Quoted(other + "/ref"),
         WriteInPlace(file, '2') + " && touch -m -r " + Quoted(other + "/ref") + " " + f, "2",
         WriteInPlace(file, 'Z'), "Z"},
        {"rewritten with another size", "", "printf " + FileWith("22") + " > " + f, "22",
         WriteInPlace(file, 'Z'), "Z2"},
        {"a new file renamed over it", "",
         "printf " + FileWith("3") + " > " + Quoted(parent + "/novo.tmp") + " && mv " +
             Quoted(parent + "/novo.tmp") + " " + f,
         "3", WriteInPlace(file, 'Z'), "Z"},
        {"deleted", "", "rm " + f, "ausente", "printf " + FileWith("4") + " > " + f, "4"},
        {"deleted and made anew", "", "rm " + f + " && printf " + FileWith("4") + " > " + f, "4",
         WriteInPlace(file, 'Z'), "Z"},
        {"touched", "", "touch " + f, "1", WriteInPlace(file, 'Z'), "Z"},
        {"made unreadable", "", "chmod 000 " + f, root ? "1" : "ausente", "chmod 644 " + f, "1"},
        {"its folder renamed and a new one put in its place", "",
         "mv " + Quoted(parent) + " " + Quoted(grand + "/velha") + " && mkdir " + Quoted(parent) +
             " && printf " + FileWith("5") + " > " + f,
         "5", WriteInPlace(file, 'Z'), "Z"},
        {"the folder above renamed and a new one put in its place", "",
         "mv " + Quoted(grand) + " " + Quoted(base + "/velho") + " && mkdir -p " + Quoted(parent) +
             " && printf " + FileWith("6") + " > " + f,
         "6", WriteInPlace(file, 'Z'), "Z"},
        {"written through a hard link in another folder",
         "ln " + f + " " + Quoted(other + "/elo.ini"), WriteInPlace(other + "/elo.ini", '7'), "7",
         "", ""},
        {"its name made a hard link of another file",
         "printf " + FileWith("0") + " > " + Quoted(other + "/outro.ini"),
         "ln -f " + Quoted(other + "/outro.ini") + " " + f, "0",
         WriteInPlace(other + "/outro.ini", '8'), "8"},
    };
  };
  const std::size_t count = cases(dir_.Path()).size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string base = dir_.File("caso" + std::to_string(++number));
    const Change c = cases(base)[i];
    SCOPED_TRACE(c.what);
    shell_.Run("mkdir -p " + Quoted(base + "/avo/pasta") + " " + Quoted(base + "/outra"));
    const std::string file = base + "/avo/pasta/pacote.ini";
    WriteBytes(file, "[S]\r\nA=1\r\n");
    if (!c.setup.empty()) shell_.Run(c.setup);
    ProfileFile ini(file);
    ASSERT_TRUE(ReadsFromTheCopy(ini, "1"));

    const CacheCounters before = Counters();
    shell_.Run(c.change);
    EXPECT_EQ(ini.ReadString("S", "A", "ausente"), c.expected);
    EXPECT_EQ(Counters().vouchedByWatch, before.vouchedByWatch);

    if (c.secondChange.empty()) continue;
    if (c.expected != "ausente") {
      EXPECT_TRUE(ReadsFromTheCopy(ini, c.expected));
    }
    shell_.Run(c.secondChange);
    EXPECT_EQ(ini.ReadString("S", "A", "ausente"), c.secondExpected);
  }
}

TEST_F(ProfileChangedByAnotherProcess, NothingChangedCostsNoLookAndANeighbourCostsNoParse) {
  const std::string file = dir_.File("pacote.ini");
  std::string bytes = "[3.16.47]\r\n";
  for (int i = 1; i <= 1000; ++i) {
    bytes += "S1_" + std::to_string(i) + "=UPDATE T SET C = " + std::to_string(i) + "\r\n";
  }
  WriteBytes(file, bytes);
  ProfileFile ini(file);
  const CacheCounters before = Counters();
  for (int i = 1; i <= 1000; ++i) {
    ASSERT_EQ(ini.ReadString("3.16.47", "S1_" + std::to_string(i), ""),
              "UPDATE T SET C = " + std::to_string(i));
  }
  const CacheCounters after = Counters();
  EXPECT_EQ(after.parsed - before.parsed, 1u);
  // One look for the first read; a few more only if something else moved in
  // the folders above meanwhile.
  EXPECT_LE(after.looked - before.looked, 10u);
  EXPECT_GE(after.vouchedByWatch - before.vouchedByWatch, 990u);

  // Another file of the same folder changes: one look proves ours is intact.
  shell_.Run("printf x > " + Quoted(dir_.File("LogUpdate.txt")));
  const CacheCounters beforeRead = Counters();
  EXPECT_EQ(ini.ReadString("3.16.47", "S1_7", ""), "UPDATE T SET C = 7");
  const CacheCounters afterRead = Counters();
  EXPECT_EQ(afterRead.looked - beforeRead.looked, 1u);
  EXPECT_EQ(afterRead.parsed, beforeRead.parsed);
}

TEST_F(ProfileChangedByAnotherProcess, APathThroughALinkOrDotsIsLookedAtEveryTime) {
  const std::string real = dir_.File("real");
  const std::string other = dir_.File("outra");
  shell_.Run("mkdir " + Quoted(real) + " " + Quoted(other) + " && ln -s real " +
             Quoted(dir_.File("atalho")) + " && ln -s pacote.ini " + Quoted(real + "/elo.ini"));
  WriteBytes(real + "/pacote.ini", "[S]\r\nA=1\r\n");
  WriteBytes(other + "/pacote.ini", "[S]\r\nA=2\r\n");
  // The watch stands for the folders a path names; where a link or "." and
  // ".." steps put other folders in between, every read looks.
  for (const std::string& path :
       {dir_.File("atalho/pacote.ini"), real + "/elo.ini", real + "/../real/pacote.ini",
        dir_.Path() + "//real/pacote.ini"}) {
    SCOPED_TRACE(path);
    shell_.Run(WriteInPlace(real + "/pacote.ini", '1'));
    ProfileFile ini(path);
    ASSERT_NO_FATAL_FAILURE(ExpectEveryReadLooks(ini));
    shell_.Run(WriteInPlace(real + "/pacote.ini", '3'));
    EXPECT_EQ(ini.ReadString("S", "A", ""), "3");
  }
  // The link turned to another folder.
  ProfileFile ini(dir_.File("atalho/pacote.ini"));
  EXPECT_EQ(ini.ReadString("S", "A", ""), "3");
  shell_.Run("ln -sfn outra " + Quoted(dir_.File("atalho")));
  EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
}

TEST_F(ProfileChangedByAnotherProcess, AnotherThreadLooksEveryTime) {
  const std::string file = Package();
  ProfileFile ini(file);
  // This thread reads first: the watch belongs to the thread that armed it.
  ASSERT_TRUE(ReadsFromTheCopy(ini, "1"));
  std::thread([&] {
    ASSERT_NO_FATAL_FAILURE(ExpectEveryReadLooks(ini));
    shell_.Run(WriteInPlace(file, '2'));
    EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
  }).join();
  EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
  EXPECT_TRUE(ReadsFromTheCopy(ini, "2"));
}

TEST_F(ProfileChangedByAnotherProcess, AFloodThatOverflowsTheEventQueueLosesNoChange) {
  const std::string file = Package();
  ProfileFile ini(file);
  ASSERT_TRUE(ReadsFromTheCopy(ini, "1"));
  // Two files emptied in turn: no two events in a row are alike, so none
  // merge, and 36 000 of them are more than the queue holds (16 384 unless
  // the machine says otherwise). The change to our file comes last.
  const std::string a = Quoted(dir_.File("a.tmp"));
  const std::string b = Quoted(dir_.File("b.tmp"));
  shell_.Run("i=0; while [ $i -lt 9000 ]; do : > " + a + "; : > " + b + "; i=$((i+1)); done; " +
             WriteInPlace(file, '2'));
  EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
  EXPECT_TRUE(ReadsFromTheCopy(ini, "2"));
  shell_.Run(WriteInPlace(file, '3'));
  EXPECT_EQ(ini.ReadString("S", "A", ""), "3");
}

TEST_F(ProfileChangedByAnotherProcess, AChildMadeByForkLooksAndLeavesOurSignalsOn) {
  const std::string file = Package();
  ProfileFile ini(file);
  ASSERT_TRUE(ReadsFromTheCopy(ini, "1"));
  const pid_t child = ::fork();
  if (child == 0) {
    // The child shares our inotify file, but its signals come to us.
    const CacheCounters before = Counters();
    for (int i = 0; i < 5; ++i) {
      if (ini.ReadString("S", "A", "") != "1") ::_exit(2);
    }
    if (Counters().looked - before.looked != 5) ::_exit(3);
    // Whoever sends the child the signal must not switch ours off.
    if (platform::FileChangeSignal() != 0) ::kill(::getpid(), platform::FileChangeSignal());
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(ReadsFromTheCopy(ini, "1"));
  shell_.Run(WriteInPlace(file, '2'));
  EXPECT_EQ(ini.ReadString("S", "A", ""), "2");
}

}  // namespace
}  // namespace korva::settings
