// The exported entry points. Nothing may leave through the C interface as an
// exception, so every failure inside ends as an empty value or "no update".
#include "korvalib.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "build_info.h"
#include "version_order.h"

extern "C" {

KORVALIB_API int32_t GetBuildInfo(const char* file, const char* key, char* value,
                                  int32_t capacity) {
  if (!file || !key || capacity < 0 || (capacity > 0 && !value)) return -1;
  std::string found;
  try {
    found = korvalib::ReadBuildInfo(file, key);
  } catch (...) {
    found.clear();
  }
  if (found.size() > KORVALIB_MAX_VALUE) found.resize(KORVALIB_MAX_VALUE);
  if (capacity > 0) {
    const std::size_t copied = std::min(found.size(), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(value, found.data(), copied);
    value[copied] = '\0';
  }
  return static_cast<int32_t>(found.size());
}

KORVALIB_API int32_t ExisteAtualizacao(const char* offered, const char* current) {
  try {
    return korvalib::IsLaterVersion(offered ? offered : "", current ? current : "") ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
