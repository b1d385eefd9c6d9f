#include "records/pending_list_report.h"

#include "platform/file.h"
#include "platform/files.h"

namespace korva::records {
namespace {

template <typename Visit>
void ForEachNode(const std::vector<form::TreeView::Node>& nodes, int depth, Visit&& visit) {
  for (const form::TreeView::Node& node : nodes) {
    visit(node, depth);
    ForEachNode(node.children, depth + 1, visit);
  }
}

}  // namespace

void GravaLista(const std::string& path, const std::vector<form::TreeView::Node>& nodes) {
  std::string bytes;
  ForEachNode(nodes, 0, [&](const form::TreeView::Node& node, int depth) {
    bytes.append(static_cast<std::size_t>(depth), '\t');
    bytes += node.text + "\r\n";
  });
  // Written beside and put in place whole: a failed write never leaves half
  // a list under the operator's name, and a read-only file refuses as an
  // edit would.
  platform::ReplaceFileContent(path, [&](platform::File& file) { file.Write(bytes); },
                               {platform::ReplaceMode::kAsEdited});
}

form::Report RelatorioAtualizacoes(const std::vector<form::TreeView::Node>& nodes,
                                   const std::string& printedAt) {
  form::Report report;
  report.documentName = "Report";
  report.header = {
      {"Sistema KORVA - Atualizações do Sistema",
       {"Arial", 12, true, true},
       {1.852, 2.117, 86.784, 5.027}},
      {printedAt, {"Arial", 10, false, false}, {101.071, 2.117, 36.248, 3.969}},
  };
  ForEachNode(nodes, 0,
              [&](const form::TreeView::Node& node, int) { report.lines.push_back(node.text); });
  report.listFont = {"Arial", 10, false, false};
  report.listBox = {1.323, 19.05, 192.882, 10.054};
  return report;
}

}  // namespace korva::records
