#include "db/attachment_count.h"

#include <ibase.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "db/client_library.h"
#include "db/status_text.h"
#include "text/error.h"

namespace korva::db {
namespace {

constexpr std::size_t kInfoResponseSize = 1024;
// isc_interprete is given no size: the client assumes room for twice the
// longest path, and a message that names a long database path needs it.
constexpr std::size_t kInterpretBufferSize = std::size_t{2} * 4096;

// The attachment made for one count.
class CountAttachment {
 public:
  CountAttachment(const std::string& database, const ParameterBuffer& dpb, std::size_t dpbLength) {
    if (database.size() > SHRT_MAX) throw KorvaError("Database name too long: " + database);
    if (Client().attachDatabase(status_, static_cast<short>(database.size()), database.c_str(),
                                &handle_, static_cast<short>(dpbLength), dpb.data()) != 0) {
      LevantaErroIsc(status_);
    }
  }
  // Only after a failure: the failure that got here is the one to report.
  ~CountAttachment() {
    if (handle_ == 0) return;
    ISC_STATUS_ARRAY ignored{};
    Client().detachDatabase(ignored, &handle_);
  }
  CountAttachment(const CountAttachment&) = delete;
  CountAttachment& operator=(const CountAttachment&) = delete;

  int CountEntries() {
    const char request[] = {isc_info_user_names};
    std::array<char, kInfoResponseSize> response{};
    if (Client().databaseInfo(status_, &handle_, sizeof request, request,
                              static_cast<short>(response.size()), response.data()) != 0) {
      LevantaErroIsc(status_);
    }
    return CountUserNameEntries(response);
  }

  void Detach() {
    if (Client().detachDatabase(status_, &handle_) != 0) LevantaErroIsc(status_);
    handle_ = 0;
  }

 private:
  ISC_STATUS_ARRAY status_{};
  isc_db_handle handle_ = 0;
};

}  // namespace

void AdicionaItemDpb(ParameterBuffer& buffer, std::size_t& position, unsigned char code,
                     std::string_view value) {
  if (value.size() > UCHAR_MAX || position + 2 + value.size() > buffer.size())
    throw KorvaError("Database parameter too long");
  buffer[position] = static_cast<char>(code);
  buffer[position + 1] = static_cast<char>(value.size());
  value.copy(buffer.data() + position + 2, value.size());
  position += 2 + value.size();
}

int CountUserNameEntries(std::span<const char> response) {
  int entries = 0;
  std::size_t pos = 0;
  while (pos + 3 <= response.size()) {
    const auto tag = static_cast<unsigned char>(response[pos]);
    if (tag == isc_info_end || tag == isc_info_truncated || tag == isc_info_error) break;
    // Read as unsigned: a length taken as negative would walk backwards.
    const auto length =
        static_cast<std::uint16_t>(Client().vaxInteger(response.data() + pos + 1, 2));
    ++entries;
    pos += std::size_t{length} + 3;
  }
  return entries;
}

void LevantaErroIsc(const std::intptr_t* statusVector) {
  // isc_interprete only moves the pointer along the vector; its parameter
  // lacks const for the sake of old callers.
  auto* cursor = const_cast<ISC_STATUS*>(statusVector);
  std::vector<char> buffer(kInterpretBufferSize);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  throw KorvaError(JoinStatusLines([&](std::string& line) {
    if (Client().interprete(buffer.data(), &cursor) == 0) return false;
    line = buffer.data();
    return true;
  }));
#pragma GCC diagnostic pop
}

int CountAttachments(const std::string& database, const std::string& user,
                     const std::string& password) {
  ParameterBuffer dpb{};
  dpb[0] = isc_dpb_version1;
  std::size_t position = 1;
  AdicionaItemDpb(dpb, position, isc_dpb_user_name, user);
  AdicionaItemDpb(dpb, position, isc_dpb_password, password);

  CountAttachment attachment(database, dpb, position);
  const int entries = attachment.CountEntries();
  attachment.Detach();
  return entries;
}

}  // namespace korva::db
