#include "app/update_server.h"

#ifndef KORVA_FTP_HOST
#define KORVA_FTP_HOST "ftp.korva.com.br"
#endif

namespace korva {

std::string BuiltInUpdateServerHost() {
  return KORVA_FTP_HOST;
}

}  // namespace korva
