#include "trust/trust.h"

#include <gcrypt.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "platform/file.h"
#include "platform/files.h"
#include "text/cp1252.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::trust {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// What a script package's signature covers starts with this, so that the
// signature of a package is never that of a file of the same name and bytes
// served as something else. A catalogue's covers its bytes alone.
constexpr std::string_view kPackageDomain = "KORVA-PACOTE-DE-SCRIPT\n";

void Initialise() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gcry_check_version(GCRYPT_VERSION)) throw KorvaError("libgcrypt is too old");
    // A site holds nothing secret. The maker's tool holds the seed only for
    // the moment of signing, in a process of its own: no secure memory.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

// An S-expression released however its use ends.
class Sexp {
 public:
  Sexp() = default;
  explicit Sexp(gcry_sexp_t sexp) : sexp_(sexp) {}
  ~Sexp() { gcry_sexp_release(sexp_); }
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  gcry_sexp_t* Out() { return &sexp_; }
  gcry_sexp_t Get() const { return sexp_; }

 private:
  gcry_sexp_t sexp_ = nullptr;
};

// The bytes of an MPI or data token named `name` inside the expression.
std::string TokenBytes(gcry_sexp_t sexp, const char* name) {
  Sexp token(gcry_sexp_find_token(sexp, name, 0));
  if (!token.Get()) return {};
  std::size_t length = 0;
  const char* data = gcry_sexp_nth_data(token.Get(), 1, &length);
  return data ? std::string(data, length) : std::string();
}

// libgcrypt may give an EdDSA point with its 0x40 prefix.
std::string PointBytes(std::string bytes) {
  if (bytes.size() == 33 && static_cast<unsigned char>(bytes[0]) == 0x40) bytes.erase(0, 1);
  return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> ToArray(const std::string& bytes) {
  if (bytes.size() != N) throw KorvaError("libgcrypt gave a key of an unexpected size");
  std::array<std::uint8_t, N> out{};
  std::copy(bytes.begin(), bytes.end(), out.begin());
  return out;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  const std::string trimmed = text::Trim(text);
  if (trimmed.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < trimmed.size(); i += 4) {
    std::uint32_t group = 0;
    int padding = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const char ch = trimmed[i + j];
      std::uint32_t value = 0;
      if (ch == '=') {
        // Padding only at the very end, at most two.
        if (i + 4 != trimmed.size() || j < 2) return std::nullopt;
        ++padding;
      } else {
        if (padding) return std::nullopt;
        const char* at = std::char_traits<char>::find(kAlphabet, 64, ch);
        if (!at) return std::nullopt;
        value = static_cast<std::uint32_t>(at - kAlphabet);
      }
      group = (group << 6) | value;
    }
    out += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(group & 0xFF);
  }
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

std::optional<PublicKey> ParsePublicKey(std::string_view base64) {
  const auto bytes = DecodeBase64(base64);
  if (!bytes || bytes->size() != 32) return std::nullopt;
  // About half of all 32-byte values are no point of the curve: such a key
  // is a damaged one, and nothing would ever verify against it.
  Initialise();
  Sexp key;
  if (gcry_sexp_build(key.Out(), nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))", 32,
                      bytes->data())) {
    return std::nullopt;
  }
  gcry_ctx_t context = nullptr;
  if (gcry_mpi_ec_new(&context, key.Get(), nullptr)) return std::nullopt;
  gcry_mpi_point_t point = gcry_mpi_ec_get_point("q", context, 1);
  const bool onCurve = point && gcry_mpi_ec_curve_point(point, context);
  gcry_mpi_point_release(point);
  gcry_ctx_release(context);
  if (!onCurve) return std::nullopt;
  return ToArray<32>(*bytes);
}

std::string PackageMessage(std::string_view name, std::string_view bytes) {
  std::string message(kPackageDomain);
  for (char ch : name) message += text::LowerChar1252(ch);
  message += '\0';
  message.append(bytes);
  return message;
}

bool VerifySignature(const PublicKey& key, std::string_view message,
                     std::string_view signatureFile) {
  Initialise();
  const auto signature = DecodeBase64(signatureFile);
  if (!signature || signature->size() != 64) return false;
  Sexp publicKey, sig, data;
  if (gcry_sexp_build(publicKey.Out(), nullptr,
                      "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))",
                      static_cast<int>(key.size()), key.data()) ||
      gcry_sexp_build(sig.Out(), nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature->data(), 32,
                      signature->data() + 32) ||
      gcry_sexp_build(data.Out(), nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                      static_cast<int>(message.size()), message.data())) {
    return false;
  }
  return gcry_pk_verify(sig.Get(), data.Get(), publicKey.Get()) == 0;
}

std::string SignatureName(const std::string& path) {
  return path + ".sig";
}

const char* ReasonText(Verdict verdict) {
  switch (verdict) {
    case Verdict::Good:
      return "";
    case Verdict::SignatureMissing:
      return "assinatura não encontrada";
    case Verdict::SignatureWrong:
      return "assinatura não confere";
    case Verdict::DigestMissing:
      return "SHA256 ausente no catálogo";
    case Verdict::DigestWrong:
      return "SHA256 não confere";
  }
  return "";
}

const char* RefusalEnding(Verdict verdict) {
  return verdict == Verdict::SignatureMissing ? " não foi encontrada." : " não confere.";
}

std::string SignedMessage(const std::string& path, std::string bytes, Signed how) {
  if (how == Signed::AsCatalogue) return bytes;
  return PackageMessage(platform::FileNameOf(path), bytes);
}

Verdict CheckSignedFile(const PublicKey& key, const std::string& path, Signed how) {
  // A ".sig" is one line of Base64; anything much longer is not one.
  constexpr std::int64_t kLongestSignature = 4096;
  const std::string signaturePath = SignatureName(path);
  if (!platform::FileExists(signaturePath)) return Verdict::SignatureMissing;
  const auto size = platform::FileSize(signaturePath);
  if (!size || *size > kLongestSignature) return Verdict::SignatureWrong;
  const auto signature = platform::ReadFileBytes(signaturePath);
  const auto bytes = platform::ReadFileBytes(path);
  if (!signature || !bytes) return Verdict::SignatureWrong;
  return VerifySignature(key, SignedMessage(path, *bytes, how), *signature)
             ? Verdict::Good
             : Verdict::SignatureWrong;
}

Verdict CheckPackageDigest(const std::string& path, std::string_view expectedHex) {
  if (text::Trim(expectedHex).empty()) return Verdict::DigestMissing;
  return SameDigest(expectedHex, FileSha256(path)) ? Verdict::Good : Verdict::DigestWrong;
}

Sha256::Sha256() {
  Initialise();
  gcry_md_hd_t handle = nullptr;
  if (gcry_md_open(&handle, GCRY_MD_SHA256, 0)) throw KorvaError("SHA-256 is not available");
  handle_ = handle;
}

Sha256::~Sha256() {
  gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Sha256::Update(const void* data, std::size_t size) {
  gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, size);
}

Digest Sha256::Finish() {
  const unsigned char* value = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_SHA256);
  Digest digest{};
  std::copy(value, value + digest.size(), digest.begin());
  return digest;
}

Digest FileSha256(const std::string& path) {
  platform::File file = platform::File::OpenRead(path);
  Sha256 sha;
  std::string buffer(1 << 18, '\0');
  for (;;) {
    const std::size_t n = file.Read(buffer.data(), buffer.size());
    if (n == 0) break;
    sha.Update(buffer.data(), n);
  }
  return sha.Finish();
}

std::string Hex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

bool SameDigest(std::string_view text, const Digest& digest) {
  const std::string trimmed = text::Trim(text);
  const std::string expected = Hex(digest);
  if (trimmed.size() != expected.size()) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const char ch =
        trimmed[i] >= 'A' && trimmed[i] <= 'F' ? static_cast<char>(trimmed[i] + 32) : trimmed[i];
    if (ch != expected[i]) return false;
  }
  return true;
}

KeyPair GenerateKeyPair() {
  Initialise();
  Sexp parameters, pair;
  if (gcry_sexp_build(parameters.Out(), nullptr, "(genkey(ecc(curve Ed25519)(flags eddsa)))") ||
      gcry_pk_genkey(pair.Out(), parameters.Get())) {
    throw KorvaError("No Ed25519 key pair could be made");
  }
  Sexp secret(gcry_sexp_find_token(pair.Get(), "private-key", 0));
  KeyPair key{};
  key.seed = ToArray<32>(TokenBytes(secret.Get(), "d"));
  key.publicKey = ToArray<32>(PointBytes(TokenBytes(secret.Get(), "q")));
  return key;
}

PublicKey PublicKeyOf(const std::array<std::uint8_t, 32>& seed) {
  Initialise();
  Sexp secret;
  // libgcrypt derives the public point q from the seed.
  if (gcry_sexp_build(secret.Out(), nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(d %b)))",
                      32, seed.data())) {
    throw KorvaError("The seed is not an Ed25519 key");
  }
  gcry_ctx_t context = nullptr;
  if (gcry_mpi_ec_new(&context, secret.Get(), nullptr))
    throw KorvaError("The seed is not an Ed25519 key");
  gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", context, 1);
  unsigned char* buffer = nullptr;
  std::size_t length = 0;
  const bool ok = q && !gcry_mpi_aprint(GCRYMPI_FMT_USG, &buffer, &length, q);
  std::string bytes = ok ? std::string(reinterpret_cast<char*>(buffer), length) : std::string();
  gcry_free(buffer);
  gcry_mpi_release(q);
  gcry_ctx_release(context);
  return ToArray<32>(PointBytes(bytes));
}

std::string Sign(const KeyPair& key, std::string_view message) {
  Initialise();
  Sexp secret, data, sig;
  if (gcry_sexp_build(secret.Out(), nullptr,
                      "(private-key(ecc(curve Ed25519)(flags eddsa)(q %b)(d %b)))", 32,
                      key.publicKey.data(), 32, key.seed.data()) ||
      gcry_sexp_build(data.Out(), nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                      static_cast<int>(message.size()), message.data()) ||
      gcry_pk_sign(sig.Out(), data.Get(), secret.Get())) {
    throw KorvaError("The message could not be signed");
  }
  const std::string r = TokenBytes(sig.Get(), "r"), s = TokenBytes(sig.Get(), "s");
  if (r.size() != 32 || s.size() != 32)
    throw KorvaError("libgcrypt gave a signature of an unexpected size");
  return EncodeBase64(r + s) + "\r\n";
}

}  // namespace korva::trust
