#pragma once
// The one place that delivers an update file to the catalogue check, the
// database updates and the module installation: it obtains the file from the
// update server (internet mode) or takes it from the local folder (local
// mode), bounds its size, verifies it when the site has the maker's key,
// writes a refusal to the log, and hands over exactly what was verified.
//
// With the key, a catalogue or script package is read into memory once,
// checked against its ".sig" and parsed from those bytes; a module package is
// hashed through a handle that is then held for its extraction. Without the
// key, files are taken as they lie, as they always were.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/file.h"
#include "records/update_log.h"
#include "settings/profile_file.h"
#include "transfer/ftp_session.h"
#include "transfer/transfer_state.h"
#include "trust/trust.h"

namespace korva::delivery {

enum class FileKind { Catalogue, ScriptPackage, ModulePackage, Signature };

// The largest files taken with the maker's key; past these a transfer is cut.
inline constexpr std::int64_t kLongestSignature = 4096;
inline constexpr std::int64_t kLongestProfile = std::int64_t{64} << 20;
// The client's own version file, which the server keeps for the site.
inline constexpr std::int64_t kLongestClientFile = std::int64_t{1} << 20;
// Without ZIP64 a package cannot be larger.
inline constexpr std::int64_t kLongestPackage = 0xFFFFFFFF;

// Why a file was not taken. `file` is the name the log line gives ("Arquivo
// <file> recusado: <reason>"); for a signature too large it is the ".sig".
struct Refusal {
  enum class Cause {
    SignatureMissing,
    SignatureWrong,
    TooLarge,
    DigestMissing,
    SizeMissing,
    SizeInvalid,
    DigestWrong,
  };
  Cause cause;
  std::string file;
  std::string reason;
};

// What a module's catalogue section pins its package to.
struct PackagePin {
  std::string sha256;
  std::string size;  // "TAMANHO", decimal
};

struct SourceServices {
  transfer::FtpSession& ftp;
  transfer::TransferState& transfer;
  records::UpdateLog& log;
  // Null: the site has no key and files are taken unsigned.
  const trust::PublicKey* makersKey = nullptr;
  bool internetMode = true;
};

// A catalogue or script package: the file to read, or why there is none.
struct ProfileDelivery {
  std::optional<Refusal> refusal;
  std::unique_ptr<settings::ProfileFile> file;
  // There was no file: it reads as an empty one, and nothing was verified.
  bool missing = false;
};

// A module package that was verified, held open: its bytes cannot change
// before it is extracted (platform::File::OpenReadHeld). Without the key
// nothing is held.
struct HeldPackage {
  platform::File file;
  bool IsHeld() const { return file.IsOpen(); }
};

struct PackageDelivery {
  std::optional<Refusal> refusal;
  HeldPackage package;
};

// The outcome of a download: a refusal (already logged), or a file that is
// whole or was cut short by the operator's abort.
struct FetchOutcome {
  std::optional<Refusal> refusal;
  bool complete = true;
};

class UpdateSource {
 public:
  explicit UpdateSource(const SourceServices& services) : s_(services) {}

  bool Keyed() const { return s_.makersKey != nullptr; }
  bool InternetMode() const { return s_.internetMode; }

  // The session with the update server, in the steps the callers take. A
  // session that an abort ended is opened again, in the folder last entered,
  // by the next operation that needs it.
  bool IsConnected() const;
  void Connect();
  void EnterFolder(const std::string& folder);
  void Disconnect();

  // Internet mode: a catalogue or script package fetched from the current
  // folder into localPath (the server is asked its size first), then with
  // the key its ".sig" beside it. With the key each is cut at its bound.
  FetchOutcome Fetch(FileKind kind, const std::string& name, const std::string& localPath);
  // The server's file fetched when the server has it (a size of -1 means it
  // has not); unsigned: the client version report. With the key it is cut
  // at kLongestClientFile, refused and deleted past it.
  void FetchIfPresent(const std::string& name, const std::string& localPath);

  // The catalogue or script package at localPath, fetched or lying there. A
  // missing file reads as an empty one. With the key: verified and parsed
  // from the bytes verified, or refused (and logged).
  ProfileDelivery OpenProfile(FileKind kind, const std::string& localPath);

  // A module package. PackageSize is the size the download expects: the
  // server's (internet mode) or 1 (local mode). PinRefusal refuses (and
  // logs) a section that the key needs and that lacks its SHA256 or TAMANHO.
  std::int32_t PackageSize(const std::string& name);
  std::optional<Refusal> PinRefusal(const std::string& name, const PackagePin& pin);
  // Fetched into localPath, cut past its pinned size with the key.
  FetchOutcome FetchPackage(const std::string& name, const std::string& localPath,
                            const PackagePin& pin);
  // The package at path against its pin (with the key), held open for its
  // extraction; refused and logged when it is not the catalogue's or cannot
  // be read.
  PackageDelivery VerifyPackage(const std::string& name, const std::string& path,
                                const PackagePin& pin);

  // A test stands here between a file's verification and its use.
  static void SetAfterVerificationHookForTests(std::function<void(const std::string&)> hook);

 private:
  void EnsureSession();
  FetchOutcome Refuse(Refusal refusal);
  FetchOutcome FetchSignature(const std::string& name, const std::string& localPath);
  // FetchFile, cut at limit; a server that answers the cut's ABOR in a way
  // of its own does not hide that the file was too large.
  const transfer::TransferOutcome& FetchBounded(const std::string& name,
                                                const std::string& localPath, std::int64_t limit);
  std::optional<std::string> ReadSignature(const std::string& path,
                                           std::optional<Refusal>& refusal);

  SourceServices s_;
  std::string folder_;
};

}  // namespace korva::delivery
