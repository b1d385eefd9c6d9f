#pragma once
// Puts a module package into effect in one installation folder: the module's
// executable is set aside as ".Old" and the package's executables are
// unpacked in its place.
#include <string>

#include "delivery/update_source.h"

namespace korva {
class Shell;
}

namespace korva::installer {

class ZipReader;

// The executable's path with its extension replaced by ".Old" (EFIN.EXE gives
// EFIN.Old; a name without extension gets ".Old" appended).
std::string SetAsideName(const std::string& executablePath);

// Unpacks every "*.EXE" of folder/packageName into folder; the module's
// executable folder/executableName is set aside under its ".Old" name when
// the new one is whole and takes its place. false, after its own message,
// when the package is missing, the extraction raised an error or no whole new
// executable of the module's name came out of it: the module's executable is
// then untouched. A package that is not a readable archive raises KorvaError
// to the caller. The package is left open in the reader.
//
// On a site with the maker's key `verified` is given: the package must come
// held open (it is then read through that handle, so the bytes extracted are
// the bytes verified); one that does not is never opened by its name, and
// fails as an extraction. Without the key it is null.
bool DescompactaPacote(Shell& shell, ZipReader& reader, const std::string& folder,
                       const std::string& executableName, const std::string& packageName,
                       delivery::HeldPackage* verified = nullptr);

// The message of an extraction that failed: the folder and the support.
void TellExtractionFailed(Shell& shell, const std::string& folder);

}  // namespace korva::installer
