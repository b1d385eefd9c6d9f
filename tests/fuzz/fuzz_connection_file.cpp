// The connection-file loader on arbitrary bytes: input is a section name, a
// NUL, then the file. Whatever the file holds, every line it yields must be
// one the connection layer can take as it stands.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "db/connection.h"
#include "settings/connection_file.h"

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\0');
  const std::string_view section =
      split == std::string_view::npos ? "EMPRESA" : input.substr(0, split);
  const std::string_view file = split == std::string_view::npos ? input : input.substr(split + 1);

  const auto lines = korva::settings::ConnectionSectionLines(file, section);
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') std::abort();
    if (line.find_first_of("\r\n") != std::string::npos) std::abort();
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
      if (IsBlank(line.front()) || IsBlank(line.back())) std::abort();
      continue;
    }
    if (eq > 0 && IsBlank(line[eq - 1])) std::abort();
    if (eq + 1 < line.size() && IsBlank(line[eq + 1])) std::abort();
  }
  // Looking a parameter up never reads past what the loader gave.
  (void)korva::db::ParameterValue(lines, "Database");
  (void)korva::db::HasParameter(lines, section);
  return 0;
}
