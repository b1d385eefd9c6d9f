#pragma once
// Starting other programs without waiting for them.
#include <string>
#include <vector>

namespace korva::platform {

// Starts the program at that path with the given arguments and returns at
// once. The program runs in its own folder, with no handle of ours inherited
// and detached from us (we never wait for it, it never lingers as a zombie).
// False when it could not be started (missing, not executable, folder gone).
bool StartProgram(const std::string& path, const std::vector<std::string>& arguments = {});

// Opens the address in the user's default browser (xdg-open). A browser that
// cannot start is not reported.
void OpenWebAddress(const std::string& address);

}  // namespace korva::platform
