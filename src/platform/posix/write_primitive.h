#pragma once
// The one call through which every file write of the program reaches the
// system (File::Write). Each program links one of two definitions: the plain
// one (write_primitive/plain.cpp), or, in the test programs only, the one
// that can also fail as a full disk does (write_primitive/with_faults.cpp,
// platform/write_faults.h).
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace korva::platform::posix {

// write(2) on the descriptor of the file at `path`: the bytes written, or -1
// with errno set.
ssize_t WriteSome(int fd, const void* data, std::size_t size, const std::string& path);

}  // namespace korva::platform::posix
