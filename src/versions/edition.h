#pragma once
// The two editions of the KORVA system, and everything in which they differ:
// where their files lie on the update server, the texts they show and the
// versions their databases start from. The connection file decides the
// edition; everything else asks this table instead of naming an edition.
#include <span>

namespace korva::versions {

// CARTORIO is also what an installation is taken for before its connection
// file has been read, as anything that is not EMPRESA always was.
enum class Edition { Empresa, Cartorio };

// A module the edition knows: under which label the installed-modules list
// names it, which column of the main database's version table records its
// version, its executable and its package.
struct RegisteredModule {
  const char* label;
  const char* versionColumn;
  const char* executable;
  const char* package;  // upper case, as the installation compares it
};

struct EditionTable {
  const char* name;               // "EMPRESA": its catalogue section, its script file
  const char* connectionSection;  // its section of "dbxconnections.ini"
  unsigned mainFileLength;        // of "KORVA.FDB": the users database lies beside it
  const char* remoteDirectory;
  const char* catalogueFile;
  // The main database's version after which the catalogue may be checked at
  // all; none for an edition without that gate.
  const char* catalogueGate;
  // The users database without a version table stands at this version.
  const char* usersBaseline;
  // The main database: its catalogue section, its key in the client version
  // report, its status bar label and its line in the pending list.
  const char* mainSection;
  const char* mainReportKey;
  const char* mainPanelLabel;
  const char* mainPendingText;
  const char* invalidCatalogueText;
  const char* keptSerieKey;  // in "KORVA.INI"
  std::span<const RegisteredModule> modules;
  // A module offered whether the installed-modules list names it or not.
  const char* alwaysOffered;
  // Whether an update of its users database stops the working day.
  bool usersUpdateStopsWork;
};

const EditionTable& TableOf(Edition edition);

inline constexpr Edition kEditions[] = {Edition::Empresa, Edition::Cartorio};

// The catalogue section of the users database, the same in both editions.
inline constexpr const char* kUsersSection = "BANCO_USU\xC1RIO";  // BANCO_USUÁRIO
// And its key in the client version report.
inline constexpr const char* kUsersReportKey = "BDUSUARIO";

}  // namespace korva::versions
