#pragma once
// The files the program writes about itself, all beside the executable: the
// update log, the client version report and the branch copies still owed.
#include <string>

namespace korva::records {

struct RecordFiles {
  std::string logFilePath;
  std::string clientVersionFilePath;
  std::string pendingBranchesFilePath;  // "FiliaisPendentes.ini"
};

}  // namespace korva::records
