#pragma once
// Where an extracted entry is written. Folders below the output root are
// walked one part at a time and symbolic links are never followed, so neither
// a link planted in an installation folder nor a crafted entry name can carry
// a write outside it. The output root itself is the caller's and is trusted.
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"

namespace korva::installer {

// One entry could not be extracted; the text describes why and is what the
// operator sees.
class EntryFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Opens the output root (creating it when missing) and then each folder of
// `folders` below it, creating the missing ones. Throws EntryFailure.
platform::Folder OpenOutputFolder(const std::string& root, const std::vector<std::string>& folders);

// Deletes whatever file stands under `name` in the folder (read-only or not; a
// symbolic link is removed, not followed) and creates the file anew.
// `shownPath` names the file in failure texts. Throws EntryFailure.
platform::File CreateOutputFile(const platform::Folder& folder, const std::string& name,
                                const std::string& shownPath);

// Throws EntryFailure with the system's reason (a full disk among them).
void WriteOutput(platform::File& file, const unsigned char* data, std::size_t size,
                 const std::string& shownPath);

// Gives the file its time (when the entry's is a valid date), flushes it to
// disk, makes it read-only when asked and closes it. Throws EntryFailure.
void FinishOutputFile(platform::File& file, const std::optional<platform::LocalDateTime>& modified,
                      bool readOnly, const std::string& shownPath);

}  // namespace korva::installer
