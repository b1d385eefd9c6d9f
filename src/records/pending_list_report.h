#pragma once
// The pending-update list handed to the people who approve an update: as a
// text file, or printed.
#include <string>
#include <vector>

#include "form/controls.h"
#include "form/report.h"

namespace korva::records {

// Replaces the file with one line per node in tree order: a tab per level of
// depth, the node's text, CR LF. Throws FileError when the file cannot be
// created; nothing is then written.
void GravaLista(const std::string& path, const std::vector<form::TreeView::Node>& nodes);

// The printed report of the list, titled and dated with `printedAt`.
form::Report RelatorioAtualizacoes(const std::vector<form::TreeView::Node>& nodes,
                                   const std::string& printedAt);

}  // namespace korva::records
