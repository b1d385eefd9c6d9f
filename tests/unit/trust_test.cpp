// Signatures and digests of update files, checked against another
// implementation: OpenSSL's Ed25519 and SHA-512, coreutils' sha256sum. The
// statement a signature covers is built here on our own, from OpenSSL's
// digest, at the file sizes that break libraries.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "trust/trust.h"

namespace korva::trust {
namespace {

using testing::ReadBytes;
using testing::RunCommand;
using testing::WriteBytes;

std::string Output(const std::vector<std::string>& argv) {
  std::string out;
  EXPECT_EQ(RunCommand(argv, out), 0) << argv[0] << ' ' << argv[1] << ": " << out;
  return out;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * seed + i / 7);
  return bytes;
}

// OpenSSL's key, its raw public key, and its signature of a file.
struct OpenSslSigner {
  explicit OpenSslSigner(const testing::TempDir& d) : dir(d) {
    Output({"openssl", "genpkey", "-algorithm", "ed25519", "-out", dir.File("key.pem")});
    Output({"openssl", "pkey", "-in", dir.File("key.pem"), "-pubout", "-outform", "DER", "-out",
            dir.File("pub.der")});
    const std::string der = ReadBytes(dir.File("pub.der"));
    std::copy(der.end() - 32, der.end(), key.begin());
  }
  std::string SignatureFile(const std::string& message) const {
    WriteBytes(dir.File("message"), message);
    Output({"openssl", "pkeyutl", "-sign", "-rawin", "-inkey", dir.File("key.pem"), "-in",
            dir.File("message"), "-out", dir.File("sig")});
    return EncodeBase64(ReadBytes(dir.File("sig"))) + "\r\n";
  }
  // Ours, verified by OpenSSL with our public key in DER.
  bool Verifies(const PublicKey& ours, const std::string& message, const std::string& sig) const {
    WriteBytes(dir.File("ours.der"),
               std::string("\x30\x2a\x30\x05\x06\x03\x2b\x65\x70\x03\x21\x00", 12) +
                   std::string(ours.begin(), ours.end()));
    WriteBytes(dir.File("message"), message);
    WriteBytes(dir.File("ours.sig"), *DecodeBase64(sig));
    std::string out;
    return RunCommand({"openssl", "pkeyutl", "-verify", "-pubin", "-keyform", "DER", "-inkey",
                       dir.File("ours.der"), "-rawin", "-in", dir.File("message"), "-sigfile",
                       dir.File("ours.sig")},
                      out) == 0;
  }
  const testing::TempDir& dir;
  PublicKey key{};
};

// A signature of some file named so, by another key than the maker's.
std::string SignatureFile(const KeyPair& key, const std::string& name) {
  return Sign(key, *Statement(Domain::ScriptPackage, name, Sha512Of(name)));
}

TEST(Base64, OnlyWellFormedTextDecodes) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"", std::string()},
      {"TQ==", std::string("M")},
      {"TWE=", std::string("Ma")},
      {"TWFu", std::string("Man")},
      {" TWFu\r\n", std::string("Man")},
      {"TWF", std::nullopt},
      {"T===", std::nullopt},
      {"TW=u", std::nullopt},
      {"TW*u", std::nullopt},
      {"TWFuTQ==TWFu", std::nullopt},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(DecodeBase64(text), bytes) << text;
  for (const std::string& bytes : {std::string(), std::string("M"), std::string("Ma"),
                                   std::string("Man"), std::string("\0\xff\x10", 3)})
    EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes);
  EXPECT_TRUE(ParsePublicKey(EncodeBase64(std::string(32, 'b'))));
  EXPECT_FALSE(ParsePublicKey(EncodeBase64(std::string(32, 'k'))));  // no point of the curve
  EXPECT_FALSE(ParsePublicKey(EncodeBase64(std::string(31, 'k'))));
  EXPECT_FALSE(ParsePublicKey(EncodeBase64(std::string(33, 'k'))));
  EXPECT_FALSE(ParsePublicKey("não é base64"));
}

// The statement of a file as the maker's documentation gives it, built from
// OpenSSL's SHA-512: domain, line feed, the name in lower case, a zero byte.
std::string TheirStatement(const char* domain, const std::string& name, const std::string& path) {
  return std::string(domain) + '\n' + name + '\0' +
         Output({"openssl", "dgst", "-sha512", "-binary", path});
}

TEST(Signatures, OursAndOpenSslsAgreeOnFilesOfEverySize) {
  testing::TempDir dir;
  const OpenSslSigner openssl(dir);
  const KeyPair ours = GenerateKeyPair();
  EXPECT_EQ(PublicKeyOf(ours.seed), ours.publicKey);
  for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 20u << 20}) {
    SCOPED_TRACE(size);
    const std::string path = dir.File("SCRIPT_KORVA_3_16_51.ini");
    WriteBytes(path, Pattern(size, 31));
    const Digest512 digest = FileSha512(path);
    const auto statement = Statement(Domain::ScriptPackage, "SCRIPT_KORVA_3_16_51.INI", digest);
    ASSERT_TRUE(statement);
    EXPECT_EQ(*statement,
              TheirStatement("KORVA-PACOTE-DE-SCRIPT-V2", "script_korva_3_16_51.ini", path));
    EXPECT_EQ(Sha512Of(ReadBytes(path)), digest);

    const std::string theirs = openssl.SignatureFile(*statement);
    EXPECT_EQ(CheckStatement(openssl.key, Domain::ScriptPackage, "script_korva_3_16_51.ini", digest,
                             theirs),
              Verdict::Good);
    // Each signature speaks for its own kind of file, name and key only.
    EXPECT_EQ(
        CheckStatement(openssl.key, Domain::Catalogue, "script_korva_3_16_51.ini", digest, theirs),
        Verdict::SignatureWrong);
    EXPECT_EQ(CheckStatement(openssl.key, Domain::ScriptPackage, "script_korva_3_16_52.ini", digest,
                             theirs),
              Verdict::SignatureWrong);
    EXPECT_EQ(CheckStatement(ours.publicKey, Domain::ScriptPackage, "script_korva_3_16_51.ini",
                             digest, theirs),
              Verdict::SignatureWrong);
    EXPECT_TRUE(openssl.Verifies(ours.publicKey, *statement, Sign(ours, *statement)));
  }
}

// What the signed form that came before could not stop: bytes appended past
// the first 64 KiB, and a message too long for libgcrypt's S-expressions.
TEST(Signatures, AppendedBytesAndLongMessagesAreRefusedWithoutAnAbort) {
  testing::TempDir dir;
  const OpenSslSigner openssl(dir);
  const std::string signedBytes = "[3.16.51]\r\nS1_1=SELECT 1 FROM RDB$DATABASE\r\n";
  const std::string sig =
      openssl.SignatureFile(*Statement(Domain::ScriptPackage, "p.ini", Sha512Of(signedBytes)));
  const std::string appended = signedBytes + "\x04\x04" + Pattern(65534, 7);
  EXPECT_EQ(CheckStatement(openssl.key, Domain::ScriptPackage, "p.ini", Sha512Of(appended), sig),
            Verdict::SignatureWrong);
  EXPECT_EQ(CheckStatement(openssl.key, Domain::ScriptPackage, "p.ini", Sha512Of(signedBytes),
                           std::nullopt),
            Verdict::SignatureMissing);

  // A whole 70 KiB file as the message, with a signature of random bytes.
  const std::string large = Pattern(70 << 10, 13);
  const std::string randomSig = EncodeBase64(Pattern(64, 5));
  EXPECT_FALSE(VerifySignature(openssl.key, large, randomSig));
  EXPECT_FALSE(VerifySignature(openssl.key, std::string(kLongestMessage + 1, 'x'), sig));
  EXPECT_THROW(Sign(GenerateKeyPair(), large), KorvaError);
  EXPECT_NO_THROW(Sign(GenerateKeyPair(), std::string(kLongestMessage, 'x')));
}

TEST(Signatures, OnlyPrintableAsciiNamesOfAtMost255BytesAreStated) {
  const Digest512 digest{};
  const std::pair<std::string, bool> names[] = {
      {"Versao_E_Modulos_Empresa_2012.INI", true},
      {std::string(255, 'a'), true},
      {std::string(256, 'a'), false},
      {"", false},
      {"atualização.ini", false},
      {"a\tb.ini", false},
      {std::string("a\0b", 3), false},
  };
  for (const auto& [name, stated] : names)
    EXPECT_EQ(Statement(Domain::Catalogue, name, digest).has_value(), stated) << name;
  EXPECT_EQ(Statement(Domain::Catalogue, "A.INI", digest)->substr(0, 24),
            std::string("KORVA-CATALOGO-V2\na.ini\0", 24));
}

TEST(Digests, FilesHashAsSha256sumSaysAndDigestsCompareWithoutCase) {
  testing::TempDir dir;
  WriteBytes(dir.File("pacote.zip"), Pattern(3 << 18, 31));
  const std::string out = Output({"sha256sum", dir.File("pacote.zip")});
  const Digest digest = FileSha256(dir.File("pacote.zip"));
  EXPECT_EQ(Hex(digest), out.substr(0, 64));
  std::string upper = out.substr(0, 64);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_TRUE(SameDigest(" " + upper + " ", digest));
  EXPECT_TRUE(IsDigestText(upper));
  EXPECT_FALSE(SameDigest(out.substr(0, 63), digest));
  EXPECT_FALSE(IsDigestText(out.substr(0, 63) + "g"));
  EXPECT_FALSE(SameDigest("", digest));
  for (const auto& [text, serie] : std::vector<std::pair<std::string, bool>>{{"1", true},
                                                                             {"999999999", true},
                                                                             {"007", true},
                                                                             {"", false},
                                                                             {"1000000000", false},
                                                                             {"-1", false},
                                                                             {"1a", false},
                                                                             {" 1", false}})
    EXPECT_EQ(IsSerie(text), serie) << text;
}

// The maker's tool, as the maker uses it: what it signs verifies as the site
// checks it, and a key file is never replaced.
TEST(Korvasign, KeysSignaturesAndDigestLinesAreWhatTheSiteChecks) {
  testing::TempDir dir;
  const std::string tool = std::string(KORVA_BIN_DIR) + "/korvasign";
  const std::string key = dir.File("fabricante.key");
  std::string made, again, out;
  ASSERT_EQ(RunCommand({tool, "gerar-chave", key}, made), 0) << made;
  EXPECT_EQ(RunCommand({tool, "gerar-chave", key}, again), 1);
  EXPECT_NE(again.find("nunca"), std::string::npos) << again;
  EXPECT_EQ(Output({tool, "chave-publica", key}), made);
  ASSERT_EQ(made.rfind("CHAVE_PUBLICA=", 0), 0u) << made;
  const auto publicKey = ParsePublicKey(made.substr(14));
  ASSERT_TRUE(publicKey);

  // A catalogue is signed only with its SERIE; a package of 20 MiB is signed.
  const std::string catalogue = dir.File("versao_e_modulos_empresa_2012.ini");
  WriteBytes(catalogue, "[EMPRESA]\r\nID=KORVA\r\n");
  EXPECT_EQ(RunCommand({tool, "assinar-catalogo", key, catalogue}, out), 1);
  EXPECT_NE(out.find("SERIE"), std::string::npos) << out;
  WriteBytes(catalogue, "[EMPRESA]\r\nID=KORVA\r\nSERIE=12\r\n");
  const std::string package = dir.File("Script_Korva_3_16_51.ini");
  WriteBytes(package, Pattern(20 << 20, 3));
  Output({tool, "assinar-catalogo", key, catalogue});
  Output({tool, "assinar-pacote", key, package});
  const auto verdict = [&](Domain domain, const std::string& path) {
    return CheckStatement(*publicKey, domain, std::filesystem::path(path).filename().string(),
                          FileSha512(path), ReadBytes(SignatureName(path)));
  };
  EXPECT_EQ(verdict(Domain::Catalogue, catalogue), Verdict::Good);
  EXPECT_EQ(verdict(Domain::ScriptPackage, package), Verdict::Good);

  EXPECT_EQ(Output({tool, "sha256", catalogue}), "SHA256=" + Hex(FileSha256(catalogue)) + "\n");
  for (const std::vector<std::string>& bad : {std::vector<std::string>{tool},
                                              {tool, "assinar-pacote", key},
                                              {tool, "chave-publica"},
                                              {tool, "publicar", key}}) {
    EXPECT_EQ(RunCommand(bad, out), 2) << bad.size();
  }
  EXPECT_EQ(RunCommand({tool, "chave-publica", catalogue}, out), 1);
}

std::map<std::string, std::string> FolderBytes(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    files[entry.path().filename().string()] = ReadBytes(entry.path().string());
  return files;
}

// "publicar" on an edition's folder as the maker keeps it: each run pins the
// packages that lie there, raises SERIE and signs; a tampered ".sig" or a
// pinned package that is missing stops it with every file as it was.
TEST(Korvasign, PublicarPinsRaisesAndSignsOrChangesNothing) {
  testing::TempDir dir;
  const std::string tool = std::string(KORVA_BIN_DIR) + "/korvasign";
  const std::string key = dir.File("fabricante.key");
  const auto publicKey = ParsePublicKey(Output({tool, "gerar-chave", key}).substr(14));
  ASSERT_TRUE(publicKey);
  const std::string folder = dir.File("empresa_2012");
  std::filesystem::create_directories(folder);
  const auto in = [&](const std::string& name) { return folder + "/" + name; };
  const std::string catalogueName = "versao_e_modulos_empresa_2012.ini";
  WriteBytes(in(catalogueName),
             "[EMPRESA]\r\nID=KORVA\r\n[BANCO_USUÁRIO]\r\nÚltimaVersão=1.4.3\r\n"
             "[EFIN.EXE]\r\nÚltimaVersão=2.2.0\r\n[EEST.EXE]\r\nÚltimaVersão=2.0.3\r\n");
  WriteBytes(in("efin.zip"), Pattern(70000, 11));
  for (const char* script : {"script_usuario_1_4_3.ini", "script_korva_3_16_51.ini"})
    WriteBytes(in(script), "[x]\r\nS1_1=SELECT 1 FROM RDB$DATABASE\r\n");

  const auto holds = [&](Domain domain, const std::string& name) {
    return CheckStatement(*publicKey, domain, name, FileSha512(in(name)),
                          ReadBytes(SignatureName(in(name)))) == Verdict::Good;
  };
  for (const std::string serie : {"1", "2"}) {
    const std::string out = Output({tool, "publicar", key, folder});
    EXPECT_NE(out.find("SERIE " + serie + " em " + catalogueName), std::string::npos) << out;
    const std::string catalogue = ReadBytes(in(catalogueName));
    EXPECT_NE(catalogue.find("[EMPRESA]\r\nID=KORVA\r\nSERIE=" + serie + "\r\n"),
              std::string::npos);
    EXPECT_NE(catalogue.find("[EFIN.EXE]\r\nÚltimaVersão=2.2.0\r\nSHA256=" +
                             Hex(FileSha256(in("efin.zip"))) + "\r\nTAMANHO=70000\r\n"),
              std::string::npos)
        << catalogue;
    EXPECT_NE(catalogue.find("[EEST.EXE]\r\nÚltimaVersão=2.0.3\r\n"), std::string::npos);
    EXPECT_TRUE(holds(Domain::Catalogue, catalogueName));
    EXPECT_TRUE(holds(Domain::ScriptPackage, "script_korva_3_16_51.ini"));
    EXPECT_TRUE(holds(Domain::ScriptPackage, "script_usuario_1_4_3.ini"));
  }

  const auto refused = [&](const char* what, const std::string& named) {
    SCOPED_TRACE(what);
    const auto before = FolderBytes(folder);
    std::string out;
    EXPECT_EQ(RunCommand({tool, "publicar", key, folder}, out), 1);
    EXPECT_NE(out.find(named), std::string::npos) << out;
    EXPECT_EQ(FolderBytes(folder), before);
  };
  const std::string sig = ReadBytes(in("script_korva_3_16_51.ini.sig"));
  WriteBytes(in("script_korva_3_16_51.ini.sig"),
             SignatureFile(GenerateKeyPair(), "script_korva_3_16_51.ini"));
  refused("a .sig by another key", "script_korva_3_16_51.ini.sig");
  WriteBytes(in("script_korva_3_16_51.ini.sig"), sig);
  const std::string catalogue = ReadBytes(in(catalogueName));
  WriteBytes(in(catalogueName), catalogue + "[EVEI.EXE]\r\nÚltimaVersão=1.0.0\r\n");
  refused("a catalogue changed since it was signed", catalogueName + ".sig");
  WriteBytes(in(catalogueName), catalogue);
  std::filesystem::remove(in("efin.zip"));
  refused("a pinned package missing", "efin.zip");
}

}  // namespace
}  // namespace korva::trust
