#include "catalogue/catalogue_freshness.h"

#include <algorithm>
#include <cstdint>

#include "trust/trust.h"

namespace korva::catalogue {
namespace {

// A value that no profile line can hold: tells a missing key from an empty one.
constexpr const char* kAbsent = "\n";

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

std::int64_t Number(std::string_view digits) {
  std::int64_t n = 0;
  for (const char ch : digits) n = n * 10 + (ch - '0');
  return n;
}

struct Date {
  std::int64_t year, month, day;
  auto operator<=>(const Date&) const = default;
};

// "AAAA-MM-DD", a day that the calendar has.
std::optional<Date> ParseDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const std::string_view y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
  if (!AllDigits(y) || !AllDigits(m) || !AllDigits(d)) return std::nullopt;
  const Date date{Number(y), Number(m), Number(d)};
  const bool leap = (date.year % 4 == 0 && date.year % 100 != 0) || date.year % 400 == 0;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (date.year < 1 || date.month < 1 || date.month > 12 || date.day < 1) return std::nullopt;
  const int last = kDays[date.month - 1] + (date.month == 2 && leap ? 1 : 0);
  if (date.day > last) return std::nullopt;
  return date;
}

}  // namespace

std::string SerieOf(const settings::ProfileFile& catalogue, std::string_view edition) {
  return std::to_string(Number(catalogue.ReadString(edition, "SERIE", "")));
}

bool Raises(std::string_view serie, std::string_view keptSerie) {
  return keptSerie.empty() || Number(serie) > Number(keptSerie);
}

std::optional<Staleness> CheckFreshness(const settings::ProfileFile& catalogue,
                                        std::string_view edition, std::string_view name,
                                        std::string_view keptSerie,
                                        const platform::LocalDateTime& today) {
  const std::string file = "O arquivo de atualização " + std::string(name);
  const std::string serie = catalogue.ReadString(edition, "SERIE", kAbsent);
  if (serie == kAbsent) return Staleness{"SERIE ausente", file + " não traz SERIE."};
  if (!trust::IsSerie(serie)) return Staleness{"SERIE inválida", file + " traz SERIE inválida."};
  const std::string validade = catalogue.ReadString(edition, "VALIDADE", kAbsent);
  if (validade != kAbsent) {
    const auto last = ParseDate(validade);
    if (!last) return Staleness{"VALIDADE inválida", file + " traz VALIDADE inválida."};
    if (Date{today.year, today.month, today.day} > *last) {
      return Staleness{"vencido em " + validade, file + " venceu em " + validade + "."};
    }
  }
  if (!keptSerie.empty() && Number(serie) < Number(keptSerie)) {
    return Staleness{"SERIE " + std::to_string(Number(serie)) + " menor que a já aceita (" +
                         std::to_string(Number(keptSerie)) + ")",
                     file + " é mais antigo que o último aceito nesta instalação."};
  }
  return std::nullopt;
}

}  // namespace korva::catalogue
