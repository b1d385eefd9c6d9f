#pragma once
// What the maker's tool does with files: signatures written and checked as a
// site checks them, and an update server's folder published in one step.
#include <string>
#include <vector>

#include "trust/trust.h"

namespace korva::sign {

trust::KeyPair ReadKey(const std::string& path);

// Writes the ".sig" beside the file: the key's signature of the file's
// statement. What the site will check is checked here first.
void WriteSignature(const trust::KeyPair& key, trust::Domain domain, const std::string& path);

// A catalogue is signed only with a valid "SERIE" in its edition's section.
void RequireSerie(const std::string& cataloguePath);

// The folder of one edition as the update server is to hold it (the
// maker's own copy, uploaded afterwards: what lies in it is signed): every
// module section whose package lies there gets its "SHA256" and "TAMANHO",
// "SERIE" goes up by one, the catalogue is signed and so is every script
// package without a ".sig". Nothing is written when a ".sig" there does not
// verify (the catalogue's included: a maker who changed the catalogue takes
// its old one away first) or a section pins a package that is missing.
// Returns what it changed, line by line.
std::vector<std::string> Publish(const std::string& keyPath, const std::string& folder);

}  // namespace korva::sign
