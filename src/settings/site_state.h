#pragma once
// Who and where the installation is: the edition and the application folder
// that the connection resolution decides at every opening, and the client
// identifier that the start-up reads once.
#include <string>

#include "versions/edition.h"

namespace korva::settings {

struct SiteState {
  versions::Edition edition = versions::Edition::Cartorio;
  std::string clientId;
  std::string applicationFolder;
};

}  // namespace korva::settings
