#include "publish.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/file.h"
#include "platform/files.h"
#include "settings/installed_modules.h"
#include "settings/profile_file.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"
#include "versions/edition.h"

namespace korva::sign {
namespace {

// Sections that name no package: each edition's own (its "SERIE" lives in
// the one named after it), its connection section's spelling, and the
// databases'.
bool NamesNoPackage(const std::string& section) {
  const auto is = [&](const char* named) { return text::SameText1252(section, named); };
  return is(versions::kUsersSection) ||
         std::any_of(std::begin(versions::kEditions), std::end(versions::kEditions),
                     [&](versions::Edition edition) {
                       const versions::EditionTable& table = versions::TableOf(edition);
                       return is(table.name) || is(table.connectionSection) ||
                              is(table.mainSection);
                     });
}

// The edition whose catalogue this is: by its name, or else the edition
// section it has. Its section's name.
std::string EditionOf(const std::string& path, const settings::ProfileFile& catalogue) {
  const std::string name(platform::FileNameOf(path));
  for (const versions::Edition edition : versions::kEditions) {
    const versions::EditionTable& known = versions::TableOf(edition);
    if (text::SameText1252(name, known.catalogueFile)) return known.name;
  }
  for (const versions::Edition edition : versions::kEditions) {
    const versions::EditionTable& known = versions::TableOf(edition);
    if (!catalogue.ReadSection(known.name).empty()) return known.name;
  }
  throw KorvaError("O catálogo " + path + " não tem seção EMPRESA nem CARTORIO.");
}

std::string Digest512Statement(trust::Domain domain, const std::string& path) {
  const auto statement =
      trust::Statement(domain, platform::FileNameOf(path), trust::FileSha512(path));
  if (!statement) {
    throw KorvaError("O nome de " + path + " não pode ser assinado: use até " +
                     std::to_string(trust::kLongestName) + " caracteres ASCII.");
  }
  return *statement;
}

bool SignatureHolds(const trust::PublicKey& key, trust::Domain domain, const std::string& path) {
  const auto signature = platform::ReadFileBytes(trust::SignatureName(path));
  const auto statement =
      trust::Statement(domain, platform::FileNameOf(path), trust::FileSha512(path));
  return signature && statement && trust::VerifySignature(key, *statement, *signature);
}

struct Pin {
  std::string section;
  std::string package;
  std::string sha256;
  std::string size;
  bool changed;  // the section pinned something else, or nothing
};

// The pins of every module section whose package lies in the folder; a
// section that pins a package that is not there stops the publication.
std::vector<Pin> PinsOf(const settings::ProfileFile& catalogue, const std::string& folder) {
  std::vector<Pin> pins;
  for (const std::string& section : catalogue.ReadSections()) {
    if (NamesNoPackage(section)) continue;
    const std::string package = settings::PackageNameOf(section);
    const std::string path = platform::JoinPath(folder, package);
    if (platform::FileExists(path)) {
      Pin pin{section, package, trust::Hex(trust::FileSha256(path)),
              std::to_string(platform::FileSize(path).value_or(0)), false};
      std::string pinned = catalogue.ReadString(section, "SHA256", "");
      for (char& ch : pinned) ch = text::LowerChar1252(ch);
      pin.changed =
          pinned != pin.sha256 || catalogue.ReadString(section, "TAMANHO", "") != pin.size;
      pins.push_back(pin);
    } else if (!catalogue.ReadString(section, "SHA256", "").empty() ||
               !catalogue.ReadString(section, "TAMANHO", "").empty()) {
      throw KorvaError(
          text::Format("O pacote %s da seção [%s] não foi encontrado.", {path, section}));
    }
  }
  return pins;
}

bool IsScriptPackage(const std::string& name) {
  const std::string upper = text::Upper1252(name);
  return upper.rfind("SCRIPT_", 0) == 0 && upper.size() > 11 &&
         upper.compare(upper.size() - 4, 4, ".INI") == 0;
}

// The script packages still to be signed; one whose ".sig" does not verify
// stops the publication.
std::vector<std::string> UnsignedPackages(const trust::PublicKey& key, const std::string& folder) {
  std::vector<std::string> names = platform::FileNamesIn(folder);
  std::sort(names.begin(), names.end());
  std::vector<std::string> unsigned_;
  for (const std::string& name : names) {
    if (!IsScriptPackage(name)) continue;
    const std::string path = platform::JoinPath(folder, name);
    if (!platform::FileExists(trust::SignatureName(path))) {
      unsigned_.push_back(path);
    } else if (!SignatureHolds(key, trust::Domain::ScriptPackage, path)) {
      throw KorvaError("A assinatura " + trust::SignatureName(path) + " não confere.");
    }
  }
  return unsigned_;
}

std::string NextSerie(const settings::ProfileFile& catalogue, const std::string& edition) {
  const std::string current = catalogue.ReadString(edition, "SERIE", "");
  if (current.empty()) return "1";
  if (!trust::IsSerie(current)) throw KorvaError("A SERIE " + current + " do catálogo é inválida.");
  const long long next = std::stoll(current) + 1;
  if (next > 999999999) throw KorvaError("A SERIE do catálogo não pode passar de 999999999.");
  return std::to_string(next);
}

std::string FindCatalogue(const std::string& folder) {
  std::optional<std::string> found;
  for (const versions::Edition edition : versions::kEditions) {
    const std::string path = platform::JoinPath(folder, versions::TableOf(edition).catalogueFile);
    if (!platform::FileExists(path)) continue;
    if (found) throw KorvaError("A pasta " + folder + " tem catálogos das duas edições.");
    found = path;
  }
  if (!found) throw KorvaError("A pasta " + folder + " não tem catálogo.");
  return *found;
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  platform::ReplaceFileContent(path, [&](platform::File& file) { file.Write(bytes); });
}

}  // namespace

trust::KeyPair ReadKey(const std::string& path) {
  const auto text = platform::ReadFileBytes(path);
  if (!text) throw KorvaError("Não foi possível ler a chave " + path + ".");
  const auto seed = trust::DecodeBase64(*text);
  if (!seed || seed->size() != 32) throw KorvaError("O arquivo " + path + " não contém uma chave.");
  trust::KeyPair pair{};
  std::memcpy(pair.seed.data(), seed->data(), 32);
  pair.publicKey = trust::PublicKeyOf(pair.seed);
  return pair;
}

void WriteSignature(const trust::KeyPair& key, trust::Domain domain, const std::string& path) {
  WriteWhole(trust::SignatureName(path), trust::Sign(key, Digest512Statement(domain, path)));
  if (!SignatureHolds(key.publicKey, domain, path)) {
    throw KorvaError("A assinatura de " + path + " não confere.");
  }
}

void RequireSerie(const std::string& cataloguePath) {
  const settings::ProfileFile catalogue(cataloguePath);
  const std::string edition = EditionOf(cataloguePath, catalogue);
  if (!trust::IsSerie(catalogue.ReadString(edition, "SERIE", ""))) {
    throw KorvaError("O catálogo " + cataloguePath + " não traz SERIE válida na seção [" + edition +
                     "].");
  }
}

std::vector<std::string> Publish(const std::string& keyPath, const std::string& folder) {
  const trust::KeyPair key = ReadKey(keyPath);
  const std::string path = FindCatalogue(folder);
  const std::string name(platform::FileNameOf(path));
  const settings::ProfileFile catalogue(path);
  const std::string edition = EditionOf(path, catalogue);
  // Everything that can stop the publication is known before a file changes.
  // A catalogue changed since it was last signed is taken only when the maker
  // took its old signature away: a change made by someone else on the way to
  // the server is not signed over.
  if (platform::FileExists(trust::SignatureName(path)) &&
      !SignatureHolds(key.publicKey, trust::Domain::Catalogue, path)) {
    throw KorvaError("A assinatura " + trust::SignatureName(path) +
                     " não confere: apague-a se o catálogo foi alterado por você.");
  }
  const std::vector<Pin> pins = PinsOf(catalogue, folder);
  const std::vector<std::string> toSign = UnsignedPackages(key.publicKey, folder);
  const std::string serie = NextSerie(catalogue, edition);

  // The new catalogue is made beside the old one and put in its place whole.
  const std::string draft = platform::JoinPath(folder, "." + name + ".korvasign");
  std::vector<std::string> done;
  try {
    WriteWhole(draft, platform::ReadFileBytes(path).value_or(""));
    settings::ProfileFile edited(draft);
    for (const Pin& pin : pins) {
      if (!pin.changed) continue;
      edited.WriteString(pin.section, "SHA256", pin.sha256);
      edited.WriteString(pin.section, "TAMANHO", pin.size);
      done.push_back("SHA256 e TAMANHO de " + pin.package + " em [" + pin.section + "]");
    }
    edited.WriteString(edition, "SERIE", serie);
    done.push_back("SERIE " + serie + " em " + name);
    WriteWhole(path, platform::ReadFileBytes(draft).value_or(""));
  } catch (...) {
    platform::DeleteFile(draft);
    throw;
  }
  platform::DeleteFile(draft);
  WriteSignature(key, trust::Domain::Catalogue, path);
  done.push_back("assinado: " + name);
  for (const std::string& package : toSign) {
    WriteSignature(key, trust::Domain::ScriptPackage, package);
    done.push_back("assinado: " + std::string(platform::FileNameOf(package)));
  }
  return done;
}

}  // namespace korva::sign
