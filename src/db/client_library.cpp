#include "db/client_library.h"

#ifdef KORVA_FBCLIENT_AT_RUN_TIME
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/machine_settings.h"
#include "text/error.h"
#endif

namespace korva::db {

#ifndef KORVA_FBCLIENT_AT_RUN_TIME

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
const ClientEntryPoints& Client() {
  static const ClientEntryPoints linked{
      &Firebird::fb_get_master_interface,
      &::fb_interpret,
      &::isc_attach_database,
      &::isc_database_info,
      &::isc_vax_integer,
      &::isc_detach_database,
      &::isc_interprete,
  };
  return linked;
}
#pragma GCC diagnostic pop

#else

namespace {

constexpr const char* kClientFile = "fbclient.dll";
// Where the Firebird installer records the folder of the default instance.
constexpr const char* kInstancesKey = "SOFTWARE\\Firebird Project\\Firebird Server\\Instances";
constexpr const char* kDefaultInstance = "DefaultInstance";

// Beside the executable first: a site may ship its own client with the
// program; then the machine's Firebird installation.
std::vector<std::string> CandidatePaths() {
  std::vector<std::string> paths{platform::JoinPath(platform::ExecutableFolder(), kClientFile)};
  if (const auto folder = platform::MachineSettingText(kInstancesKey, kDefaultInstance);
      folder && !folder->empty()) {
    paths.push_back(platform::JoinPath(platform::ExcludeTrailingSeparator(*folder), kClientFile));
  }
  return paths;
}

template <typename Function>
void LookUp(const platform::DynamicLibrary& library, const char* name, Function& entry) {
  entry = reinterpret_cast<Function>(library.Lookup(name));
  if (!entry) {
    throw KorvaError(std::string("The Firebird client library has no entry point ") + name + ": " +
                     kClientFile);
  }
}

struct LoadedClient {
  platform::DynamicLibrary library;
  ClientEntryPoints entryPoints;
};

std::unique_ptr<LoadedClient> Load() {
  std::string tried;
  for (const std::string& path : CandidatePaths()) {
    platform::DynamicLibrary library(path);
    if (!library.IsLoaded()) {
      tried += (tried.empty() ? "" : "; ") + library.LoadError();
      continue;
    }
    auto client = std::make_unique<LoadedClient>();
    ClientEntryPoints& e = client->entryPoints;
    LookUp(library, "fb_get_master_interface", e.getMasterInterface);
    LookUp(library, "fb_interpret", e.interpret);
    LookUp(library, "isc_attach_database", e.attachDatabase);
    LookUp(library, "isc_database_info", e.databaseInfo);
    LookUp(library, "isc_vax_integer", e.vaxInteger);
    LookUp(library, "isc_detach_database", e.detachDatabase);
    LookUp(library, "isc_interprete", e.interprete);
    client->library = std::move(library);
    return client;
  }
  throw KorvaError(std::string("The Firebird client library ") + kClientFile +
                   " cannot be loaded: " + tried);
}

}  // namespace

// Loaded once and kept for the life of the process: the client keeps
// threads and attachments of its own.
const ClientEntryPoints& Client() {
  static std::mutex guard;
  static std::unique_ptr<LoadedClient> loaded;
  const std::lock_guard<std::mutex> lock(guard);
  if (!loaded) loaded = Load();
  return loaded->entryPoints;
}

#endif

}  // namespace korva::db
