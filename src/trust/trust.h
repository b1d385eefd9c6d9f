#pragma once
// Whether an update file is the maker's: Ed25519 signatures checked against
// the maker's public key, and SHA-256 and SHA-512 digests. libgcrypt does the
// cryptography.
//
// A signature never covers a whole file. It covers a short statement of fixed
// shape (a domain text, the file's name and the SHA-512 of its bytes), so the
// message handed to libgcrypt stays far below the 64 KiB that its
// S-expressions can carry: a longer one would be cut there without a word
// (and a file with bytes appended would still verify), or abort the process.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korva::platform {
class File;
}

namespace korva::trust {

using PublicKey = std::array<std::uint8_t, 32>;
using Digest = std::array<std::uint8_t, 32>;     // SHA-256
using Digest512 = std::array<std::uint8_t, 64>;  // SHA-512

// Standard Base64 (with padding), blanks and line ends around it ignored;
// nullopt for anything else.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// The 32 bytes of an Ed25519 public key in Base64; nullopt when the text is
// not exactly that, or is no point of the curve.
std::optional<PublicKey> ParsePublicKey(std::string_view base64);

// What a signature speaks for. Each kind has a domain text of its own, so a
// catalogue's signature never passes for a script package's of the same name
// and digest, and no statement reads as a message of an earlier form.
enum class Domain { Catalogue, ScriptPackage };
const char* DomainText(Domain domain);

// The longest file name a statement names, and the longest message that
// VerifySignature and Sign take.
inline constexpr std::size_t kLongestName = 255;
inline constexpr std::size_t kLongestMessage = 1024;

// The statement the maker signs for a file: the domain text, a line feed, the
// file's name (no folder) in lower case by ASCII rules, a zero byte, and the
// 64 bytes of the file's SHA-512. nullopt for a name that is empty, longer
// than kLongestName or not printable ASCII.
std::optional<std::string> Statement(Domain domain, std::string_view fileName,
                                     const Digest512& digest);

// True when signatureFile (the ".sig" file: the 64-byte signature in Base64,
// one line) is a valid Ed25519 signature of message by the key. A message
// longer than kLongestMessage is refused before libgcrypt sees it.
bool VerifySignature(const PublicKey& key, std::string_view message,
                     std::string_view signatureFile);

// Where the signature of a file lies: beside it, its name + ".sig".
std::string SignatureName(const std::string& path);

// What the maker's key says of a file and its ".sig" (nullopt: there is none).
enum class Verdict { Good, SignatureMissing, SignatureWrong };
Verdict CheckStatement(const PublicKey& key, Domain domain, std::string_view fileName,
                       const Digest512& digest, const std::optional<std::string>& signatureFile);

// Digests, fed piece by piece.
class Hash {
 public:
  enum class Algorithm { Sha256, Sha512 };
  explicit Hash(Algorithm algorithm);
  ~Hash();
  Hash(const Hash&) = delete;
  Hash& operator=(const Hash&) = delete;
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }

 protected:
  const unsigned char* Read();

 private:
  void* handle_ = nullptr;
  Algorithm algorithm_;
};

class Sha256 : public Hash {
 public:
  Sha256() : Hash(Algorithm::Sha256) {}
  Digest Finish();
};

class Sha512 : public Hash {
 public:
  Sha512() : Hash(Algorithm::Sha512) {}
  Digest512 Finish();
};

Digest512 Sha512Of(std::string_view bytes);
// The digests of a whole file, read in one pass through a small buffer.
// Throws FileError when the file cannot be read.
Digest FileSha256(const std::string& path);
Digest512 FileSha512(const std::string& path);
// The same through a file already open, from its first byte, whatever its
// position; the bytes read are counted into `size` when given.
Digest FileSha256(const platform::File& file, std::int64_t* size = nullptr);

// Lower-case hexadecimal digits.
std::string Hex(const Digest& digest);
// True when text is the digest in hexadecimal (either case, blanks around).
bool SameDigest(std::string_view text, const Digest& digest);
// True when text is 64 hexadecimal digits (either case, blanks around).
bool IsDigestText(std::string_view text);

// A catalogue's "SERIE", the number the maker raises with every catalogue
// so that a site can tell an older one replayed: 1 to 9 decimal digits.
bool IsSerie(std::string_view text);

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
// Throws KorvaError for a message longer than kLongestMessage.
std::string Sign(const KeyPair& key, std::string_view message);

}  // namespace korva::trust
