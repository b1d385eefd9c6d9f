#include "delivery/update_source.h"

#include <algorithm>
#include <utility>

#include "platform/files.h"
#include "text/error.h"
#include "text/strings.h"

namespace korva::delivery {
namespace {

std::function<void(const std::string&)>& AfterVerificationHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

void AfterVerification(const std::string& path) {
  if (AfterVerificationHook()) AfterVerificationHook()(path);
}

std::int64_t BoundOf(FileKind kind) {
  switch (kind) {
    case FileKind::Signature:
      return kLongestSignature;
    case FileKind::ModulePackage:
      return kLongestPackage;
    case FileKind::Catalogue:
    case FileKind::ScriptPackage:
      break;
  }
  return kLongestProfile;
}

trust::Domain DomainOf(FileKind kind) {
  return kind == FileKind::Catalogue ? trust::Domain::Catalogue : trust::Domain::ScriptPackage;
}

std::string LargerThan(std::int64_t bytes) {
  return "maior que " + std::to_string(bytes) + " bytes";
}

// "TAMANHO": decimal digits, no sign, within what a package can be.
std::optional<std::int64_t> PinnedSize(const std::string& text) {
  const std::string trimmed = text::Trim(text);
  if (trimmed.empty() || trimmed.size() > 10) return std::nullopt;
  std::int64_t size = 0;
  for (const char ch : trimmed) {
    if (ch < '0' || ch > '9') return std::nullopt;
    size = size * 10 + (ch - '0');
  }
  if (size > kLongestPackage) return std::nullopt;
  return size;
}

void DeleteIfThere(const std::string& path) {
  if (platform::FileExists(path)) platform::DeleteFile(path);
}

// The whole file through one handle, up to one byte past the limit: a file
// that grew past it while it was read is still seen to be too large.
std::string ReadBounded(const platform::File& file, std::int64_t limit) {
  std::string bytes;
  const std::int64_t announced = std::min(file.Size(), limit + 1);
  bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(announced, 0)));
  std::size_t have = file.ReadAt(0, bytes.data(), bytes.size());
  bytes.resize(have);
  if (have == static_cast<std::size_t>(announced)) {
    char more[4096];
    while (static_cast<std::int64_t>(bytes.size()) <= limit) {
      const std::size_t n = file.ReadAt(bytes.size(), more, sizeof more);
      if (n == 0) break;
      bytes.append(more, n);
    }
  }
  return bytes;
}

}  // namespace

void UpdateSource::SetAfterVerificationHookForTests(std::function<void(const std::string&)> hook) {
  AfterVerificationHook() = std::move(hook);
}

bool UpdateSource::IsConnected() const {
  return s_.ftp.IsConnected();
}

void UpdateSource::Connect() {
  if (!s_.ftp.IsConnected()) s_.ftp.OpenSession();
}

void UpdateSource::EnterFolder(const std::string& folder) {
  s_.ftp.ChangeRemoteDir(folder);
  folder_ = folder;
}

void UpdateSource::Disconnect() {
  folder_.clear();
  s_.ftp.CloseSession();
}

void UpdateSource::EnsureSession() {
  // An abort ends the session: the next file is fetched in a new one, from
  // the same folder.
  if (s_.ftp.IsConnected()) return;
  s_.ftp.OpenSession();
  if (!folder_.empty()) s_.ftp.ChangeRemoteDir(folder_);
}

FetchOutcome UpdateSource::Refuse(Refusal refusal) {
  try {
    s_.log.LogRefusal(refusal.file, refusal.reason);
  } catch (const std::exception&) {
    // A log that cannot be written does not make the file acceptable.
  }
  return FetchOutcome{std::move(refusal), false};
}

const transfer::TransferOutcome& UpdateSource::FetchBounded(const std::string& name,
                                                            const std::string& localPath,
                                                            std::int64_t limit) {
  try {
    s_.ftp.FetchFile(name, localPath, limit);
  } catch (const std::exception&) {
    if (!s_.ftp.LastTransfer().overLimit) throw;
  }
  return s_.ftp.LastTransfer();
}

FetchOutcome UpdateSource::Fetch(FileKind kind, const std::string& name,
                                 const std::string& localPath) {
  EnsureSession();
  // A signature left by an earlier run never speaks for this copy.
  if (Keyed()) DeleteIfThere(trust::SignatureName(localPath));
  const std::int32_t size = s_.ftp.RemoteFileSize(name);
  s_.transfer.expectedTransferSize = std::max<std::int32_t>(1, size);
  const std::int64_t limit = Keyed() ? BoundOf(kind) : transfer::FtpSession::kNoLimit;
  const transfer::TransferOutcome& got = FetchBounded(name, localPath, limit);
  if (got.overLimit) {
    DeleteIfThere(localPath);
    return Refuse({Refusal::Cause::TooLarge, name, LargerThan(limit)});
  }
  // Half a file is never used as a whole one: a group could lose its lines.
  if (got.aborted || (size > 0 && got.bytes < size)) return FetchOutcome{std::nullopt, false};
  if (Keyed()) return FetchSignature(name, localPath);
  return {};
}

FetchOutcome UpdateSource::FetchSignature(const std::string& name, const std::string& localPath) {
  const std::string remote = trust::SignatureName(name);
  const std::string local = trust::SignatureName(localPath);
  const std::int32_t size = s_.ftp.RemoteFileSize(remote);
  // A server without the file (or without sizes) leaves none: the check then
  // tells a missing signature, not a transfer failure.
  if (size == -1) return {};
  s_.transfer.expectedTransferSize = std::max<std::int32_t>(1, size);
  if (FetchBounded(remote, local, kLongestSignature).overLimit) {
    DeleteIfThere(local);
    return Refuse({Refusal::Cause::SignatureWrong, remote, LargerThan(kLongestSignature)});
  }
  return {};
}

void UpdateSource::FetchIfPresent(const std::string& name, const std::string& localPath) {
  EnsureSession();
  s_.transfer.expectedTransferSize = s_.ftp.RemoteFileSize(name);
  if (s_.transfer.expectedTransferSize == -1) return;
  const std::int64_t limit = Keyed() ? kLongestClientFile : transfer::FtpSession::kNoLimit;
  if (FetchBounded(name, localPath, limit).overLimit) {
    DeleteIfThere(localPath);
    Refuse({Refusal::Cause::TooLarge, name, LargerThan(limit)});
  }
}

std::optional<std::string> UpdateSource::ReadSignature(const std::string& path,
                                                       std::optional<Refusal>& refusal) {
  if (!platform::FileExists(path)) return std::nullopt;
  const platform::File file = platform::File::OpenRead(path);
  std::string bytes = ReadBounded(file, kLongestSignature);
  if (static_cast<std::int64_t>(bytes.size()) > kLongestSignature) {
    refusal = Refusal{Refusal::Cause::SignatureWrong, std::string(platform::FileNameOf(path)),
                      LargerThan(kLongestSignature)};
  }
  return bytes;
}

ProfileDelivery UpdateSource::OpenProfile(FileKind kind, const std::string& localPath) {
  ProfileDelivery out;
  if (!Keyed()) {
    out.file = std::make_unique<settings::ProfileFile>(localPath);
    return out;
  }
  const std::string name(platform::FileNameOf(localPath));
  const auto refuse = [&](Refusal refusal) {
    out.refusal = Refuse(std::move(refusal)).refusal;
    return std::move(out);
  };
  std::optional<Refusal> refusal;
  const std::optional<std::string> signature =
      ReadSignature(trust::SignatureName(localPath), refusal);
  if (refusal) return refuse(*refusal);
  // No file at all reads as an empty one, which the caller rejects as it
  // rejects any unreadable one.
  std::string bytes;
  out.missing = !platform::FileExists(localPath);
  if (!out.missing) {
    bytes = ReadBounded(platform::File::OpenRead(localPath), kLongestProfile);
    if (static_cast<std::int64_t>(bytes.size()) > kLongestProfile) {
      return refuse({Refusal::Cause::TooLarge, name, LargerThan(kLongestProfile)});
    }
    const trust::Verdict verdict = trust::CheckStatement(*s_.makersKey, DomainOf(kind), name,
                                                         trust::Sha512Of(bytes), signature);
    if (verdict == trust::Verdict::SignatureMissing) {
      return refuse({Refusal::Cause::SignatureMissing, name, "assinatura não encontrada"});
    }
    if (verdict != trust::Verdict::Good) {
      return refuse({Refusal::Cause::SignatureWrong, name, "assinatura não confere"});
    }
    AfterVerification(localPath);
  }
  out.file = std::make_unique<settings::ProfileFile>(
      settings::ProfileFile::OverBytes(localPath, std::move(bytes)));
  return out;
}

std::int32_t UpdateSource::PackageSize(const std::string& name) {
  if (!s_.internetMode) {
    s_.transfer.expectedTransferSize = 1;
    return 1;
  }
  EnsureSession();
  s_.transfer.expectedTransferSize = s_.ftp.RemoteFileSize(name);
  return s_.transfer.expectedTransferSize;
}

std::optional<Refusal> UpdateSource::PinRefusal(const std::string& name, const PackagePin& pin) {
  if (!Keyed()) return std::nullopt;
  if (text::Trim(pin.sha256).empty()) {
    return Refuse({Refusal::Cause::DigestMissing, name, "SHA256 ausente no catálogo"}).refusal;
  }
  if (text::Trim(pin.size).empty()) {
    return Refuse({Refusal::Cause::SizeMissing, name, "TAMANHO ausente no catálogo"}).refusal;
  }
  if (!PinnedSize(pin.size)) {
    return Refuse({Refusal::Cause::SizeInvalid, name, "TAMANHO inválido no catálogo"}).refusal;
  }
  return std::nullopt;
}

FetchOutcome UpdateSource::FetchPackage(const std::string& name, const std::string& localPath,
                                        const PackagePin& pin) {
  EnsureSession();
  const std::int64_t limit =
      Keyed() ? PinnedSize(pin.size).value_or(0) : transfer::FtpSession::kNoLimit;
  const transfer::TransferOutcome& got = FetchBounded(name, localPath, limit);
  if (got.overLimit) return Refuse({Refusal::Cause::TooLarge, name, LargerThan(limit)});
  return FetchOutcome{std::nullopt, !got.aborted};
}

PackageDelivery UpdateSource::VerifyPackage(const std::string& name, const std::string& path,
                                            const PackagePin& pin) {
  PackageDelivery out;
  if (!Keyed()) return out;
  if ((out.refusal = PinRefusal(name, pin))) return out;
  const std::int64_t pinned = *PinnedSize(pin.size);
  const auto refuse = [&](Refusal::Cause cause, std::string reason) {
    out.package = HeldPackage{};
    out.refusal = Refuse({cause, name, std::move(reason)}).refusal;
    return std::move(out);
  };
  // One handle, opened once: the bytes hashed are the bytes extracted.
  // Larger than pinned: not worth holding, nor hashing.
  if (platform::FileSize(path).value_or(0) > pinned) {
    return refuse(Refusal::Cause::TooLarge, LargerThan(pinned));
  }
  HeldPackage& held = out.package;
  std::int64_t hashed = 0;
  trust::Digest digest{};
  try {
    held.file = platform::File::OpenReadHeld(path, pinned);
    digest = trust::FileSha256(held.file, &hashed);
  } catch (const std::exception&) {
    // Gone, held by someone else, unreadable: in no case the pinned package.
    return refuse(Refusal::Cause::DigestWrong, "não foi possível lê-lo");
  }
  if (hashed > pinned) return refuse(Refusal::Cause::TooLarge, LargerThan(pinned));
  if (!trust::SameDigest(pin.sha256, digest)) {
    return refuse(Refusal::Cause::DigestWrong, "SHA256 não confere");
  }
  AfterVerification(path);
  return out;
}

}  // namespace korva::delivery
