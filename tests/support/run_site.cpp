#include "support/run_site.h"

namespace korva::testing {

const Message kSuccess{"KORVA", "Atualizações efetuadas com sucesso", MsgIcon::Information, kOk,
                       kOk};

Offer OfferFor(const std::string& edition) {
  if (edition == "EMPRESA") {
    return {{"--app-module=EFIN.EXE=2.1.7", "--app-module=EEST.EXE=2.0.3",
             "--app-module=EADM.EXE=1.9.12"},
            CrLf("[EMPRESA]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.3\n[BANCO_KORVA]\n"
                 "ÚltimaVersão=3.16.51\n[EFIN.EXE]\nÚltimaVersão=2.2.0\n[EEST.EXE]\n"
                 "ÚltimaVersão=2.0.3\n[EVEI.EXE]\nÚltimaVersão=1.0.0\n"),
            {{"script_usuario_1_4_3.ini",
              ScriptPackage("1.4.3", {{"CREATE TABLE PERFIL (CODPERFIL INTEGER)"}})},
             {"script_korva_3_16_51.ini",
              ScriptPackage("3.16.51", {{"CREATE TABLE CLIENTE (CODCLIENTE INTEGER)"},
                                        {"INSERT INTO CLIENTE VALUES (1)"}})}},
            {{"EFIN.EXE", "2.1.7", "2.2.0"}, {"EVEI.EXE", "", "1.0.0"}},
            "1.4.3",
            "3.16.51",
            {{"VERSAO_FIN", "2.2.0"}, {"VERSAO_VEI", "1.0.0"}, {"VERSAO_EST", "2.0.3"}}};
  }
  return {{"--app-module=CNAS.EXE=4.0.1", "--app-module=CFIN.EXE=4.0.2",
           "--app-module=CADM.EXE=1.9.12"},
          CrLf("[CARTORIO]\nID=KORVA\n[BANCO_USUÁRIO]\nÚltimaVersão=1.4.2\n[BANCO_CARTÓRIO]\n"
               "ÚltimaVersão=2.5.11\n[CFIN.EXE]\nÚltimaVersão=4.0.3\n"),
          {{"script_cartorio_2_5_11.ini",
            ScriptPackage("2.5.11", {{"CREATE TABLE ATO (CODATO INTEGER)"}})}},
          {{"CFIN.EXE", "4.0.2", "4.0.3"}},
          "1.4.2",
          "2.5.11",
          {{"VERSAO_CXA", "4.0.3"}, {"VERSAO_NAS", "4.0.1"}}};
}

std::vector<std::string> RecordedModuleLog(const std::string& package, const std::string& folder,
                                           bool internet) {
  std::vector<std::string> lines;
  if (internet) {
    lines = {"Excluindo arquivo zip antigo " + folder + "/" + package,
             "Iniciar download de " + package + " em " + folder,
             "Download de " + package + " concluído"};
  }
  for (const std::string& line :
       {"Iniciar a descompactação de " + package, "Descompactação de " + package + " concluída",
        "Obtendo versão " + package,
        "Iniciar a atualização de versão de " + package + " no Banco de Dados",
        "Iniciar ApplyUpdates de atualização de versão de " + package + " no Banco de Dados",
        "Gravação (CCOMMIT) de versão de " + package + " efetuada com sucesso",
        std::string(63, '-')}) {
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LinesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto end = bytes.find("\r\n", at);
    lines.push_back(bytes.substr(at, end - at));
    at = end == std::string::npos ? bytes.size() : end + 2;
  }
  return lines;
}

}  // namespace korva::testing
