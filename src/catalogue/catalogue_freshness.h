#pragma once
// How a site with the maker's key tells a fresh catalogue from an old one
// replayed: the maker raises "SERIE" with every catalogue, and the site keeps
// the highest it has accepted per edition in "KORVA.INI"; "VALIDADE", when
// the catalogue gives one, is the last day it may be used.
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "settings/profile_file.h"

namespace korva::catalogue {

// A catalogue that is not fresh: the log's reason and the operator's message.
struct Staleness {
  std::string reason;
  std::string message;
};

// The edition section's "SERIE" and "VALIDADE" against the kept SERIE (empty:
// none) and today. nullopt when the catalogue may be used.
std::optional<Staleness> CheckFreshness(const settings::ProfileFile& catalogue,
                                        std::string_view edition, std::string_view name,
                                        std::string_view keptSerie,
                                        const platform::LocalDateTime& today);

// The catalogue's SERIE, to be kept once every check has passed.
std::string SerieOf(const settings::ProfileFile& catalogue, std::string_view edition);

// True when serie is above the kept one, or none is kept.
bool Raises(std::string_view serie, std::string_view keptSerie);

}  // namespace korva::catalogue
