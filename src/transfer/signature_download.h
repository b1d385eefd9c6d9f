#pragma once
// The detached signature of an update file, fetched beside the file in the
// session that fetched the file.
#include <string>

#include "transfer/ftp_session.h"
#include "transfer/transfer_state.h"

namespace korva::transfer {

// Fetches remoteName + ".sig" (from the session's current folder) to
// localPath + ".sig". A signature left there by an earlier run is deleted
// first: it never speaks for this copy. The server is asked for the size
// first, and one that has no such file (or gives no size) leaves none, so
// the check tells a missing signature and not a transfer failure.
void FetchSignature(FtpSession& ftp, TransferState& transfer, const std::string& remoteName,
                    const std::string& localPath);

}  // namespace korva::transfer
