// libFuzzer target: whatever a file holds, reading its build information
// returns, stays inside the file and inside its bounds, and the version order
// never fails.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "build_info.h"
#include "version_order.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader takes a file; a memory file spares the disk.
  static const int fd = ::memfd_create("korvalib-fuzz", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
  if (size > 0 && ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

  for (const char* key : {"BUILD", "FileDescription"}) {
    const std::string value = korvalib::ReadBuildInfo(path, key);
    if (value.size() > size) std::abort();  // nothing comes from outside the file
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string_view a = text.substr(0, size / 2);
  const std::string_view b = text.substr(size / 2);
  // At most one of two versions is later than the other.
  if (korvalib::IsLaterVersion(a, b) && korvalib::IsLaterVersion(b, a)) std::abort();
  if (korvalib::IsLaterVersion(a, a)) std::abort();
  return 0;
}
