#include "dbupdate/script_package.h"

namespace korva::dbupdate {

std::string StatementKey(int group, int line) {
  // Appended piece by piece: GCC 12 misreads "S" + ... + "_" + ... at -O3
  // as an overlapping copy.
  std::string key = "S";
  key += std::to_string(group);
  key += '_';
  key += std::to_string(line);
  return key;
}

}  // namespace korva::dbupdate
