#pragma once
// Version texts ("3.16.47"): the next version of a stepping sequence and the
// age test of the local script file's sections. Versions are never
// normalised: "3.2.1" and "3.2.01" are different texts, and "the same
// version" is exact text equality.
#include <string>
#include <string_view>

namespace korva::versions {

// The version after the given one. The patch is stepped, carrying into the
// minor part only when the patch is exactly "99" ("3.1.99" -> "3.2.00",
// "3.2.00" -> "3.2.1"). Only the first 7 characters after the first "." are
// read, and at most 3 of them as the patch. A patch (or, on a carry, a minor
// part) that is not a decimal whole number fails with ConvertError
// "'<part>' is not a valid integer value".
std::string ProximaVersao(std::string_view version);

// A version part as exactly 2 characters: padded with "0" on the left, or cut
// to its first 2 characters.
std::string CompletaComZeros(std::string_view part);

// True when the section named by the version `secao` is old against the
// reference version: each part, made 2 characters wide, compared by character
// codes (major and minor not above the reference's, patch below it). The test
// is part by part, not an ordering of whole versions.
bool SecaoAntiga(std::string_view secao, std::string_view referencia);

}  // namespace korva::versions
