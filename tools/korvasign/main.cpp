// korvasign: the maker's side of signed updates. Makes the maker's key pair,
// prints the "CHAVE_PUBLICA" line for a site's "KORVA.INI", writes the ".sig"
// beside a catalogue or a script package, prints the "SHA256" line of a
// module package, and publishes an update server's folder in one step.
//
//   korvasign gerar-chave ARQUIVO_DA_CHAVE
//   korvasign chave-publica ARQUIVO_DA_CHAVE
//   korvasign assinar-catalogo ARQUIVO_DA_CHAVE CATALOGO...
//   korvasign assinar-pacote ARQUIVO_DA_CHAVE PACOTE...
//   korvasign sha256 PACOTE...
//   korvasign publicar ARQUIVO_DA_CHAVE PASTA
//
// A signature covers a statement of the file's kind, name and SHA-512, never
// the file itself, so files of any size are signed. The key file holds the
// 32-byte private seed in Base64 on one line. It is written once, readable by
// its owner only, and never overwritten.
#include <array>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/files.h"
#include "publish.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "trust/trust.h"

namespace {

using korva::KorvaError;
namespace platform = korva::platform;
namespace trust = korva::trust;
namespace text = korva::text;
namespace sign = korva::sign;

constexpr const char* kUsage =
    "uso: korvasign gerar-chave ARQUIVO_DA_CHAVE\n"
    "     korvasign chave-publica ARQUIVO_DA_CHAVE\n"
    "     korvasign assinar-catalogo ARQUIVO_DA_CHAVE CATALOGO...\n"
    "     korvasign assinar-pacote ARQUIVO_DA_CHAVE PACOTE...\n"
    "     korvasign sha256 PACOTE...\n"
    "     korvasign publicar ARQUIVO_DA_CHAVE PASTA\n";

std::string PublicKeyLine(const trust::PublicKey& key) {
  return "CHAVE_PUBLICA=" +
         trust::EncodeBase64(std::string(reinterpret_cast<const char*>(key.data()), key.size()));
}

void SignFiles(const std::string& keyPath, const std::vector<std::string>& files,
               trust::Domain domain) {
  const trust::KeyPair key = sign::ReadKey(keyPath);
  for (const std::string& path : files) {
    if (domain == trust::Domain::Catalogue) sign::RequireSerie(path);
    sign::WriteSignature(key, domain, path);
    std::cout << text::ToUtf8(trust::SignatureName(path)) << '\n';
  }
}

int Run(const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
  if (verb == "gerar-chave" && rest.size() == 1) {
    if (platform::FileExists(rest[0])) {
      throw KorvaError("O arquivo " + rest[0] + " já existe: uma chave nunca é substituída.");
    }
    const trust::KeyPair pair = trust::GenerateKeyPair();
    const std::string seed =
        trust::EncodeBase64(std::string(reinterpret_cast<const char*>(pair.seed.data()), 32));
    platform::ReplaceFileContent(
        rest[0], [&](platform::File& file) { file.Write(seed + "\n"); },
        platform::ReplaceOptions{.ownerOnly = true});
    std::cout << text::ToUtf8(PublicKeyLine(pair.publicKey)) << '\n';
    return 0;
  }
  if (verb == "chave-publica" && rest.size() == 1) {
    std::cout << text::ToUtf8(PublicKeyLine(sign::ReadKey(rest[0]).publicKey)) << '\n';
    return 0;
  }
  if ((verb == "assinar-catalogo" || verb == "assinar-pacote") && rest.size() >= 2) {
    SignFiles(rest[0], {rest.begin() + 1, rest.end()},
              verb == "assinar-catalogo" ? trust::Domain::Catalogue : trust::Domain::ScriptPackage);
    return 0;
  }
  if (verb == "sha256" && !rest.empty()) {
    for (const std::string& path : rest) {
      std::cout << "SHA256=" << trust::Hex(trust::FileSha256(path)) << '\n';
    }
    return 0;
  }
  if (verb == "publicar" && rest.size() == 2) {
    for (const std::string& line : sign::Publish(rest[0], rest[1])) {
      std::cout << text::ToUtf8(line) << '\n';
    }
    return 0;
  }
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(korva::text::FromUtf8(argv[i]));
  try {
    return Run(args);
  } catch (const std::exception& e) {
    std::cerr << "korvasign: " << korva::text::ToUtf8(e.what()) << '\n';
    return 1;
  }
}
