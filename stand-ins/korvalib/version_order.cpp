#include "version_order.h"

#include <vector>

namespace korvalib {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Parts(std::string_view version) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto dot = version.find('.');
    parts.push_back(Trim(version.substr(0, dot)));
    if (dot == std::string_view::npos) return parts;
    version.remove_prefix(dot + 1);
  }
}

bool IsNumber(std::string_view part) {
  if (part.empty()) return false;
  for (char c : part)
    if (c < '0' || c > '9') return false;
  return true;
}

// Digit strings of any length: no overflow, leading zeros do not count.
int CompareNumbers(std::string_view a, std::string_view b) {
  while (a.size() > 1 && a.front() == '0') a.remove_prefix(1);
  while (b.size() > 1 && b.front() == '0') b.remove_prefix(1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

bool IsLaterVersion(std::string_view offered, std::string_view current) {
  offered = Trim(offered);
  current = Trim(current);
  if (offered.empty()) return false;
  if (current.empty()) return true;

  const auto a = Parts(offered);
  const auto b = Parts(current);
  const std::size_t count = a.size() > b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view x = i < a.size() ? a[i] : std::string_view("0");
    const std::string_view y = i < b.size() ? b[i] : std::string_view("0");
    if (IsNumber(x) && IsNumber(y)) {
      const int c = CompareNumbers(x, y);
      if (c != 0) return c > 0;
    } else if (x != y) {
      // "3.a.5" against "3.b.5": no order we could defend, so no update.
      return false;
    }
  }
  return false;
}

}  // namespace korvalib
