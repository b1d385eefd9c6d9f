#pragma once
// Whether an update file is the maker's: Ed25519 signatures checked against
// the maker's public key, and SHA-256 digests of module packages. libgcrypt
// does the cryptography.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korva::trust {

using PublicKey = std::array<std::uint8_t, 32>;
using Digest = std::array<std::uint8_t, 32>;

// Standard Base64 (with padding), blanks and line ends around it ignored;
// nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// The 32 bytes of an Ed25519 public key in Base64; nullopt when the text is
// not exactly that.
std::optional<PublicKey> ParsePublicKey(std::string_view base64);

// The message a script package's signature covers: it binds the package's
// name (in lower case) to its bytes, so that a package signed for one version
// cannot be served under another version's name.
std::string PackageMessage(std::string_view name, std::string_view bytes);

// True when signatureFile (the ".sig" file: the 64-byte signature in Base64,
// one line) is a valid Ed25519 signature of message by the key.
bool VerifySignature(const PublicKey& key, std::string_view message,
                     std::string_view signatureFile);

// Where the signature of a file lies: beside it, its name + ".sig".
std::string SignatureName(const std::string& path);

// What the maker's key says of an update file. The reason texts are those
// written to the log when a file is refused.
enum class Verdict { Good, SignatureMissing, SignatureWrong, DigestMissing, DigestWrong };
const char* ReasonText(Verdict verdict);

// The file at path against the ".sig" beside it. A catalogue's signature
// covers its bytes; a script package's, PackageMessage of its name and bytes.
enum class Signed { AsCatalogue, AsScriptPackage };
Verdict CheckSignedFile(const PublicKey& key, const std::string& path, Signed how);
// What the maker signs for the file at path with those bytes.
std::string SignedMessage(const std::string& path, std::string bytes, Signed how);
// How the operator's message about a refused signature ends.
const char* RefusalEnding(Verdict verdict);
// A module package against the digest its catalogue section gives.
Verdict CheckPackageDigest(const std::string& path, std::string_view expectedHex);

// SHA-256, fed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void Update(const void* data, std::size_t size);
  Digest Finish();

 private:
  void* handle_ = nullptr;
};

// The digest of a whole file, read in one pass through a small buffer.
// Throws FileError when the file cannot be read.
Digest FileSha256(const std::string& path);
// 64 lower-case hexadecimal digits.
std::string Hex(const Digest& digest);
// True when text is the digest in hexadecimal (either case, blanks around).
bool SameDigest(std::string_view text, const Digest& digest);

// The maker's side: a key pair (the 32-byte seed and the public key) and
// signatures made with it.
struct KeyPair {
  std::array<std::uint8_t, 32> seed;
  PublicKey publicKey;
};
KeyPair GenerateKeyPair();
// The public key of a seed.
PublicKey PublicKeyOf(const std::array<std::uint8_t, 32>& seed);
// The ".sig" file's text for message: the signature in Base64 and a line end.
std::string Sign(const KeyPair& key, std::string_view message);

}  // namespace korva::trust
