// Signed updates on real sites: a site with the maker's key takes only what
// the maker signed, fresh, within its bounds, and uses exactly the bytes it
// verified. One site per mode refuses one tampered file after another, each
// time with nothing executed, set aside or copied, and at last takes the
// files as signed, a script package over 64 KiB among them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "delivery/update_source.h"
#include "settings/profile_file.h"
#include "support/run_site.h"
#include "text/cp1252.h"

namespace korva {
namespace {

using namespace testing;
using trust::Domain;

struct Tampering {
  const char* what;
  std::function<void(UpdateSite&)> tamper;
  std::string refused;  // the file named in the log
  std::string reason;   // empty: "SHA256 não confere", or "maior que" when the package grew
  enum { Catalogue, Script, Module } refusedAt;
  // The catalogue's message, or how the script package's failure ends.
  std::string message = {};
  bool internetOnly = false;
};

// An EMPRESA site that holds the maker's key.
SiteOptions KeyedSite(const trust::KeyPair& maker) {
  return SiteOptions{"EMPRESA", "FDB", {PublicKeyArgument(maker)}};
}

std::string Sha256Hex(const std::string& bytes) {
  trust::Sha256 sha;
  sha.Update(bytes);
  return trust::Hex(sha.Finish());
}

// 100 statement groups, over 64 KiB in all: what libgcrypt could not take
// whole.
std::string LargeMainPackage() {
  std::vector<std::vector<std::string>> groups{{"CREATE TABLE CLIENTE (CODCLIENTE INTEGER)"}};
  for (int g = 2; g <= 100; ++g) {
    groups.push_back({"INSERT INTO CLIENTE VALUES (" + std::to_string(g) + ")",
                      "/* " + std::string(700, 'x') + " */"});
  }
  return ScriptPackage("3.16.51", groups);
}

class SignedRun : public ::testing::TestWithParam<UpdateMode> {
 protected:
  bool Local() const { return !GetParam().server; }
  std::string Catalogue(const std::string& editionLines, const std::string& efinPins) const {
    return CrLf("[EMPRESA]\nID=KORVA\n" + editionLines + "[BANCO_USUÁRIO]\nÚltimaVersão=1.4.3\n" +
                "[BANCO_KORVA]\nÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n" + efinPins +
                "[EEST.EXE]\nÚltimaVersão=2.0.3\n[EVEI.EXE]\nÚltimaVersão=1.0.0\n" +
                "SHA256=" + text::Upper1252(Sha256Hex(evei)) +
                "\nTAMANHO=" + std::to_string(evei.size()) + "\n");
  }
  std::string Pins(const std::string& package) const {
    return "SHA256=" + Sha256Hex(package) + "\nTAMANHO=" + std::to_string(package.size()) + "\n";
  }
  std::string Served(const std::string& name) const {
    UpdateSite& s = r->s;
    return ReadBytes(Local() ? s.Local(name) : s.server->Path(s.ServerFolder() + "/" + name));
  }
  void PutCatalogue(const std::string& bytes) {
    r->s.PutSigned(maker, Domain::Catalogue, r->s.CatalogueName(), bytes);
  }
  void Serve() {
    UpdateSite& s = r->s;
    efin = s.PutModulePackage("EFIN.EXE", "2.2.0");
    evei = s.PutModulePackage("EVEI.EXE", "1.0.0");
    PutCatalogue(Catalogue("SERIE=5\n", Pins(efin)));
    s.PutSigned(maker, Domain::ScriptPackage, kUsers, OfferFor("EMPRESA").packages[0].second);
    s.PutSigned(maker, Domain::ScriptPackage, kMain, LargeMainPackage());
  }

  // A new start of the program on the same site, with the files served as
  // signed and then tampered with.
  void Attempt(const Tampering& t) {
    UpdateSite& s = r->s;
    s.shell = {};
    s.principal = std::make_unique<Principal>(s.form, s.shell, s.clock);
    if (Local()) s.UseLocalMode();
    std::filesystem::remove(s.Local("LogUpdate.txt"));
    Serve();
    if (t.tamper) t.tamper(s);
    ASSERT_TRUE(s.Start());
    if (t.refusedAt == Tampering::Catalogue) {
      s.principal->BtBtnNovasAtualizacoesClick();
    } else {
      r->ClickThrough();
    }
  }
  void MakeSite() {
    r = std::make_unique<RunSite>(
        "EMPRESA", Local() ? FtpServerKind::Pyftpdlib : GetParam().server, Local(),
        std::vector<std::string>{"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
                                 "--app-module=EADM.EXE=1.9.12", PublicKeyArgument(maker)});
    WriteBytes(r->Branch("EFIN.EXE"), ModuleBytes("EFIN.EXE", "2.1.7"));
  }
  void KeepSerie(const std::string& value) {
    settings::ProfileFile(r->s.Local("KORVA.INI")).WriteString("UPDATE", "SERIE_EMPRESA", value);
  }

  static constexpr const char* kUsers = "script_usuario_1_4_3.ini";
  static constexpr const char* kMain = "script_korva_3_16_51.ini";
  trust::KeyPair maker = trust::GenerateKeyPair();
  trust::KeyPair other = trust::GenerateKeyPair();
  std::unique_ptr<RunSite> r;
  std::string efin, evei;
};

TEST_P(SignedRun, EveryTamperedFileIsRefusedAndTheSignedOnesAreTaken) {
  MakeSite();
  UpdateSite& s = r->s;
  const std::string catalogue = s.CatalogueName();
  const std::string named = "O arquivo de atualização " + catalogue;
  const auto flipLastByte = [](std::string bytes) {
    bytes.back() ^= 1;
    return bytes;
  };
  // The bytes libgcrypt once stopped reading at, then a section of our own.
  const auto appended = [](const std::string& bytes, const std::string& more) {
    return bytes + "\x04\x04" + more + std::string(65534 - more.size(), ';');
  };
  const auto recatalogue = [&](const std::string& edition, const std::string& efinPins) {
    return [=, this](UpdateSite&) { PutCatalogue(Catalogue(edition, efinPins)); };
  };
  const auto servedPath = [&](const std::string& name) {
    return Local() ? s.App(name) : s.server->Path(s.ServerFolder() + "/" + name);
  };
  const Tampering cases[] = {
      {"catalogue changed by one byte",
       [&](UpdateSite& s) { s.PutCatalogue(flipLastByte(Served(catalogue))); }, catalogue,
       "assinatura não confere", Tampering::Catalogue,
       "A assinatura do arquivo de atualização " + catalogue + " não confere."},
      {"catalogue signature missing",
       [&](UpdateSite& s) { s.RemoveUpdateFile(catalogue + ".sig"); }, catalogue,
       "assinatura não encontrada", Tampering::Catalogue,
       "A assinatura do arquivo de atualização " + catalogue + " não foi encontrada."},
      {"catalogue signed by another key",
       [&](UpdateSite& s) {
         s.PutUpdateFile(catalogue + ".sig",
                         SignatureOf(other, Domain::Catalogue, catalogue, Served(catalogue)));
       },
       catalogue, "assinatura não confere", Tampering::Catalogue,
       "A assinatura do arquivo de atualização " + catalogue + " não confere."},
      {"catalogue with a section appended past 64 KiB",
       [&](UpdateSite& s) {
         s.PutCatalogue(appended(Served(catalogue), "\r\n[EADM.EXE]\r\nÚltimaVersão=9.9.9\r\n"));
       },
       catalogue, "assinatura não confere", Tampering::Catalogue,
       "A assinatura do arquivo de atualização " + catalogue + " não confere."},
      {"catalogue older than the one accepted",
       [&](UpdateSite& s) {
         KeepSerie("5");
         PutCatalogue(Catalogue("SERIE=4\n", Pins(efin)));
         (void)s;
       },
       catalogue, "SERIE 4 menor que a já aceita (5)", Tampering::Catalogue,
       named + " é mais antigo que o último aceito nesta instalação."},
      {"catalogue past its VALIDADE", recatalogue("SERIE=5\nVALIDADE=2026-12-08\n", Pins(efin)),
       catalogue, "vencido em 2026-12-08", Tampering::Catalogue, named + " venceu em 2026-12-08."},
      {"catalogue without SERIE", recatalogue("", Pins(efin)), catalogue, "SERIE ausente",
       Tampering::Catalogue, named + " não traz SERIE."},
      {"catalogue with SERIE 5a", recatalogue("SERIE=5a\n", Pins(efin)), catalogue,
       "SERIE inválida", Tampering::Catalogue, named + " traz SERIE inválida."},
      {"catalogue with VALIDADE 2026-02-29",
       recatalogue("SERIE=5\nVALIDADE=2026-02-29\n", Pins(efin)), catalogue, "VALIDADE inválida",
       Tampering::Catalogue, named + " traz VALIDADE inválida."},
      {"catalogue signature of 1 MiB",
       [&](UpdateSite& s) { s.PutUpdateFile(catalogue + ".sig", std::string(1 << 20, 'A')); },
       catalogue + ".sig", "maior que 4096 bytes", Tampering::Catalogue,
       "A assinatura do arquivo de atualização " + catalogue + " não confere.", true},
      {"script package signed for another version",
       [&](UpdateSite& s) {
         s.PutUpdateFile(
             std::string(kUsers) + ".sig",
             SignatureOf(maker, Domain::ScriptPackage, "script_usuario_1_4_9.ini", Served(kUsers)));
       },
       kUsers, "assinatura não confere", Tampering::Script,
       std::string("A assinatura do pacote ") + kUsers + " não confere."},
      {"script package signature missing",
       [&](UpdateSite& s) { s.RemoveUpdateFile(std::string(kUsers) + ".sig"); }, kUsers,
       "assinatura não encontrada", Tampering::Script,
       std::string("A assinatura do pacote ") + kUsers + " não foi encontrada."},
      {"script package with a group appended past 64 KiB",
       [&](UpdateSite& s) {
         s.PutUpdateFile(kUsers,
                         appended(Served(kUsers), "\r\nS2_1=CREATE TABLE INTRUSO (X INTEGER)\r\n"));
       },
       kUsers, "assinatura não confere", Tampering::Script,
       std::string("A assinatura do pacote ") + kUsers + " não confere."},
      {"module package changed by one byte",
       [&](UpdateSite&) {
         std::string bytes = ReadBytes(servedPath("efin.zip"));
         bytes[bytes.size() / 2] ^= 1;
         WriteBytes(servedPath("efin.zip"), bytes);
       },
       "efin.zip", "SHA256 não confere", Tampering::Module},
      {"module package older than the catalogue's",
       [&](UpdateSite& s) { s.PutModulePackage("EFIN.EXE", "2.1.9"); }, "efin.zip", "",
       Tampering::Module},
      {"module section without SHA256", recatalogue("SERIE=5\n", "TAMANHO=100\n"), "efin.zip",
       "SHA256 ausente no catálogo", Tampering::Module},
      {"module section without TAMANHO",
       recatalogue("SERIE=5\n", "SHA256=" + Sha256Hex(efin) + "\n"), "efin.zip",
       "TAMANHO ausente no catálogo", Tampering::Module},
      {"module package larger than its TAMANHO",
       [&](UpdateSite&) {
         PutCatalogue(Catalogue("SERIE=5\n", "SHA256=" + Sha256Hex(efin) + "\nTAMANHO=100\n"));
       },
       "efin.zip", "maior que 100 bytes", Tampering::Module, "", true},
  };
  bool eveiPending = true;
  for (const Tampering& t : cases) {
    if (t.internetOnly && Local()) continue;
    SCOPED_TRACE(t.what);
    Attempt(t);
    const auto log = LinesOf(ReadBytes(s.Local("LogUpdate.txt")));
    const std::string prefix = "Arquivo " + t.refused + " recusado: ";
    const auto refusal = std::find_if(log.begin(), log.end(), [&](const std::string& line) {
      return line.rfind(prefix, 0) == 0;
    });
    ASSERT_NE(refusal, log.end()) << ::testing::PrintToString(log);
    if (!t.reason.empty()) {
      EXPECT_EQ(*refusal, prefix + t.reason);
    } else {
      EXPECT_THAT(*refusal, ::testing::AnyOf(prefix + "SHA256 não confere",
                                             ::testing::StartsWith(prefix + "maior que ")));
    }
    ASSERT_FALSE(s.shell.messages.empty());
    const Message& first = s.shell.messages.front();
    switch (t.refusedAt) {
      case Tampering::Catalogue:
        EXPECT_EQ(first, (Message{"KORVA - Atualizações", t.message, MsgIcon::Warning, kOk, kOk}));
        EXPECT_EQ(s.shell.endRequests, 1);
        EXPECT_TRUE(s.Nodes().empty());
        break;
      case Tampering::Script:
        EXPECT_EQ(first.text.substr(first.text.rfind('\r') + 1), t.message);
        EXPECT_FALSE(std::filesystem::exists(s.Local(kUsers)) && !Local());
        break;
      case Tampering::Module: {
        EXPECT_EQ(*std::next(refusal), Local() ? "NÃO FOI POSSÍVEL descompactar efin.zip"
                                               : "NÂO FOI POSSÍVEL fazer o download de efin.zip");
        EXPECT_EQ(first.text.substr(0, 20),
                  Local() ? "Falha na descompacta" : "Problemas na localiz");
        // The last module decides how the run ends: EVEI, installed by the
        // first of these runs, or EFIN itself in the later ones.
        ASSERT_EQ(s.shell.messages.size(), 2u);
        if (eveiPending) {
          EXPECT_EQ(s.shell.messages.back(), kSuccess);
        } else {
          EXPECT_EQ(s.shell.messages.back().text.substr(0, 20), "Erro no Download do ");
        }
        eveiPending = false;
        // The databases took their signed packages all the same.
        EXPECT_EQ(r->Column("VERSAOBANCO"), "3.16.51");
        break;
      }
    }
    if (t.refusedAt != Tampering::Module) {
      EXPECT_EQ(IsqlValue(s.site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.4.2");
      EXPECT_EQ(r->Column("VERSAOBANCO"), "3.16.50");
    }
    EXPECT_EQ(r->Column("VERSAO_FIN"), "2.1.7");
    EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
    EXPECT_FALSE(std::filesystem::exists(s.App("EFIN.Old")));
    EXPECT_FALSE(std::filesystem::exists(s.App("EADM.Old")));
    EXPECT_EQ(ReadBytes(r->Branch("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
  }
  EXPECT_EQ(IsqlValue(s.site.usersDatabase,
                      "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'INTRUSO'"),
            "0");

  SCOPED_TRACE("every file as the maker signed it");
  Attempt({"none", nullptr, "", "", Tampering::Script});
  EXPECT_EQ(s.shell.messages, std::vector<Message>{kSuccess});
  EXPECT_EQ(r->Column("VERSAO_FIN"), "2.2.0");
  EXPECT_EQ(IsqlValue(s.site.mainDatabase, "SELECT COUNT(*) FROM CLIENTE"), "99");
  EXPECT_EQ(ReadBytes(r->Branch("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))), Not(Contains(HasSubstr("recusado"))));
  EXPECT_EQ(settings::ProfileFile(s.Local("KORVA.INI")).ReadString("UPDATE", "SERIE_EMPRESA", ""),
            "5");
}

// A file changed on disk after it was verified, written into where it lies
// or replaced under its name: the verified bytes are the ones used.
TEST_P(SignedRun, TheBytesVerifiedAreTheBytesUsed) {
  MakeSite();
  UpdateSite& s = r->s;
  bool inPlace = false;
  delivery::UpdateSource::SetAfterVerificationHookForTests([&](const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    if (name == kUsers) {
      WriteBytes(path, ScriptPackage("1.4.3", {{"CREATE TABLE INTRUSO (X INTEGER)"}}));
    } else if (name == "efin.zip") {
      const std::string other = ReadBytes(s.App("outro.zip"));
      if (inPlace) {
        WriteBytes(path, other);
      } else {
        WriteBytes(path + ".novo", other);
        std::filesystem::rename(path + ".novo", path);
      }
    }
  });
  const auto run = [&] {
    // A package of another build, which the catalogue does not pin.
    WriteBytes(s.App("outro.zip"), s.PutModulePackage("EFIN.EXE", "6.6.6"));
    Attempt({"changed after verification", nullptr, "", "", Tampering::Script});
  };
  inPlace = true;
  run();
  EXPECT_EQ(IsqlValue(s.site.usersDatabase, "SELECT VERSAOBANCO FROM VERSAOBD"), "1.4.3");
  EXPECT_EQ(IsqlValue(s.site.usersDatabase,
                      "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'PERFIL'"),
            "1");
  EXPECT_EQ(IsqlValue(s.site.usersDatabase,
                      "SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'INTRUSO'"),
            "0");
  const auto installedAsVerified = [&] {
    EXPECT_EQ(ReadBytes(s.App("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.2.0"));
    EXPECT_EQ(r->Column("VERSAO_FIN"), "2.2.0");
    // The branch's copy was made from the changed file: hashed again there,
    // it is an extraction failure at the branch, and it goes.
    ASSERT_EQ(s.shell.messages.size(), 2u);
    EXPECT_EQ(s.shell.messages[0].text.substr(0, 38), "Falha na descompactação do arquivo em\r");
    EXPECT_EQ(s.shell.messages[1], kSuccess);
    EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))),
                Contains("Arquivo efin.zip recusado: SHA256 não confere"));
    EXPECT_EQ(ReadBytes(r->Branch("EFIN.EXE")), ModuleBytes("EFIN.EXE", "2.1.7"));
    EXPECT_FALSE(std::filesystem::exists(r->Branch("efin.zip")));
  };
  installedAsVerified();

  // Back to the old build, and the package replaced under its name instead.
  WriteBytes(s.App("EFIN.EXE"), ModuleBytes("EFIN.EXE", "2.1.7"));
  std::filesystem::remove(s.App("EFIN.Old"));
  Isql(s.site.mainDatabase, "UPDATE VERSAOBD SET VERSAO_FIN = '2.1.7';\nCOMMIT;\n");
  inPlace = false;
  run();
  delivery::UpdateSource::SetAfterVerificationHookForTests(nullptr);
  installedAsVerified();
}

INSTANTIATE_TEST_SUITE_P(Modes, SignedRun,
                         ::testing::Values(UpdateMode{"EMPRESA", FtpServerKind::Pyftpdlib},
                                           UpdateMode{"EMPRESA", std::nullopt}),
                         testing::ModeName);

// The SERIE this site keeps: a kept value that is no number counts as none,
// and a KORVA.INI that takes no write leaves the check going on.
TEST(SignedCatalogue, TheKeptSerieIsReadLeniently) {
  const trust::KeyPair maker = trust::GenerateKeyPair();
  UpdateSite s(KeyedSite(maker), std::nullopt);
  const std::string ini = s.Local("KORVA.INI");
  settings::ProfileFile(ini).WriteString("UPDATE", "SERIE_EMPRESA", "abc");
  ASSERT_TRUE(s.Start());
  s.PutSigned(maker, Domain::Catalogue, s.CatalogueName(),
              CrLf("[EMPRESA]\nID=KORVA\nSERIE=3\nVALIDADE=2026-12-09\n"));
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))),
              Contains("SERIE_EMPRESA inválida em KORVA.INI: tomada como ausente"));
  EXPECT_EQ(settings::ProfileFile(ini).ReadString("UPDATE", "SERIE_EMPRESA", ""), "3");
  EXPECT_TRUE(s.shell.messages.empty());

  ::chmod(ini.c_str(), 0444);
  s.PutSigned(maker, Domain::Catalogue, s.CatalogueName(), CrLf("[EMPRESA]\nID=KORVA\nSERIE=4\n"));
  s.principal->BtBtnNovasAtualizacoesClick();
  ::chmod(ini.c_str(), 0644);
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))),
              Contains(HasSubstr("Não foi possível gravar SERIE_EMPRESA em KORVA.INI: ")));
  EXPECT_EQ(settings::ProfileFile(ini).ReadString("UPDATE", "SERIE_EMPRESA", ""), "3");
  EXPECT_TRUE(s.shell.messages.empty());
  EXPECT_THAT(s.Nodes(), Contains("MÓDULO VEI - Reinstalação"));

  // No catalogue at all is the invalid one it always was, not a stale one.
  s.RemoveUpdateFile(s.CatalogueName());
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_EQ(s.shell.messages,
            (std::vector<Message>{{"KORVA - Atualizações", "O arquivo de atualização não é válido.",
                                   MsgIcon::Warning, kOk, kOk}}));
}

// The client's version file that the server keeps for the site is bounded
// too: past 1 MiB it is refused and deleted, and the check goes on.
TEST(SignedCatalogue, AClientFileOverItsBoundIsRefusedAndTheCheckGoesOn) {
  const trust::KeyPair maker = trust::GenerateKeyPair();
  UpdateSite s(KeyedSite(maker), FtpServerKind::Pyftpdlib);
  ASSERT_TRUE(s.Start());
  s.PutSigned(maker, Domain::Catalogue, s.CatalogueName(), CrLf("[EMPRESA]\nID=KORVA\nSERIE=1\n"));
  s.PutClientFileOnServer(CrLf("[BDUSUARIO]\nversao=1.4.2\n") + std::string(1 << 20, ';'));
  s.principal->BtBtnNovasAtualizacoesClick();
  EXPECT_THAT(LinesOf(ReadBytes(s.Local("LogUpdate.txt"))),
              Contains(std::string("Arquivo ") + UpdateSite::kClientId +
                       ".ini recusado: maior que 1048576 bytes"));
  EXPECT_TRUE(s.shell.messages.empty());
  EXPECT_THAT(s.Nodes(), Contains("MÓDULO VEI - Reinstalação"));
  // The report starts afresh from what the check found.
  EXPECT_EQ(s.ClientVersion("BDUSUARIO"), "1.4.2");
  EXPECT_LT(ReadBytes(s.Local(std::string(UpdateSite::kClientId) + ".ini")).size(), 4096u);
}

TEST(SignedRun, AMakersKeyThatIsNotOneStopsTheStart) {
  const std::pair<const char*, bool> keys[] = {
      {"", true},  // no key: unsigned, as before
      {"   ", true},
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFdA=", true},   // 32 bytes
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFd==", false},  // 31 bytes
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFdAA", false},  // no padding: not Base64
      {"mu7Xwa6hhob26k15O8lrwQ96THSmsU4/N8m3lRasFdA=AAAA", false},
      {"mu7Xwa6hhob26k15O8lrwQ96THSm$U4/N8m3lRasFdA=", false},
      {"chave", false},
      {"a2tra2tra2tra2tra2tra2tra2tra2tra2tra2tra2s=", false},  // 32 bytes, no point of the curve
  };
  for (const auto& [key, starts] : keys) {
    SCOPED_TRACE(key);
    UpdateSite s(SiteOptions{"EMPRESA", "FDB", {std::string("--public-key=") + key}}, std::nullopt);
    EXPECT_EQ(s.Start(), starts);
    if (starts) {
      EXPECT_TRUE(s.shell.messages.empty());
    } else {
      EXPECT_EQ(s.shell.messages,
                (std::vector<Message>{
                    {"KORVA", "CHAVE_PUBLICA inválida em KORVA.INI.", MsgIcon::Error, kOk, kOk}}));
    }
  }
}

}  // namespace
}  // namespace korva
