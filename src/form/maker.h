#pragma once
// The maker's built-in addresses.

namespace korva::form {

inline constexpr const char* kMakerWebAddress = "www.korva.com.br";
inline constexpr const char* kSupportTelephone = "(11) 3456-7890";
// Web server that holds the updater's own program file for self-update.
inline constexpr const char* kSelfUpdateHost = "suporte.korva.com.br";
inline constexpr const char* kSelfUpdatePath = "/Korva_utilitarios/korvaupdate.exe";

}  // namespace korva::form
