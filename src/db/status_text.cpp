#include "db/status_text.h"

#include "db/client_library.h"

namespace korva::db {

std::string JoinStatusLines(const std::function<bool(std::string& line)>& next) {
  std::string text;
  std::string previous;
  for (std::string line; next(line);) {
    if (line == previous) continue;
    previous = line;
    if (!text.empty()) text += "\r\n";
    text += line;
  }
  return text;
}

std::string InterpretStatus(const std::intptr_t* statusVector) {
  if (!statusVector) return {};
  const ISC_STATUS* cursor = statusVector;
  char buffer[512];
  return JoinStatusLines([&](std::string& line) {
    if (Client().interpret(buffer, sizeof buffer, &cursor) == 0) return false;
    line = buffer;
    return true;
  });
}

}  // namespace korva::db
