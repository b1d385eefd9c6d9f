// The updater's build information, embedded in the executable where KorvaLib's
// GetBuildInfo finds it (a KORVA-BUILDINFO block; the format is described in
// korvalib.h). The title of the main window ends with its BUILD, and a second
// copy of the program finds the first by that title.
#ifndef KORVA_BUILD
#error "KORVA_BUILD must hold the updater's build text"
#endif

namespace korva {

// One literal, so that the block lies in the file as one piece; "used" keeps
// it although no code reads it.
extern const char kEmbeddedBuildInfo[];
[[gnu::used]] const char kEmbeddedBuildInfo[] =
    "\nKORVA-BUILDINFO\n"
    "BUILD=" KORVA_BUILD
    "\n"
    "PRODUCT=KORVA Update\n"
    "COMPANY=KORVA Sistemas\n"
    "FILEDESCRIPTION=KORVA - Atualização de Sistemas / Banco de Dados\n"
    "KORVA-BUILDINFO-END\n";

}  // namespace korva
