#include <unistd.h>

#include "platform/posix/write_primitive.h"

namespace korva::platform::posix {

ssize_t WriteSome(int fd, const void* data, std::size_t size, const std::string&) {
  return ::write(fd, data, size);
}

}  // namespace korva::platform::posix
