#include "db/status_text.h"

#include <ibase.h>

namespace korva::db {

std::string InterpretStatus(const std::intptr_t* statusVector) {
  std::string text;
  std::string previous;
  if (!statusVector) return text;
  const ISC_STATUS* cursor = statusVector;
  char buffer[512];
  while (fb_interpret(buffer, sizeof buffer, &cursor) != 0) {
    std::string line(buffer);
    if (line == previous) continue;
    previous = line;
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

}  // namespace korva::db
