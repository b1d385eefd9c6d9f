#include "settings/profile_cache.h"

#include <list>
#include <mutex>
#include <unordered_map>

#include "platform/file_change_watch.h"
#include "platform/files.h"
#include "settings/profile_storage.h"

namespace korva::settings::profile {
namespace {

// Size, times and inode prove a file unchanged only once its last change is
// older than the file system's time stamp granularity: a same-size rewrite
// within one clock tick keeps every one of them. Until then (git's "racy"
// entries) a copy is checked against the bytes on disk, which costs a read
// of the file per operation. Linux stamps files from a clock that moves in
// ticks of at most 10 ms (twice that is allowed for); file systems that keep
// whole seconds (FAT keeps two) show it as a zero fraction.
constexpr std::int64_t kFineRacyWindow = 20'000'000;
constexpr std::int64_t kCoarseRacyWindow = 3'000'000'000;

// Memory stays proportional to the files in use: a few of them, and none that
// is larger than a profile file has any reason to be.
constexpr std::size_t kMaxEntries = 16;
constexpr std::size_t kMaxCachedBytes = 64u << 20;

std::int64_t LastChange(const platform::FileIdentity& id) {
  const std::int64_t m = id.mtimeSeconds * 1'000'000'000 + id.mtimeNanoseconds;
  const std::int64_t c = id.ctimeSeconds * 1'000'000'000 + id.ctimeNanoseconds;
  return m > c ? m : c;
}

// True when every later change of the file must show in its identity.
bool Settled(const platform::FileIdentity& id, std::int64_t readStartedAt) {
  if (id.size < 0) return false;
  const bool coarse = id.mtimeNanoseconds == 0 && id.ctimeNanoseconds == 0;
  return readStartedAt - LastChange(id) >= (coarse ? kCoarseRacyWindow : kFineRacyWindow);
}

struct Entry {
  std::shared_ptr<const ParsedProfile> parsed;
  platform::FileIdentity identity;
  bool settled = false;
  // The copy was proven equal to the file after this moment: while the
  // watch reports nothing since, it still is, whatever the time stamps say.
  platform::ChangeMark mark;
  std::list<std::string>::iterator recency;
};

class Cache {
 public:
  std::shared_ptr<const ParsedProfile> Current(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(path);
    if (it != entries_.end() && platform::UnchangedSince(it->second.mark)) {
      ++counters_.vouchedByWatch;
      Touch(it->second);
      return it->second.parsed;
    }
    // Begun before the look below, so that what the look proves stays proven
    // until the watch reports a change.
    const platform::ChangeMark mark = platform::WatchFilePath(path);
    ++counters_.looked;
    const auto id = platform::IdentifyFile(path);
    if (!id) {
      Erase(path);
      return nullptr;
    }
    if (it != entries_.end() && it->second.identity == *id) {
      Touch(it->second);
      if (it->second.settled) {
        it->second.mark = mark;
        return it->second.parsed;
      }
    }
    const std::int64_t readStartedAt = platform::WallClockNanoseconds();
    auto snapshot = ReadSnapshot(path);
    if (!snapshot) {
      Erase(path);
      return nullptr;
    }
    if (it != entries_.end() && it->second.identity == snapshot->identity &&
        it->second.parsed->bytes == snapshot->bytes) {
      it->second.settled = Settled(snapshot->identity, readStartedAt);
      it->second.mark = mark;
      return it->second.parsed;
    }
    const platform::FileIdentity identity = snapshot->identity;
    ++counters_.parsed;
    auto parsed = ParseProfile(std::move(snapshot->bytes));
    Erase(path);
    if (identity.size >= 0 && parsed->bytes.size() <= kMaxCachedBytes) {
      Insert(path, Entry{parsed, identity, Settled(identity, readStartedAt), mark, {}});
    }
    return parsed;
  }

  CacheCounters Counters() {
    std::lock_guard lock(mutex_);
    return counters_;
  }

  void Forget(const std::string& path) {
    std::lock_guard lock(mutex_);
    Erase(path);
  }

  void ForgetAll() {
    std::lock_guard lock(mutex_);
    entries_.clear();
    recency_.clear();
    bytes_ = 0;
  }

 private:
  void Touch(Entry& entry) { recency_.splice(recency_.begin(), recency_, entry.recency); }

  void Erase(const std::string& path) {
    const auto it = entries_.find(path);
    if (it == entries_.end()) return;
    bytes_ -= it->second.parsed->bytes.size();
    recency_.erase(it->second.recency);
    entries_.erase(it);
  }

  void Insert(const std::string& path, Entry entry) {
    const std::size_t size = entry.parsed->bytes.size();
    while (!recency_.empty() &&
           (entries_.size() >= kMaxEntries || bytes_ + size > kMaxCachedBytes)) {
      const std::string oldest = recency_.back();
      Erase(oldest);
    }
    recency_.push_front(path);
    entry.recency = recency_.begin();
    entries_.emplace(path, std::move(entry));
    bytes_ += size;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, Entry> entries_;
  std::list<std::string> recency_;  // most recently used first
  std::size_t bytes_ = 0;
  CacheCounters counters_;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

}  // namespace

std::shared_ptr<const ParsedProfile> CurrentProfile(const std::string& path) {
  return TheCache().Current(path);
}

void ForgetProfile(const std::string& path) {
  TheCache().Forget(path);
}

void ForgetAllProfiles() {
  TheCache().ForgetAll();
}

CacheCounters Counters() {
  return TheCache().Counters();
}

}  // namespace korva::settings::profile
