#pragma once
// The maker's update server, built into the program (port 21). "KORVA.INI"
// may point the program at another one (key SERVIDOR_FTP), which is how the
// demo and the end-to-end tests reach a local server.
#include <string>

namespace korva {

std::string BuiltInUpdateServerHost();

}  // namespace korva
