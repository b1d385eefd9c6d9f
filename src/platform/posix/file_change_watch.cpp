#include "platform/file_change_watch.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "platform/handle.h"

// How it works. One inotify instance for the process watches, for every path
// asked about, the file, its folder and each folder above it. The instance
// raises a real-time signal at the thread that armed it when the first event
// arrives; the handler moves a generation counter and disarms, so one signal
// at most comes per arming. A mark is the generation at which the instance
// was last armed with an empty queue: while the counter still shows it, no
// event has arrived since, so nothing on the watched paths has changed.
//
// A signal and not a watcher thread: the kernel queues the signal for our
// thread inside the system call that makes the change, and delivers it
// before any system call of ours returns. So a reader that heard of the
// change by any route that passes through the kernel (a pipe, a file, a
// child's exit) finds the counter moved. A watcher thread could still be
// asleep then.

namespace korva::platform {
namespace {

// Events that can make the path name other bytes. The folder of the file sees
// its entries come and go and, through them, the file's own changes; folders
// above need only the moves and removals that could put another folder in
// the path's way, and permission changes that could close it. The file's own
// watch catches writes made through a hard link in another folder.
constexpr std::uint32_t kFileEvents =
    IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF;
constexpr std::uint32_t kFolderEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                        IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF |
                                        IN_DELETE_SELF;
constexpr std::uint32_t kUpperFolderEvents =
    IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF | IN_DELETE_SELF;

// File systems whose every change passes through this kernel. Network file
// systems change on the server, user-space ones (FUSE) behind the kernel's
// back; inotify sees neither.
bool LocalFileSystem(const char* path) {
  struct statfs fs {};
  if (::statfs(path, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlayfs
    case 0xF2F52010:  // f2fs
    case 0x3153464A:  // jfs
    case 0x52654973:  // reiserfs
    case 0xCA451A4E:  // bcachefs
    case 0x4D44:      // vfat
    case 0x2011BAB0:  // exfat
    case 0x5346544E:  // ntfs3 (the kernel's driver; ntfs-3g is FUSE)
      return true;
    default:
      return false;
  }
}

// A watch costs kernel memory for as long as it lives; files read once and
// kept on disk would keep theirs forever. Past this many the instance starts
// afresh.
constexpr std::size_t kMaxWatches = 1024;
// A folder that never falls quiet gets the plain proof instead.
constexpr int kArmAttempts = 4;
constexpr int kMaxDrainReads = 64;

std::atomic<std::uint64_t> gGeneration{1};
std::atomic<int> gQueue{-1};
std::atomic<int> gSignal{0};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// Only async-signal-safe work: an atomic add and fcntl.
void OnChange(int, siginfo_t*, void*) {
  const int saved = errno;
  gGeneration.fetch_add(1, std::memory_order_relaxed);
  const int fd = gQueue.load(std::memory_order_relaxed);
  if (fd >= 0) ::fcntl(fd, F_SETFL, O_NONBLOCK);
  errno = saved;
}

std::atomic<bool> gOwnerTaken{false};
thread_local bool tOwner = false;

// A child made by fork shares our inotify file, whose signals go to our
// thread: nothing in it may vouch, and its handler (should anyone send it
// the signal) must not switch our signals off through the shared file.
void ForgetInChild() {
  gQueue.store(-1);
  tOwner = false;
}

bool IsDefault(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

bool IsOurs(const struct sigaction& action) {
  return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == OnChange;
}

// Absolute, and every step a name: "." and ".." would make the path depend
// on folders we do not watch, and "//" would hide which folder holds the
// file.
bool PlainAbsolutePath(std::string_view path) {
  if (path.size() < 2 || path.size() >= PATH_MAX || path.front() != '/' || path.back() == '/') {
    return false;
  }
  if (path.find('\0') != std::string_view::npos) return false;
  std::size_t begin = 1;
  while (begin <= path.size()) {
    std::size_t end = path.find('/', begin);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view step = path.substr(begin, end - begin);
    if (step.empty() || step == "." || step == "..") return false;
    begin = end + 1;
  }
  return true;
}

// Lives on the thread that armed it; no other thread touches it.
class Watch {
 public:
  ChangeMark Begin(const std::string& path) {
    if (disabled_ || !PlainAbsolutePath(path)) return {};
    if (!Arm()) return {};
    if (refused_.count(path) != 0) return {};
    if (!WatchSteps(path)) {
      // Whatever made it fail (a link, a missing step, a foreign file
      // system) can only go away through a change on a watched folder, which
      // re-arms and forgets this.
      if (queue_.IsOpen()) refused_.insert(path);
      return {};
    }
    return ChangeMark{armedAt_};
  }

 private:
  bool Arm() {
    if (armed_ && gGeneration.load(std::memory_order_acquire) == armedAt_) return true;
    armed_ = false;
    refused_.clear();
    if (watches_.size() > kMaxWatches) Stop(false);
    if (!queue_.IsOpen() && !Start()) return false;
    if (!SignalsReachUs()) return false;
    for (int attempt = 0; attempt < kArmAttempts; ++attempt) {
      const std::uint64_t before = gGeneration.load(std::memory_order_acquire);
      if (::fcntl(QueueFd(), F_SETFL, O_NONBLOCK | O_ASYNC) != 0) {
        Stop(true);
        return false;
      }
      // Emptied after arming: an event that came before the arming raised no
      // signal, and one merged into it would raise none either. Any event
      // after the queue is seen empty raises one.
      if (!Drain()) return false;
      if (overflowed_) {
        // Events were lost, IN_IGNORED among them: our books of watches may
        // be wrong. Changes were not missed (the first event of the burst
        // moved the counter), but starting afresh is cheaper than doubt.
        Stop(false);
        return false;
      }
      if (gGeneration.load(std::memory_order_acquire) == before) {
        armed_ = true;
        armedAt_ = before;
        return true;
      }
    }
    return false;
  }

  // Root first: a folder renamed or replaced after its parent's watch began
  // shows as an event there, so once every step is watched with no event
  // since the arming, the watches stand for what the path names now.
  bool WatchSteps(const std::string& path) {
    const std::size_t lastSlash = path.rfind('/');
    if (!WatchStep(std::string("/"), lastSlash == 0 ? kFolderEvents : kUpperFolderEvents,
                   IN_ONLYDIR)) {
      return false;
    }
    std::size_t slash = path.find('/', 1);
    while (slash != std::string::npos && slash <= lastSlash) {
      const std::uint32_t events = slash == lastSlash ? kFolderEvents : kUpperFolderEvents;
      if (!WatchStep(path.substr(0, slash), events, IN_ONLYDIR)) return false;
      slash = path.find('/', slash + 1);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return WatchStep(path, kFileEvents, 0);
  }

  // A link at any step fails here: it is not followed, and as a link it is
  // no folder; a link in place of the file fails the lstat above.
  bool WatchStep(const std::string& step, std::uint32_t events, std::uint32_t kind) {
    const int wd =
        ::inotify_add_watch(QueueFd(), step.c_str(), events | kind | IN_DONT_FOLLOW | IN_MASK_ADD);
    if (wd < 0) {
      // Out of watches: start afresh at the next arming, which frees those
      // of files long gone from use.
      if (errno == ENOSPC && !watches_.empty()) Stop(false);
      return false;
    }
    // A file system never changes under a watch, so one look per watch.
    const auto [known, added] = watches_.try_emplace(wd, false);
    if (added) known->second = LocalFileSystem(step.c_str());
    return known->second;
  }

  bool Start() {
    if (disabled_) return false;
    static const bool forkHandled = ::pthread_atfork(nullptr, nullptr, ForgetInChild) == 0;
    if (!forkHandled || (gSignal.load() == 0 && !InstallHandlers())) {
      disabled_ = true;
      return false;
    }
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) {
      disabled_ = true;
      return false;
    }
    OwnedHandle queue{NativeHandle(fd)};
    f_owner_ex owner{};
    owner.type = F_OWNER_TID;
    owner.pid = ::gettid();
    if (::fcntl(fd, F_SETSIG, gSignal.load()) != 0 || ::fcntl(fd, F_SETOWN_EX, &owner) != 0) {
      disabled_ = true;
      return false;
    }
    queue_ = std::move(queue);
    gQueue.store(fd);
    return true;
  }

  // Every mark given so far stops vouching.
  void Stop(bool forever) {
    // Cleared before the close: a handler that runs after it must not touch
    // whatever file gets the number next.
    gQueue.store(-1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    queue_.Reset();
    watches_.clear();
    refused_.clear();
    armed_ = false;
    overflowed_ = false;
    gGeneration.fetch_add(1);
    if (forever) disabled_ = true;
  }

  // Our signal, and SIGIO: when the real-time signal queue is full the kernel
  // sends SIGIO instead, which by default would end the program. A signal
  // somebody else already handles is theirs; we then do without.
  static bool InstallHandlers() {
    const int signal = SIGRTMIN + 4;
    if (signal > SIGRTMAX) return false;
    struct sigaction current {};
    struct sigaction io {};
    if (::sigaction(signal, nullptr, &current) != 0 || !IsDefault(current)) return false;
    if (::sigaction(SIGIO, nullptr, &io) != 0 || !IsDefault(io)) return false;
    struct sigaction ours {};
    ours.sa_sigaction = OnChange;
    ours.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigemptyset(&ours.sa_mask);
    if (::sigaction(signal, &ours, nullptr) != 0) return false;
    if (::sigaction(SIGIO, &ours, nullptr) != 0) {
      ::sigaction(signal, &current, nullptr);
      return false;
    }
    gSignal.store(signal);
    return true;
  }

  // A handler replaced by someone else, or our signal blocked on this
  // thread, would leave the counter still while files change.
  bool SignalsReachUs() {
    const int signal = gSignal.load();
    struct sigaction current {};
    struct sigaction io {};
    if (::sigaction(signal, nullptr, &current) != 0 || !IsOurs(current) ||
        ::sigaction(SIGIO, nullptr, &io) != 0 || !IsOurs(io)) {
      Stop(true);
      return false;
    }
    sigset_t blocked;
    if (::pthread_sigmask(SIG_BLOCK, nullptr, &blocked) != 0) return false;
    return ::sigismember(&blocked, signal) == 0 && ::sigismember(&blocked, SIGIO) == 0;
  }

  // Empties the queue. Watches the kernel dropped (their file or folder is
  // gone) leave our books here.
  bool Drain() {
    alignas(inotify_event) char buffer[16384];
    for (int reads = 0; reads < kMaxDrainReads; ++reads) {
      const ssize_t n = ::read(QueueFd(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
      if (n == 0) return false;
      for (std::size_t at = 0; at + sizeof(inotify_event) <= static_cast<std::size_t>(n);) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->mask & IN_IGNORED) watches_.erase(event->wd);
        if (event->mask & IN_Q_OVERFLOW) overflowed_ = true;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return false;
  }

  int QueueFd() const { return static_cast<int>(queue_.Get().Value()); }

  OwnedHandle queue_;
  bool disabled_ = false;
  bool armed_ = false;
  bool overflowed_ = false;
  std::uint64_t armedAt_ = 0;
  std::unordered_map<int, bool> watches_;  // watch descriptor: on a local file system
  std::unordered_set<std::string> refused_;
};

// Kept for the life of the process: a read during static destruction must
// still find it.
Watch& TheWatch() {
  static Watch* const watch = new Watch;
  return *watch;
}

}  // namespace

ChangeMark WatchFilePath(const std::string& path) {
  if (!tOwner) {
    bool expected = false;
    if (!gOwnerTaken.compare_exchange_strong(expected, true)) return {};
    tOwner = true;
  }
  return TheWatch().Begin(path);
}

bool UnchangedSince(ChangeMark mark) noexcept {
  return mark && tOwner && gGeneration.load(std::memory_order_acquire) == mark.generation;
}

int FileChangeSignal() {
  return gSignal.load();
}

}  // namespace korva::platform
