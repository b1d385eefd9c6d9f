#include "dbupdate/connected_users.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "db/attachment_count.h"
#include "platform/process_outcome.h"
#include "text/strings.h"

namespace korva::dbupdate {
namespace {

// The updater's own main connection and the count's attachment are listed
// with the others.
constexpr int kOwnAttachments = 2;

// The busy pointer for as long as the refresh runs, however it ends.
class BusyPointer {
 public:
  explicit BusyPointer(Shell& shell) : shell_(shell) { shell_.SetBusyCursor(true); }
  ~BusyPointer() { shell_.SetBusyCursor(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

 private:
  Shell& shell_;
};

}  // namespace

std::optional<int> RetornaNumeroUsuarios(const db::Connection& main) {
  try {
    const int entries = db::CountAttachments(main.Param("Database"), main.Param("User_Name"),
                                             main.Param("Password"));
    platform::SetExitStatus(entries > 1 ? 1 : 0);
    return entries - kOwnAttachments;
  } catch (const std::exception& e) {
    platform::WriteStandardError(std::string(e.what()) + "\r\n");
    platform::SetExitStatus(2);
    return std::nullopt;
  }
}

void AtualizaConsultaConexoes(const ConnectionControls& controls, Shell& shell,
                              const db::Connection& main, db::Connection& users) {
  BusyPointer busy(shell);
  const std::optional<int> others = RetornaNumeroUsuarios(main);
  controls.StTxtNumUsers.SetText(others ? text::IntToStr(*others) : kUnknownNumUsers);

  // A closed users connection reconnects, as a query on it would.
  users.Open();
  const db::QueryResult computers = users.Query(kConnectedComputersQuery);
  std::vector<std::string> lines;
  for (const db::Row& row : computers.rows) lines.push_back(row.values.at(1));
  controls.MmComputadoresConectados.SetLines(lines);
  controls.StTxtUsuariosConectados.SetText(text::IntToStr(static_cast<std::int64_t>(lines.size())));
}

}  // namespace korva::dbupdate
