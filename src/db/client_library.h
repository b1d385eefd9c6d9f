#pragma once
// The entry points of the Firebird client library that the program calls.
// Linked in where the system has the client as a library to link against;
// elsewhere (Windows) looked up by name in fbclient.dll the first time one is
// needed: beside the executable, or in the machine's registered Firebird
// installation. A client that cannot be loaded fails with a KorvaError that
// names it, as any failure to reach the database does.
#include <firebird/Interface.h>
#include <ibase.h>

namespace korva::db {

// isc_interprete is deprecated, yet the attachment count's wording of a
// status vector is the one it gives.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
struct ClientEntryPoints {
  decltype(&Firebird::fb_get_master_interface) getMasterInterface = nullptr;
  decltype(&::fb_interpret) interpret = nullptr;
  decltype(&::isc_attach_database) attachDatabase = nullptr;
  decltype(&::isc_database_info) databaseInfo = nullptr;
  decltype(&::isc_vax_integer) vaxInteger = nullptr;
  decltype(&::isc_detach_database) detachDatabase = nullptr;
  decltype(&::isc_interprete) interprete = nullptr;
};
#pragma GCC diagnostic pop

// Throws KorvaError when the client library or one of its entry points is
// missing; the next call tries again (the library may have been installed
// meanwhile).
const ClientEntryPoints& Client();

}  // namespace korva::db
