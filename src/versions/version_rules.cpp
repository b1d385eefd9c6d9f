#include "versions/version_rules.h"

#include "text/error.h"
#include "text/strings.h"

namespace korva::versions {
namespace {

// The parts of a version as the stepping rule reads them, by position: with
// no "." the rest is read from the start, and with no second "." the minor
// part is empty and the patch is read from the start of the rest.
struct SteppingParts {
  std::string_view major;
  std::string_view minor;
  std::string_view patch;
};

SteppingParts SplitForStepping(std::string_view version) {
  const std::size_t dot = version.find('.');
  SteppingParts parts;
  std::string_view rest;
  if (dot == std::string_view::npos) {
    rest = version.substr(0, 7);
  } else {
    parts.major = version.substr(0, dot);
    rest = version.substr(dot + 1, 7);
  }
  const std::size_t dot2 = rest.find('.');
  if (dot2 == std::string_view::npos) {
    parts.patch = rest.substr(0, 3);
  } else {
    parts.minor = rest.substr(0, dot2);
    parts.patch = rest.substr(dot2 + 1, 3);
  }
  return parts;
}

struct AgeParts {
  std::string major;
  std::string minor;
  std::string patch;
};

// The age test reads its parts more generously than the stepping rule (10
// characters, trimmed), so both readings are kept apart.
AgeParts SplitForAge(std::string_view version) {
  const std::size_t dot = version.find('.');
  AgeParts parts;
  std::string rest;
  if (dot == std::string_view::npos) {
    rest = text::Trim(version.substr(0, 10));
  } else {
    parts.major = std::string(version.substr(0, dot));
    rest = text::Trim(version.substr(dot + 1, 10));
  }
  const std::size_t dot2 = rest.find('.');
  if (dot2 == std::string::npos) {
    parts.patch = text::Trim(std::string_view(rest).substr(0, 10));
  } else {
    parts.minor = rest.substr(0, dot2);
    parts.patch = text::Trim(std::string_view(rest).substr(dot2 + 1, 10));
  }
  return parts;
}

// Version parts are decimal: the general conversion would also take "$1F",
// "x5" or " 5", which no version is written as and which must not step
// silently into some other number.
std::int64_t DecimalPart(std::string_view part) {
  std::size_t i = part.empty() || (part[0] != '+' && part[0] != '-') ? 0 : 1;
  const bool digitsOnly =
      i < part.size() && part.find_first_not_of("0123456789", i) == std::string_view::npos;
  if (!digitsOnly) throw ConvertError("'" + std::string(part) + "' is not a valid integer value");
  return text::StrToInt(part);
}

// Two 2-character texts compared by unsigned character codes.
int CompareCodes(const std::string& a, const std::string& b) {
  for (std::size_t i = 0; i < 2; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace

std::string ProximaVersao(std::string_view version) {
  const SteppingParts parts = SplitForStepping(version);
  std::string minor(parts.minor);
  std::string patch;
  if (parts.patch != "99") {
    patch = text::IntToStr(DecimalPart(parts.patch) + 1);
  } else {
    minor = text::IntToStr(DecimalPart(parts.minor) + 1);
    patch = "00";
  }
  return text::Trim(std::string(parts.major) + "." + minor + "." + patch);
}

std::string CompletaComZeros(std::string_view part) {
  if (part.size() >= 2) return std::string(part.substr(0, 2));
  return std::string(2 - part.size(), '0') + std::string(part);
}

bool SecaoAntiga(std::string_view secao, std::string_view referencia) {
  const AgeParts s = SplitForAge(secao);
  const AgeParts r = SplitForAge(referencia);
  return CompareCodes(CompletaComZeros(s.major), CompletaComZeros(r.major)) <= 0 &&
         CompareCodes(CompletaComZeros(s.minor), CompletaComZeros(r.minor)) <= 0 &&
         CompareCodes(CompletaComZeros(s.patch), CompletaComZeros(r.patch)) < 0;
}

}  // namespace korva::versions
