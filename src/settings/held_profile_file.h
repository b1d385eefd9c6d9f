#pragma once
// The profile file one operation works on (the catalogue, a script package,
// the local script file), held in the session's currentProfileFile while the
// operation runs and released however it ends.
#include <memory>
#include <string>

#include "settings/profile_file.h"

namespace korva::settings {

class HeldProfileFile {
 public:
  HeldProfileFile(std::unique_ptr<ProfileFile>& holder, const std::string& path) : holder_(holder) {
    holder_ = std::make_unique<ProfileFile>(path);
  }
  // A file already made (one read from verified bytes).
  HeldProfileFile(std::unique_ptr<ProfileFile>& holder, std::unique_ptr<ProfileFile> file)
      : holder_(holder) {
    holder_ = std::move(file);
  }
  ~HeldProfileFile() { holder_.reset(); }
  HeldProfileFile(const HeldProfileFile&) = delete;
  HeldProfileFile& operator=(const HeldProfileFile&) = delete;
  const ProfileFile& File() const { return *holder_; }

 private:
  std::unique_ptr<ProfileFile>& holder_;
};

}  // namespace korva::settings
