// Signatures and digests of update files, checked against another
// implementation: OpenSSL's Ed25519 and coreutils' sha256sum.
#include <gtest/gtest.h>

#include "support/site_builder.h"
#include "support/temp_dir.h"
#include "trust/trust.h"

namespace korva::trust {
namespace {

using testing::ReadBytes;
using testing::RunCommand;
using testing::WriteBytes;

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

TEST(Signatures, OursAndOpenSslsAgreeAndAnyChangeIsRefused) {
  const KeyPair key = GenerateKeyPair();
  EXPECT_EQ(PublicKeyOf(key.seed), key.publicKey);
  const std::string message = PackageMessage("SCRIPT_KORVA_3_16_51.INI", "[3.16.51]\r\nS1_1=x\r\n");
  EXPECT_EQ(message.substr(message.find("script_")),
            std::string("script_korva_3_16_51.ini") + '\0' + "[3.16.51]\r\nS1_1=x\r\n");
  const std::string sig = Sign(key, message);
  EXPECT_TRUE(VerifySignature(key.publicKey, message, sig));
  std::string changed = message;
  changed.back() ^= 1;
  EXPECT_FALSE(VerifySignature(key.publicKey, changed, sig));
  EXPECT_FALSE(VerifySignature(GenerateKeyPair().publicKey, message, sig));
  EXPECT_FALSE(VerifySignature(key.publicKey, message, "isto não é uma assinatura"));
  EXPECT_FALSE(VerifySignature(key.publicKey, message, EncodeBase64(std::string(64, '\0'))));

  // OpenSSL signs, we verify; we sign, OpenSSL verifies.
  testing::TempDir dir;
  std::string out;
  ASSERT_EQ(
      RunCommand({"openssl", "genpkey", "-algorithm", "ed25519", "-out", dir.File("key.pem")}, out),
      0)
      << out;
  ASSERT_EQ(RunCommand({"openssl", "pkey", "-in", dir.File("key.pem"), "-pubout", "-outform", "DER",
                        "-out", dir.File("pub.der")},
                       out),
            0);
  const std::string der = ReadBytes(dir.File("pub.der"));
  PublicKey theirs{};
  std::copy(der.end() - 32, der.end(), theirs.begin());
  WriteBytes(dir.File("message"), message);
  ASSERT_EQ(RunCommand({"openssl", "pkeyutl", "-sign", "-rawin", "-inkey", dir.File("key.pem"),
                        "-in", dir.File("message"), "-out", dir.File("sig")},
                       out),
            0)
      << out;
  EXPECT_TRUE(VerifySignature(theirs, message, EncodeBase64(ReadBytes(dir.File("sig")))));

  // Our key as OpenSSL reads it: the fixed DER prefix of an Ed25519 key.
  WriteBytes(dir.File("ours.der"),
             std::string("\x30\x2a\x30\x05\x06\x03\x2b\x65\x70\x03\x21\x00", 12) +
                 std::string(key.publicKey.begin(), key.publicKey.end()));
  WriteBytes(dir.File("ours.sig"), *DecodeBase64(sig));
  EXPECT_EQ(RunCommand({"openssl", "pkeyutl", "-verify", "-pubin", "-keyform", "DER", "-inkey",
                        dir.File("ours.der"), "-rawin", "-in", dir.File("message"), "-sigfile",
                        dir.File("ours.sig")},
                       out),
            0)
      << out;
}

TEST(Sha256, FilesHashAsSha256sumSaysAndDigestsCompareWithoutCase) {
  testing::TempDir dir;
  std::string bytes(3 << 18, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 7);
  WriteBytes(dir.File("pacote.zip"), bytes);
  std::string out;
  ASSERT_EQ(RunCommand({"sha256sum", dir.File("pacote.zip")}, out), 0);
  const Digest digest = FileSha256(dir.File("pacote.zip"));
  EXPECT_EQ(Hex(digest), out.substr(0, 64));
  std::string upper = out.substr(0, 64);
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  EXPECT_TRUE(SameDigest(" " + upper + " ", digest));
  EXPECT_FALSE(SameDigest(out.substr(0, 63), digest));
  EXPECT_FALSE(SameDigest("", digest));
}

// The maker's tool, as the maker uses it: what it signs verifies as the site
// checks it, and a key file is never replaced.
TEST(Korvasign, KeysSignaturesAndDigestLinesAreWhatTheSiteChecks) {
  testing::TempDir dir;
  const std::string tool = std::string(KORVA_BIN_DIR) + "/korvasign";
  const std::string key = dir.File("fabricante.key");
  std::string made, again, shown, out;
  ASSERT_EQ(RunCommand({tool, "gerar-chave", key}, made), 0) << made;
  EXPECT_EQ(RunCommand({tool, "gerar-chave", key}, again), 1);
  EXPECT_NE(again.find("nunca"), std::string::npos) << again;
  ASSERT_EQ(RunCommand({tool, "chave-publica", key}, shown), 0);
  EXPECT_EQ(made, shown);
  ASSERT_EQ(made.rfind("CHAVE_PUBLICA=", 0), 0u) << made;
  const auto publicKey = ParsePublicKey(made.substr(14));
  ASSERT_TRUE(publicKey);

  WriteBytes(dir.File("versao.ini"), "[EMPRESA]\r\nID=KORVA\r\n");
  WriteBytes(dir.File("Script_Korva_3_16_51.ini"), "[3.16.51]\r\nS1_1=SELECT 1\r\n");
  ASSERT_EQ(RunCommand({tool, "assinar-catalogo", key, dir.File("versao.ini")}, out), 0) << out;
  ASSERT_EQ(RunCommand({tool, "assinar-pacote", key, dir.File("Script_Korva_3_16_51.ini")}, out), 0)
      << out;
  EXPECT_EQ(CheckSignedFile(*publicKey, dir.File("versao.ini"), Signed::AsCatalogue),
            Verdict::Good);
  EXPECT_EQ(
      CheckSignedFile(*publicKey, dir.File("Script_Korva_3_16_51.ini"), Signed::AsScriptPackage),
      Verdict::Good);
  // Each signature speaks for its own kind of file only.
  EXPECT_EQ(CheckSignedFile(*publicKey, dir.File("versao.ini"), Signed::AsScriptPackage),
            Verdict::SignatureWrong);

  ASSERT_EQ(RunCommand({tool, "sha256", dir.File("versao.ini")}, out), 0);
  EXPECT_EQ(out, "SHA256=" + Hex(FileSha256(dir.File("versao.ini"))) + "\n");
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{tool}, {tool, "assinar-pacote", key}, {tool, "chave-publica"}}) {
    EXPECT_EQ(RunCommand(bad, out), 2) << bad.size();
  }
  EXPECT_EQ(RunCommand({tool, "chave-publica", dir.File("versao.ini")}, out), 1);
}

}  // namespace
}  // namespace korva::trust
