#include "versions/edition.h"

namespace korva::versions {
namespace {

constexpr RegisteredModule kEmpresaModules[] = {
    {"ADM", "VERSAO_ADM", "EADM.EXE", "EADM.ZIP"}, {"FIN", "VERSAO_FIN", "EFIN.EXE", "EFIN.ZIP"},
    {"EST", "VERSAO_EST", "EEST.EXE", "EEST.ZIP"}, {"FCX", "VERSAO_FCX", "EFCX.EXE", "EFCX.ZIP"},
    {"VAU", "VERSAO_VAU", "EVAU.EXE", "EVAU.ZIP"}, {"SER", "VERSAO_SER", "ESER.EXE", "ESER.ZIP"},
    {"VEI", "VERSAO_VEI", "EVEI.EXE", "EVEI.ZIP"}, {"NFE", "VERSAO_NFE", "ENFE.EXE", "ENFE.ZIP"},
    {"SIN", "VERSAO_SIN", "ESIN.EXE", "ESIN.ZIP"}, {"SPD", "VERSAO_SPD", "ESPD.EXE", "ESPD.ZIP"},
    {"VEN", "VERSAO_VEN", "EVEN.EXE", "EVEN.ZIP"}, {"PRD", "VERSAO_PRD", "EPRD.EXE", "EPRD.ZIP"},
};

// The CARTORIO version table has no column of its own for FIN: FIN and CXA
// share VERSAO_CXA.
constexpr RegisteredModule kCartorioModules[] = {
    {"ADM", "VERSAO_ADM", "CADM.EXE", "CADM.ZIP"}, {"FIN", "VERSAO_CXA", "CFIN.EXE", "CFIN.ZIP"},
    {"FIR", "VERSAO_FIR", "CFIR.EXE", "CFIR.ZIP"}, {"NAS", "VERSAO_NAS", "CNAS.EXE", "CNAS.ZIP"},
    {"CAS", "VERSAO_CAS", "CCAS.EXE", "CCAS.ZIP"}, {"OBT", "VERSAO_OBT", "COBT.EXE", "COBT.ZIP"},
    {"TAB", "VERSAO_TAB", "CTAB.EXE", "CTAB.ZIP"}, {"LVE", "VERSAO_LVE", "CLVE.EXE", "CLVE.ZIP"},
    {"CXA", "VERSAO_CXA", "CCXA.EXE", "CCXA.ZIP"}, {"GSN", "VERSAO_GSN", "CGSN.EXE", "CGSN.ZIP"},
    {"MSN", "VERSAO_MSN", "CMSN.EXE", "CMSN.ZIP"},
};

constexpr EditionTable kEmpresa{
    .name = "EMPRESA",
    .connectionSection = "EMPRESA",
    .mainFileLength = 9,  // KORVA.FDB
    .remoteDirectory = "/httpdocs/empresa_2012",
    .catalogueFile = "versao_e_modulos_empresa_2012.ini",
    .catalogueGate = "3.16.47",
    .usersBaseline = "3.1.0",
    .mainSection = "BANCO_KORVA",
    .mainReportKey = "BDKORVA",
    .mainPanelLabel = "BD Korva: ",
    .mainPendingText = "BANCO DE DADOS KORVA - Atualizar para versão ",
    .invalidCatalogueText = "O arquivo de atualização não é válido.",
    .keptSerieKey = "SERIE_EMPRESA",
    .modules = kEmpresaModules,
    .alwaysOffered = "VEI",
    .usersUpdateStopsWork = true,
};

constexpr EditionTable kCartorio{
    .name = "CARTORIO",
    .connectionSection = "CART\xD3RIO",  // CARTÓRIO
    .mainFileLength = 12,                // CARTORIO.FDB
    .remoteDirectory = "/httpdocs",
    .catalogueFile = "versao_e_modulos_cartorio.ini",
    .catalogueGate = nullptr,
    .usersBaseline = "2.2.0",
    .mainSection = "BANCO_CART\xD3RIO",  // BANCO_CARTÓRIO
    .mainReportKey = "BDCARTORIO",
    .mainPanelLabel = "Cartorio: ",
    .mainPendingText = "BANCO DE DADOS CARTÓRIO - Atualizar para versão ",
    .invalidCatalogueText = "O arquivo de atualização de banco de dados não é válido.",
    .keptSerieKey = "SERIE_CARTORIO",
    .modules = kCartorioModules,
    .alwaysOffered = nullptr,
    .usersUpdateStopsWork = false,
};

}  // namespace

const EditionTable& TableOf(Edition edition) {
  return edition == Edition::Empresa ? kEmpresa : kCartorio;
}

}  // namespace korva::versions
