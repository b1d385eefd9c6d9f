#include "vendor/vendor_library.h"

#include <algorithm>
#include <vector>

#include "korvalib.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::vendor {
namespace {

// Loaded for one call only: the library beside the executable may be
// replaced between calls, and nothing of it stays in our process.
platform::DynamicLibrary LoadKorvaLib() {
  const std::string path =
      text::Trim(platform::JoinPath(platform::ExecutableFolder(), kLibraryName));
  platform::DynamicLibrary library(path);
  if (!library.IsLoaded()) throw KorvaError("KorvaLib.Dll não disponível.");
  return library;
}

template <typename Function>
Function EntryPoint(const platform::DynamicLibrary& library, const char* name) {
  void* address = library.Lookup(name);
  if (!address)
    throw KorvaError(std::string("Ponto de Entrada não encontrado na Dll do KORVA - ") + name);
  return reinterpret_cast<Function>(address);
}

}  // namespace

std::string GetBuildInfo(const std::string& file, const std::string& key) {
  const platform::DynamicLibrary library = LoadKorvaLib();
  const auto getBuildInfo = EntryPoint<KorvaGetBuildInfoFn>(library, KORVALIB_GET_BUILD_INFO);
  std::vector<char> buffer(256);
  std::int32_t length = getBuildInfo(file.c_str(), key.c_str(), buffer.data(),
                                     static_cast<std::int32_t>(buffer.size()));
  if (length >= static_cast<std::int32_t>(buffer.size()) && length <= KORVALIB_MAX_VALUE) {
    buffer.resize(static_cast<std::size_t>(length) + 1);
    length = getBuildInfo(file.c_str(), key.c_str(), buffer.data(),
                          static_cast<std::int32_t>(buffer.size()));
  }
  if (length <= 0) return {};
  // Whatever the library claims, only what it wrote into our buffer counts.
  const std::size_t written = std::min(static_cast<std::size_t>(length), buffer.size() - 1);
  return std::string(buffer.data(), written);
}

bool ExisteAtualizacao(const std::string& offered, const std::string& current) {
  const platform::DynamicLibrary library = LoadKorvaLib();
  const auto existeAtualizacao =
      EntryPoint<KorvaExisteAtualizacaoFn>(library, KORVALIB_EXISTE_ATUALIZACAO);
  return existeAtualizacao(offered.c_str(), current.c_str()) != 0;
}

}  // namespace korva::vendor
