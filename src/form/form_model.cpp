#include "form/form_model.h"

#include <string_view>

#include "form/maker.h"

namespace korva::form {
namespace {

// The fonts the design names; every other control has the window's 8 points.
const Font kBold{"", 8, true};
const Font kHeading{"", 10, true};
const Font kSectionHeading{"", 10, true, true};
const Font kLink{"", 8, false, true, true};
const Font kBoldLink{"", 8, true, true, true};
const Font kFrameTitle{"Verdana", 8, true, false, true};
const Font kNotice{"Arial", 10, true};

// Texts too long for their line of the design.
const std::string kSuporte = std::string("Suporte: ") + kSupportTelephone;

const char* const kLabel3 =
    "Para continuar verifique os seguintes passos:\r\n"
    "\r\n"
    "1. Você deve estar conectado à internet.\r\n"
    "\r\n"
    "2. O sistema irá se conectar com o servidor de atualizações do KORVA e\r\n"
    "     fazer o download do arquivo de atualização.\r\n"
    "\r\n"
    "Para iniciar, clique no botão \"Procurar por novas atualizações\" ";

const char* const kLabel12 =
    "Indique o caminho dos servidores de filiais para atualização\r\n"
    "Ex. \\\\SERVER1\\KORVA\\EMPRESA    ou\r\n"
    "      \\\\192.168.0.1\\KORVA\\EMPRESA";

const std::vector<std::string> kMemo1 = {
    "Esta  atualização irá modificar o Banco de Dados do sistema KORVA.", "",
    "Para prosseguir com a atualização é necessário que se tenha feito um ",
    "BACKUP (Cópia de Segurança) do banco de dados do sistema e ",
    "também que todos os usuários estejam fora do sistema KORVA."};

const char* const kHintImprimir =
    "Imprimir relatório de atualizações para apresentação aos interessados.";
const char* const kHintGravar =
    "Gravar relatório de atualizações para apresentação aos interessados.";

// The design's lines as the compiler checks them.
struct Line {
  Kind kind;
  std::string_view name;
  std::string_view parent;
};

constexpr Line kLines[] = {
#define CONTROL(KIND, NAME, PARENT, ...) {Kind::KIND, #NAME, #PARENT},
#include "form/window_design.def"
#undef CONTROL
};

// A page lies in the page stack, a menu item in its menu, a popup menu on the
// hot area that opens it; everything else in a panel, page or frame, or in
// the window itself (parent: none).
constexpr bool Holds(const Line* parent, Kind kind) {
  const Kind holder = parent ? parent->kind : Kind::Panel;
  switch (kind) {
    case Kind::Page:
      return holder == Kind::PageControl;
    case Kind::MenuItem:
    case Kind::RadioMenuItem:
      return holder == Kind::PopupMenu;
    case Kind::PopupMenu:
      return holder == Kind::HotArea;
    default:
      return holder == Kind::Panel || holder == Kind::Page || holder == Kind::GroupBox;
  }
}

// Every parent is a control of an earlier line that can hold the control, so
// a window builds the controls in the design's order.
constexpr bool EveryParentComesFirstAndHoldsItsControls() {
  for (const Line& line : kLines) {
    const Line* parent = nullptr;
    for (const Line* earlier = kLines; earlier != &line; ++earlier) {
      if (earlier->name == line.parent) parent = earlier;
    }
    if (!line.parent.empty() && !parent) return false;
    if (!Holds(parent, line.kind)) return false;
  }
  return true;
}
static_assert(EveryParentComesFirstAndHoldsItsControls(),
              "window_design.def: a parent is missing, comes later, or cannot hold its control");

}  // namespace

#define KORVA_UNWRAP(...) __VA_ARGS__

// GCC 12 at -O3 takes the strings of the design table's temporaries for
// uninitialised (a false positive of its maybe-uninitialized pass).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

FormModel::FormModel()
    :
#define CONTROL(KIND, NAME, PARENT, GEOMETRY, ...)        \
  NAME(ControlDesign{.kind = Kind::KIND,                  \
                     .name = #NAME,                       \
                     .parent = #PARENT,                   \
                     .geometry = {KORVA_UNWRAP GEOMETRY}, \
                     __VA_ARGS__}),
#include "form/window_design.def"
#undef CONTROL
      all_{
#define CONTROL(KIND, NAME, ...) &NAME,
#include "form/window_design.def"
#undef CONTROL
      } {
  // A menu holds the items whose parent it is, in the design's order.
  for (Control* control : all_) {
    if (control->kind == Kind::MenuItem || control->kind == Kind::RadioMenuItem) {
      static_cast<PopupMenu*>(Find(control->parent))
          ->items.push_back(static_cast<MenuItem*>(control));
    }
  }
  ShowPage(TbShtInicio);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#undef KORVA_UNWRAP

std::vector<TextControl*> FormModel::Pages() {
  std::vector<TextControl*> pages;
  for (Control* control : all_) {
    if (control->kind == Kind::Page) pages.push_back(static_cast<TextControl*>(control));
  }
  return pages;
}

std::vector<const TextControl*> FormModel::Pages() const {
  const std::vector<TextControl*> pages = const_cast<FormModel*>(this)->Pages();
  return {pages.begin(), pages.end()};
}

void FormModel::ShowPage(TextControl& page) {
  if (activePage_ == &page) return;
  activePage_ = &page;
  ++activePageRevision_;
}

Control* FormModel::Find(const std::string& name) const {
  for (Control* c : all_) {
    if (c->Name() == name) return c;
  }
  return nullptr;
}

}  // namespace korva::form
