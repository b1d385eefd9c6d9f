#pragma once
// The two files the program writes about itself: the update log and the
// client version report, both beside the executable.
#include <string>

namespace korva::records {

struct RecordFiles {
  std::string logFilePath;
  std::string clientVersionFilePath;
};

}  // namespace korva::records
