#include "transfer/signature_download.h"

#include <algorithm>

#include "platform/files.h"
#include "trust/trust.h"

namespace korva::transfer {

void FetchSignature(FtpSession& ftp, TransferState& transfer, const std::string& remoteName,
                    const std::string& localPath) {
  const std::string local = trust::SignatureName(localPath);
  if (platform::FileExists(local)) platform::DeleteFile(local);
  const std::string remote = trust::SignatureName(remoteName);
  const std::int32_t size = ftp.RemoteFileSize(remote);
  if (size == -1) return;
  transfer.expectedTransferSize = std::max<std::int32_t>(1, size);
  ftp.FetchFile(remote, local);
}

}  // namespace korva::transfer
