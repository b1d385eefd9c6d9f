#include "app/site_lock.h"

#include <cstdio>
#include <exception>

#include "platform/files.h"
#include "platform/workstation.h"

namespace korva {
namespace {

using platform::ExclusiveLock;

std::string Line(const std::string& text, std::size_t index) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < index; ++i) {
    start = text.find('\n', start);
    if (start == std::string::npos) return {};
    ++start;
  }
  std::string line = text.substr(start, text.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Another workstation wrote it: shown only as far as it is plain text.
std::string Shown(const std::string& text) {
  constexpr std::size_t kLongest = 63;
  std::string out;
  for (char c : text.substr(0, kLongest)) {
    if (static_cast<unsigned char>(c) >= ' ') out += c;
  }
  return out.empty() ? "?" : out;
}

bool Digits(const std::string& s, std::size_t at, std::size_t count) {
  if (s.size() < at + count) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

}  // namespace

std::string SiteLockText(const std::string& workstation, const platform::LocalDateTime& start) {
  char when[32];
  std::snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", start.day, start.month,
                start.year, start.hour, start.minute, start.second);
  return workstation + "\r\n" + when + "\r\n";
}

Message SiteLockRefusal(const std::string& lockText) {
  // "dd/mm/yyyy hh:mm:ss": the hours and minutes tell the operator enough.
  const std::string start = Line(lockText, 1);
  const std::string since =
      Digits(start, 11, 2) && start.size() > 13 && start[13] == ':' && Digits(start, 14, 2)
          ? start.substr(11, 5)
          : "?";
  return Message{
      "KORVA - Atualizações",
      "Atualização em andamento na estação " + Shown(Line(lockText, 0)) + " desde " + since + ".",
      MsgIcon::Information, kOk, kOk};
}

bool SiteLock::Take(const std::string& applicationFolder, const platform::LocalDateTime& now,
                    Shell& shell, records::UpdateLog& log) {
  lock_ = ExclusiveLock::TryTake(platform::JoinPath(applicationFolder, kSiteLockName));
  switch (lock_.GetState()) {
    case ExclusiveLock::State::kTaken:
      try {
        lock_.WriteText(SiteLockText(platform::WorkstationName(), now));
      } catch (const std::exception&) {
        // Who holds it is only told to the others; the lock holds all the same.
      }
      return true;
    case ExclusiveLock::State::kHeldElsewhere:
      shell.ShowMessage(SiteLockRefusal(lock_.ReadText()));
      lock_.Release();
      return false;
    case ExclusiveLock::State::kUnavailable:
      try {
        log.LogWriteFile("Atualização sem bloqueio de outras estações: " + lock_.Path() + ": " +
                         lock_.Reason());
      } catch (const std::exception&) {
        // The run goes on as it would have before there was a lock.
      }
      return true;
  }
  return true;
}

}  // namespace korva
