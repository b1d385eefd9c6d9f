#pragma once
// One update run per site. The single-instance guard sees one machine only;
// the application folder is the one place every workstation of a site
// shares, so the run's lock lives there: "KorvaUpdate.lock".
#include <string>

#include "form/shell.h"
#include "platform/clock.h"
#include "platform/exclusive_lock.h"
#include "records/update_log.h"

namespace korva {

inline constexpr const char* kSiteLockName = "KorvaUpdate.lock";

// Held by a run from its start to its end, whatever its end; the process
// ending lets it go too. The file itself is never deleted.
class SiteLock {
 public:
  // Takes the lock of the site whose application folder that is, for a run
  // that starts now. False when another workstation's run holds it: the
  // operator has been told where and since when, and nothing may change.
  // Where no lock can be had (a read-only or unreachable folder), the run
  // goes on without one, and the log file says so.
  bool Take(const std::string& applicationFolder, const platform::LocalDateTime& now, Shell& shell,
            records::UpdateLog& log);

 private:
  platform::ExclusiveLock lock_;
};

// What the lock file holds: the workstation and when its run started, one
// line each ("dd/mm/yyyy hh:mm:ss").
std::string SiteLockText(const std::string& workstation, const platform::LocalDateTime& start);
// The refusal for a run that another lock text stands for.
Message SiteLockRefusal(const std::string& lockText);

}  // namespace korva
