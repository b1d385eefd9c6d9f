#include "trust/trust.h"

#include <gcrypt.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "platform/file.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::trust {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kReadPiece = std::size_t{1} << 18;

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

const char* DomainText(Domain domain) {
  return domain == Domain::Catalogue ? "KORVA-CATALOGO-V2" : "KORVA-PACOTE-DE-SCRIPT-V2";
}

std::optional<std::string> Statement(Domain domain, std::string_view fileName,
                                     const Digest512& digest) {
  if (fileName.empty() || fileName.size() > kLongestName) return std::nullopt;
  std::string statement(DomainText(domain));
  statement += '\n';
  for (const char ch : fileName) {
    // Printable ASCII only: the maker's tool and the site must write the
    // name with the same bytes whatever their code pages.
    if (ch < 0x20 || ch > 0x7E) return std::nullopt;
    statement += ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
  }
  statement += '\0';
  statement.append(reinterpret_cast<const char*>(digest.data()), digest.size());
  return statement;
}

bool VerifySignature(const PublicKey& key, std::string_view message,
                     std::string_view signatureFile) {
  if (message.size() > kLongestMessage) return false;
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

Verdict CheckStatement(const PublicKey& key, Domain domain, std::string_view fileName,
                       const Digest512& digest, const std::optional<std::string>& signatureFile) {
  if (!signatureFile) return Verdict::SignatureMissing;
  const auto statement = Statement(domain, fileName, digest);
  return statement && VerifySignature(key, *statement, *signatureFile) ? Verdict::Good
                                                                       : Verdict::SignatureWrong;
}

Hash::Hash(Algorithm algorithm) : algorithm_(algorithm) {
  Initialise();
  gcry_md_hd_t handle = nullptr;
  const int id = algorithm == Algorithm::Sha256 ? GCRY_MD_SHA256 : GCRY_MD_SHA512;
  if (gcry_md_open(&handle, id, 0)) throw KorvaError("The digest is not available");
  handle_ = handle;
}

Hash::~Hash() {
  gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Hash::Update(const void* data, std::size_t size) {
  gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, size);
}

const unsigned char* Hash::Read() {
  return gcry_md_read(static_cast<gcry_md_hd_t>(handle_),
                      algorithm_ == Algorithm::Sha256 ? GCRY_MD_SHA256 : GCRY_MD_SHA512);
}

Digest Sha256::Finish() {
  Digest digest{};
  std::copy_n(Read(), digest.size(), digest.begin());
  return digest;
}

Digest512 Sha512::Finish() {
  Digest512 digest{};
  std::copy_n(Read(), digest.size(), digest.begin());
  return digest;
}

Digest512 Sha512Of(std::string_view bytes) {
  Sha512 sha;
  sha.Update(bytes);
  return sha.Finish();
}

namespace {

// Feeds the file from its first byte; the count of bytes read when asked.
void HashFile(const platform::File& file, Hash& hash, std::int64_t* size) {
  std::string buffer(kReadPiece, '\0');
  std::uint64_t offset = 0;
  for (;;) {
    const std::size_t n = file.ReadAt(offset, buffer.data(), buffer.size());
    if (n == 0) break;
    hash.Update(buffer.data(), n);
    offset += n;
  }
  if (size) *size = static_cast<std::int64_t>(offset);
}

}  // namespace

Digest FileSha256(const platform::File& file, std::int64_t* size) {
  Sha256 sha;
  HashFile(file, sha, size);
  return sha.Finish();
}

Digest FileSha256(const std::string& path) {
  return FileSha256(platform::File::OpenRead(path));
}

Digest512 FileSha512(const std::string& path) {
  Sha512 sha;
  HashFile(platform::File::OpenRead(path), sha, nullptr);
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

bool IsDigestText(std::string_view text) {
  const std::string trimmed = text::Trim(text);
  return trimmed.size() == 64 && std::all_of(trimmed.begin(), trimmed.end(), [](char ch) {
           return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
         });
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

bool IsSerie(std::string_view text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
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
  if (message.size() > kLongestMessage) {
    throw KorvaError("A message of " + std::to_string(message.size()) + " bytes is not signed");
  }
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
