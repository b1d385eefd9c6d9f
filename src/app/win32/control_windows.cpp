#include "app/win32/control_windows.h"

// clang-format off
#include "platform/windows/win32_api.h"
#include <commctrl.h>
#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>
// clang-format on
// The list and tree macros of commctrl.h send through the name that
// win32_api.h undoes.
#define SendMessage SendMessageW

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>

#include "app/win32/dpi.h"
#include "app/win32/win32_text.h"

namespace korva::win32 {

using platform::windows::FromInteger;
namespace {

using form::Kind;
using form::TextControl;

constexpr const wchar_t* kContainerClass = L"KorvaContainer";
constexpr const wchar_t* kHotAreaClass = L"KorvaHotArea";
constexpr const wchar_t* kGaugeClass = L"KorvaGauge";
constexpr const wchar_t* kPictureClass = L"KorvaPicture";
// Window properties: the popup menu of a hot area, link-coloured text.
constexpr const wchar_t* kMenuProperty = L"KorvaMenu";
constexpr const wchar_t* kDarkBlueProperty = L"KorvaDarkBlue";
constexpr const wchar_t* kCentredProperty = L"KorvaCentred";
constexpr const wchar_t* kTipsProperty = L"KorvaTips";
constexpr const wchar_t* kFlatProperty = L"KorvaFlat";
constexpr const wchar_t* kHotProperty = L"KorvaHot";
const COLORREF kDarkBlue = RGB(0, 0, 128);

HINSTANCE Instance() {
  return ::GetModuleHandleW(nullptr);
}

// A container's title when it is a frame, drawn in the frame's font (the
// one the main window sets, WM_SETFONT); none for a plain panel or page.
struct Frame {
  std::wstring title;
  bool darkBlue = false;
  HFONT font = nullptr;
};

Frame* FrameOf(HWND window) {
  return FromInteger<Frame*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

void PaintFrame(HWND window, HDC dc, const Frame& frame) {
  RECT area;
  ::GetClientRect(window, &area);
  const UINT dpi = DpiOf(window);
  const HGDIOBJ oldFont =
      ::SelectObject(dc, frame.font ? frame.font : ::GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW metrics;
  ::GetTextMetricsW(dc, &metrics);
  RECT edge = area;
  edge.top += metrics.tmHeight / 2;
  ::DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
  if (!frame.title.empty()) {
    ::SetBkColor(dc, RGB(255, 255, 255));
    ::SetBkMode(dc, OPAQUE);
    ::SetTextColor(dc, frame.darkBlue ? kDarkBlue : ::GetSysColor(COLOR_WINDOWTEXT));
    ::TextOutW(dc, Scaled(8, dpi), 0, frame.title.c_str(), static_cast<int>(frame.title.size()));
  }
  ::SelectObject(dc, oldFont);
}

// A flat button as the design draws it: no border of its own, text in its
// font on the page's white; a raised edge under the mouse, a sunken one
// while pressed.
void DrawFlatButton(const DRAWITEMSTRUCT& item) {
  const HDC dc = item.hDC;
  RECT area = item.rcItem;
  ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  if (pushed) {
    ::DrawEdge(dc, &area, BDR_SUNKENOUTER, BF_RECT);
  } else if (::GetPropW(item.hwndItem, kHotProperty)) {
    ::DrawEdge(dc, &area, BDR_RAISEDINNER, BF_RECT);
  }
  const int length = ::GetWindowTextLengthW(item.hwndItem);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(item.hwndItem, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  const HGDIOBJ oldFont =
      ::SelectObject(dc, FromInteger<HFONT>(::SendMessageW(item.hwndItem, WM_GETFONT, 0, 0)));
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc,
                 ::GetSysColor((item.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
  RECT label = area;
  if (pushed) ::OffsetRect(&label, 1, 1);
  ::DrawTextW(dc, text.c_str(), -1, &label,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE |
                  ((item.itemState & ODS_NOACCEL) ? DT_HIDEPREFIX : 0));
  ::SelectObject(dc, oldFont);
  if (item.itemState & ODS_FOCUS) {
    RECT focus = area;
    ::InflateRect(&focus, -3, -3);
    ::DrawFocusRect(dc, &focus);
  }
}

// Panels, pages and frames: white, and every notification of a child goes to
// the top-level window, which knows every control.
LRESULT CALLBACK ContainerProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_DRAWITEM: {
      const auto* item = FromInteger<const DRAWITEMSTRUCT*>(l);
      if (item->CtlType == ODT_BUTTON && ::GetPropW(item->hwndItem, kFlatProperty)) {
        DrawFlatButton(*item);
        return TRUE;
      }
      return ::SendMessageW(::GetAncestor(window, GA_ROOT), message, w, l);
    }
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
      return ::SendMessageW(::GetAncestor(window, GA_ROOT), message, w, l);
    case WM_SETFONT:
      if (Frame* frame = FrameOf(window)) {
        frame->font = FromInteger<HFONT>(w);
        if (LOWORD(l)) ::InvalidateRect(window, nullptr, TRUE);
      }
      return 0;
    case WM_GETFONT: {
      const Frame* frame = FrameOf(window);
      return reinterpret_cast<LRESULT>(frame ? frame->font : nullptr);
    }
    case WM_ERASEBKGND: {
      RECT area;
      ::GetClientRect(window, &area);
      ::FillRect(FromInteger<HDC>(w), &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(window, &paint);
      if (const Frame* frame = FrameOf(window)) PaintFrame(window, dc, *frame);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_NCDESTROY:
      delete FrameOf(window);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      ForgetDpiOf(window);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w, l);
}

// Draws nothing; the secondary button opens its popup menu, and the item
// chosen reaches the top-level window as a menu command.
LRESULT CALLBACK HotAreaProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      ::BeginPaint(window, &paint);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_RBUTTONUP: {
      const auto menu = static_cast<HMENU>(::GetPropW(window, kMenuProperty));
      if (!menu) break;
      POINT at{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
      ::ClientToScreen(window, &at);
      const HWND root = ::GetAncestor(window, GA_ROOT);
      const int chosen = static_cast<int>(::TrackPopupMenu(
          menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN, at.x, at.y, 0, root, nullptr));
      if (chosen != 0) ::SendMessageW(root, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
      return 0;
    }
    case WM_NCDESTROY:
      ::RemovePropW(window, kMenuProperty);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w, l);
}

// What the controls drawn on white share: the paint covers the whole client
// area, so the background is never erased first, and the window's property
// goes with the window.
LRESULT DrawnOnWhite(HWND window, UINT message, WPARAM w, LPARAM l, const wchar_t* property,
                     void (*draw)(HWND window, HDC dc, RECT area)) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(window, &paint);
      RECT area;
      ::GetClientRect(window, &area);
      ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      draw(window, dc, area);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_NCDESTROY:
      ::RemovePropW(window, property);
      ForgetDpiOf(window);
      break;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, w, l);
}

// The gauge as the original draws it: a sunken box filled from the left, the
// percentage centred over it. The percentage lives in the window's data.
void DrawGauge(HWND window, HDC dc, RECT area) {
  ::DrawEdge(dc, &area, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  const int percent = static_cast<int>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  RECT done = area;
  done.right = area.left + (area.right - area.left) * percent / 100;
  ::FillRect(dc, &done, ::GetSysColorBrush(COLOR_HIGHLIGHT));
  const std::wstring text = std::to_wstring(percent) + L"%";
  ::SetBkMode(dc, TRANSPARENT);
  const HGDIOBJ oldFont =
      ::SelectObject(dc, FromInteger<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)));
  ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
  ::DrawTextW(dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  ::SelectObject(dc, oldFont);
}

LRESULT CALLBACK GaugeProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SETFONT:
      ::SetPropW(window, L"KorvaFont", FromInteger<HANDLE>(w));
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(::GetPropW(window, L"KorvaFont"));
    default:
      return DrawnOnWhite(window, message, w, l, L"KorvaFont", DrawGauge);
  }
}

// A picture on white at the window's DPI, at the top-left corner (a step
// indicator's centred); the window's data names the picture, none drawing
// only the white.
void DrawPicture(HWND window, HDC dc, RECT area) {
  const auto* name = FromInteger<const std::string*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  const HBITMAP bitmap = name ? Picture(*name, DpiOf(window)) : nullptr;
  BITMAP size{};
  if (bitmap && ::GetObjectW(bitmap, sizeof size, &size)) {
    const HDC memory = ::CreateCompatibleDC(dc);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    const bool centred = ::GetPropW(window, kCentredProperty) != nullptr;
    const int x = centred ? (area.right - size.bmWidth) / 2 : 0;
    const int y = centred ? (area.bottom - size.bmHeight) / 2 : 0;
    ::BitBlt(dc, x, y, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
  }
}

LRESULT CALLBACK PictureProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DrawnOnWhite(window, message, w, l, kCentredProperty, DrawPicture);
}

HWND Child(const wchar_t* windowClass, const std::wstring& text, DWORD style, DWORD exStyle,
           HWND parent, int id) {
  return ::CreateWindowExW(exStyle, windowClass, text.c_str(),
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0, 0, 0, parent,
                           FromInteger<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
}

// The controls that draw themselves keep the DPI they are laid out for.
void RepaintAt(HWND window, UINT dpi) {
  SetDpiOf(window, dpi);
  ::InvalidateRect(window, nullptr, TRUE);
}

// The hint of a control as a tooltip, in the one tooltip window of its
// top-level window (made when the first hint is shown).
void ShowHint(HWND window, const std::string& hint) {
  const HWND root = ::GetAncestor(window, GA_ROOT);
  auto tips = static_cast<HWND>(::GetPropW(root, kTipsProperty));
  if (!tips) {
    tips = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, root, nullptr, Instance(), nullptr);
    if (!tips) return;
    ::SetPropW(root, kTipsProperty, tips);
  }
  std::wstring text = Wide(hint);
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = root;
  info.uId = reinterpret_cast<UINT_PTR>(window);
  info.lpszText = text.data();
  ::SendMessageW(tips, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  if (!hint.empty()) ::SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

// What every control on the form shows besides its own state: whether it is
// hidden (a page only where the page stack puts it), enabled, and its hint.
ControlWindow OnForm(form::Control& c, HWND window, std::function<void()> own = {}) {
  const bool ownVisibility = c.kind != Kind::Page;
  auto hintShown = std::make_shared<std::string>();
  return {window, nullptr, [&c, window, ownVisibility, hintShown, own = std::move(own)] {
            if (ownVisibility) ::ShowWindow(window, c.Visible() ? SW_SHOWNA : SW_HIDE);
            ::EnableWindow(window, c.Enabled());
            if (c.Hint() != *hintShown) {
              *hintShown = c.Hint();
              ShowHint(window, c.Hint());
            }
            if (own) own();
          }};
}

void SetText(HWND window, const std::wstring& text) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(window, shown.data(), length + 1);
  shown.resize(static_cast<std::size_t>(length));
  if (shown != text) ::SetWindowTextW(window, text.c_str());
}

ControlWindow MakeContainer(form::Control& c, HWND parent, std::wstring title = {},
                            bool frame = false) {
  // WS_EX_CONTROLPARENT: Tab and the mnemonics reach the controls inside.
  const HWND window = Child(kContainerClass, L"", WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, parent, 0);
  if (frame) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(new Frame{std::move(title), c.font.darkBlue}));
  }
  ControlWindow made = OnForm(c, window);
  made.scale = [window](UINT dpi) { RepaintAt(window, dpi); };
  return made;
}

ControlWindow MakePicture(TextControl& c, HWND parent) {
  const HWND window = Child(kPictureClass, L"", 0, 0, parent, 0);
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&c.picture));
  ControlWindow made = OnForm(c, window);
  made.scale = [window](UINT dpi) { RepaintAt(window, dpi); };
  return made;
}

ControlWindow MakeHotArea(form::Control& c, HWND parent) {
  return OnForm(c, Child(kHotAreaClass, L"", 0, WS_EX_TRANSPARENT, parent, 0));
}

ControlWindow MakeLabel(TextControl& c, HWND parent, ControlHost& host) {
  const int id = host.Listen([&host, &c](UINT code, const NMHDR*) {
    if (code == STN_CLICKED) host.Click(c);
  });
  DWORD style = SS_NOTIFY | (c.centred ? SS_CENTER : SS_LEFT);
  DWORD exStyle = 0;
  if (c.kind == Kind::StaticText) {
    style |= SS_CENTERIMAGE;
    exStyle |= WS_EX_STATICEDGE;
  }
  const HWND window = Child(L"STATIC", L"", style, exStyle, parent, id);
  if (c.font.darkBlue) ::SetPropW(window, kDarkBlueProperty, reinterpret_cast<HANDLE>(1));
  if (c.handCursor) ::SetPropW(window, L"KorvaHand", reinterpret_cast<HANDLE>(1));
  return OnForm(c, window, [&c, window] {
    const std::wstring text = WideMultiLine(c.Text());
    // One line is centred vertically, as the original's labels lie on
    // their line; several start at the top.
    const bool multiLine = text.find(L'\n') != std::wstring::npos;
    LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
    const LONG_PTR wanted =
        multiLine ? (style & ~static_cast<LONG_PTR>(SS_CENTERIMAGE)) : (style | SS_CENTERIMAGE);
    if (wanted != style) ::SetWindowLongPtrW(window, GWL_STYLE, wanted);
    SetText(window, text);
  });
}

// A flat button is lit while the mouse is over it.
LRESULT CALLBACK FlatButtonProcedure(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                     DWORD_PTR) {
  switch (message) {
    case WM_MOUSEMOVE:
      if (!::GetPropW(window, kHotProperty)) {
        ::SetPropW(window, kHotProperty, reinterpret_cast<HANDLE>(1));
        TRACKMOUSEEVENT leave{sizeof leave, TME_LEAVE, window, 0};
        ::TrackMouseEvent(&leave);
        ::InvalidateRect(window, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      ::RemovePropW(window, kHotProperty);
      ::InvalidateRect(window, nullptr, FALSE);
      break;
    case WM_NCDESTROY:
      ::RemovePropW(window, kHotProperty);
      ::RemovePropW(window, kFlatProperty);
      ::RemoveWindowSubclass(window, FlatButtonProcedure, id);
      break;
    default:
      break;
  }
  return ::DefSubclassProc(window, message, w, l);
}

ControlWindow MakeButton(TextControl& c, HWND parent, ControlHost& host) {
  const int id = host.Listen([&host, &c](UINT code, const NMHDR*) {
    // BM_CLICK reaches a disabled button too; the operator cannot.
    if (code == BN_CLICKED && c.Enabled()) host.Click(c);
  });
  // A flat button draws itself (its page draws it, WM_DRAWITEM) and, like
  // the design's speed button, takes no keyboard focus of its own; its
  // mnemonic still clicks it.
  const bool flat = c.kind == Kind::FlatButton;
  const DWORD style = flat ? BS_OWNERDRAW : BS_PUSHBUTTON | WS_TABSTOP;
  const HWND window = Child(L"BUTTON", L"", style, 0, parent, id);
  if (flat) {
    ::SetPropW(window, kFlatProperty, reinterpret_cast<HANDLE>(1));
    ::SetWindowSubclass(window, FlatButtonProcedure, 0, 0);
  }
  return OnForm(c, window, [&c, window] { SetText(window, Wide(c.Text())); });
}

ControlWindow MakeEdit(TextControl& c, HWND parent, ControlHost& host) {
  // Set while the model's text goes into the field: that change is not the
  // operator's.
  auto applying = std::make_shared<bool>(false);
  auto window = std::make_shared<HWND>(nullptr);
  const int id = host.Listen([&host, &c, applying, window](UINT code, const NMHDR*) {
    if (code != EN_CHANGE || *applying) return;
    const int length = ::GetWindowTextLengthW(*window);
    std::wstring typed(static_cast<std::size_t>(length) + 1, L'\0');
    ::GetWindowTextW(*window, typed.data(), length + 1);
    typed.resize(static_cast<std::size_t>(length));
    c.SetText(Narrow(typed));
    host.Changed(c);
  });
  *window = Child(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP | (c.passwordChar ? ES_PASSWORD : 0),
                  WS_EX_CLIENTEDGE, parent, id);
  if (c.passwordChar) {
    ::SendMessageW(*window, EM_SETPASSWORDCHAR,
                   static_cast<WPARAM>(static_cast<unsigned char>(c.passwordChar)), 0);
  }
  return OnForm(c, *window, [&c, window, applying] {
    *applying = true;
    SetText(*window, Wide(c.Text()));
    *applying = false;
  });
}

ControlWindow MakeGroupBox(TextControl& c, HWND parent) {
  ControlWindow made = MakeContainer(c, parent, Wide(c.Text()), true);
  const HWND window = made.window;
  auto base = std::move(made.apply);
  made.apply = [&c, window, base] {
    base();
    Frame* frame = FrameOf(window);
    const std::wstring title = Wide(c.Text());
    if (frame && frame->title != title) {
      frame->title = title;
      ::InvalidateRect(window, nullptr, TRUE);
    }
  };
  return made;
}

ControlWindow MakeMemo(form::Memo& memo, HWND parent) {
  const HWND window = Child(L"EDIT", L"", ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOVSCROLL,
                            WS_EX_CLIENTEDGE, parent, 0);
  return OnForm(memo, window, [&memo, window] {
    std::string text;
    for (const std::string& line : memo.Lines()) {
      if (!text.empty()) text += "\r\n";
      text += line;
    }
    SetText(window, WideMultiLine(text));
  });
}

ControlWindow MakeRadioGroup(form::RadioGroup& group, HWND parent, ControlHost& host) {
  ControlWindow made = MakeContainer(group, parent, Wide(group.caption), true);
  const HWND box = made.window;
  std::vector<HWND> buttons;
  for (std::size_t i = 0; i < group.items.size(); ++i) {
    const int index = static_cast<int>(i);
    const int id = host.Listen([&host, &group, index](UINT code, const NMHDR*) {
      if (code == BN_CLICKED) host.Choose(group, [&group, index] { group.SetItemIndex(index); });
    });
    buttons.push_back(
        Child(L"BUTTON", Wide(group.items[i]), BS_RADIOBUTTON | WS_TABSTOP, 0, box, id));
  }
  auto base = std::move(made.apply);
  made.apply = [&group, buttons, base] {
    base();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      ::SendMessageW(buttons[i], BM_SETCHECK,
                     static_cast<int>(i) == group.ItemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  };
  // The items in cells of equal size below the title, in as many columns as
  // the design gives, in the design's units scaled to the DPI.
  auto frame = std::move(made.scale);
  made.scale = [&group, buttons, frame](UINT dpi) {
    frame(dpi);
    const int count = static_cast<int>(buttons.size());
    const int columns = std::max(1, group.columns);
    const int rows = (count + columns - 1) / columns;
    const int width = Scaled(group.geometry.width, dpi);
    const int height = Scaled(group.geometry.height, dpi);
    const int cellWidth = (width - Scaled(16, dpi)) / columns;
    const int top = Scaled(16, dpi);
    const int cellHeight =
        rows > 0 ? std::max(Scaled(16, dpi), (height - top - Scaled(4, dpi)) / rows) : 0;
    for (int i = 0; i < count; ++i) {
      const HWND radio = buttons[static_cast<std::size_t>(i)];
      ::MoveWindow(radio, Scaled(8, dpi) + (i % columns) * cellWidth,
                   top + (i / columns) * cellHeight, cellWidth - Scaled(4, dpi),
                   std::min(cellHeight, Scaled(17, dpi)), FALSE);
      ::SendMessageW(radio, WM_SETFONT, reinterpret_cast<WPARAM>(FontOf(form::Font{}, dpi)), FALSE);
    }
  };
  return made;
}

ControlWindow MakeCheckList(form::CheckList& list, HWND parent, ControlHost& host) {
  auto applying = std::make_shared<bool>(false);
  const int id = host.Listen([&host, &list, applying](UINT code, const NMHDR* header) {
    if (code != LVN_ITEMCHANGED || *applying || !header) return;
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (change->iItem < 0 || change->iItem >= list.Count()) return;
    if (change->uChanged & LVIF_STATE) {
      if ((change->uNewState ^ change->uOldState) & LVIS_STATEIMAGEMASK) {
        list.SetChecked(change->iItem, ((change->uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2);
      }
      if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED)) {
        list.SetSelectedIndex(change->iItem);
      }
      host.Changed(list);
    }
  });
  const HWND view =
      Child(WC_LISTVIEWW, L"",
            LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP,
            WS_EX_CLIENTEDGE, parent, id);
  ListView_SetExtendedListViewStyle(view, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  ListView_InsertColumn(view, 0, &column);
  ControlWindow made = OnForm(list, view, [&list, view, applying] {
    *applying = true;
    const auto& items = list.Items();
    while (ListView_GetItemCount(view) > list.Count()) {
      ListView_DeleteItem(view, ListView_GetItemCount(view) - 1);
    }
    for (int i = 0; i < list.Count(); ++i) {
      const auto& item = items[static_cast<std::size_t>(i)];
      std::wstring text = Wide(item.text);
      if (i >= ListView_GetItemCount(view)) {
        LVITEMW row{};
        row.mask = LVIF_TEXT;
        row.iItem = i;
        row.pszText = text.data();
        ListView_InsertItem(view, &row);
      } else {
        ListView_SetItemText(view, i, 0, text.data());
      }
      ListView_SetCheckState(view, i, item.checked);
    }
    const int selected = list.SelectedIndex();
    ListView_SetItemState(view, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (selected >= 0) {
      ListView_SetItemState(view, selected, LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
      ListView_EnsureVisible(view, selected, FALSE);
    }
    *applying = false;
  });
  // A list box of single lines: long lines are cut at the right edge.
  made.scale = [&list, view](UINT dpi) {
    ListView_SetColumnWidth(view, 0,
                            Scaled(list.geometry.width - 4, dpi) - MetricForDpi(SM_CXVSCROLL, dpi));
  };
  return made;
}

ControlWindow MakeGauge(form::Gauge& gauge, HWND parent) {
  const HWND window = Child(kGaugeClass, L"", 0, 0, parent, 0);
  return OnForm(gauge, window, [&gauge, window] {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, gauge.Percent());
    ::InvalidateRect(window, nullptr, FALSE);
  });
}

void AddNodes(HWND view, HTREEITEM parent, const std::vector<form::TreeView::Node>& nodes) {
  for (const auto& node : nodes) {
    std::wstring text = Wide(node.text);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_STATE;
    insert.item.pszText = text.data();
    insert.item.state = TVIS_EXPANDED;
    insert.item.stateMask = TVIS_EXPANDED;
    const HTREEITEM item = TreeView_InsertItem(view, &insert);
    AddNodes(view, item, node.children);
    if (!node.children.empty()) TreeView_Expand(view, item, TVE_EXPAND);
  }
}

ControlWindow MakeTree(form::TreeView& tree, HWND parent) {
  const HWND view = Child(WC_TREEVIEWW, L"", TVS_HASLINES | TVS_HASBUTTONS | TVS_SHOWSELALWAYS,
                          WS_EX_CLIENTEDGE, parent, 0);
  return OnForm(tree, view, [&tree, view] {
    ::SendMessageW(view, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(view);
    const bool nested =
        std::any_of(tree.Nodes().begin(), tree.Nodes().end(),
                    [](const form::TreeView::Node& node) { return !node.children.empty(); });
    LONG_PTR style = ::GetWindowLongPtrW(view, GWL_STYLE);
    style = nested ? (style | TVS_LINESATROOT) : (style & ~static_cast<LONG_PTR>(TVS_LINESATROOT));
    ::SetWindowLongPtrW(view, GWL_STYLE, style);
    AddNodes(view, TVI_ROOT, tree.Nodes());
    ::SendMessageW(view, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(view, nullptr, TRUE);
  });
}

ControlWindow MakeStepIndicator(form::StepIndicator& step, HWND parent) {
  const HWND window = Child(kPictureClass, L"", 0, 0, parent, 0);
  ::SetPropW(window, kCentredProperty, reinterpret_cast<HANDLE>(1));
  ControlWindow made = OnForm(step, window, [&step, window] {
    ::SetWindowLongPtrW(window, GWLP_USERDATA,
                        step.Picture().empty() ? 0 : reinterpret_cast<LONG_PTR>(&step.Picture()));
    ::InvalidateRect(window, nullptr, TRUE);
  });
  made.scale = [window](UINT dpi) { RepaintAt(window, dpi); };
  return made;
}

ControlWindow MakeStatusBar(form::StatusBarControl& status, HWND parent) {
  // Placed by the design, not by the status bar's own rules.
  const HWND bar =
      Child(STATUSCLASSNAMEW, L"", CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0, parent, 0);
  ControlWindow made = OnForm(status, bar, [&status, bar] {
    for (std::size_t i = 0; i < status.Panels().size(); ++i) {
      // A tab first: the text centred in its panel.
      const std::wstring text = L"\t" + Wide(status.Panels()[i].text);
      ::SendMessageW(bar, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(text.c_str()));
    }
  });
  made.scale = [&status, bar](UINT dpi) {
    std::vector<int> edges;
    int right = 0;
    for (std::size_t i = 0; i < status.Panels().size(); ++i) {
      right += status.Panels()[i].width;
      edges.push_back(i + 1 < status.Panels().size() ? Scaled(right, dpi) : -1);
    }
    ::SendMessageW(bar, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
  };
  return made;
}

// The menu that its hot area opens; its items add themselves.
ControlWindow MakePopupMenu(HWND hotArea) {
  const HMENU menu = ::CreatePopupMenu();
  ::SetPropW(hotArea, kMenuProperty, menu);
  return {nullptr, menu, nullptr};
}

ControlWindow MakeMenuItem(form::MenuItem& item, HMENU menu, ControlHost& host) {
  const int id = host.Listen([&host, &item](UINT, const NMHDR*) { host.Choose(item, {}); });
  ::AppendMenuW(menu, MF_STRING, static_cast<UINT_PTR>(id), Wide(item.caption).c_str());
  return {nullptr, nullptr, [&item, menu, id] {
            std::wstring caption = Wide(item.caption);
            MENUITEMINFOW info{};
            info.cbSize = sizeof info;
            info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_STRING;
            info.fType = MFT_STRING | (item.radioItem ? MFT_RADIOCHECK : 0);
            info.fState = (item.Checked() ? MFS_CHECKED : MFS_UNCHECKED) |
                          (item.Enabled() ? MFS_ENABLED : MFS_DISABLED);
            info.dwTypeData = caption.data();
            ::SetMenuItemInfoW(menu, static_cast<UINT>(id), FALSE, &info);
          }};
}

// The kind names the class that holds the control (form::ControlOf).
template <typename T>
T& As(form::Control& control) {
  return static_cast<T&>(control);
}

}  // namespace

ControlWindow MakeControlWindow(form::Control& c, ControlParent parent, ControlHost& host) {
  const HWND p = parent.window;
  switch (c.kind) {
    case Kind::Panel:
    case Kind::Page:
    case Kind::PageControl:
      return MakeContainer(c, p);
    case Kind::Picture:
      return MakePicture(As<TextControl>(c), p);
    case Kind::HotArea:
      return MakeHotArea(c, p);
    case Kind::Label:
    case Kind::StaticText:
      return MakeLabel(As<TextControl>(c), p, host);
    case Kind::Button:
    case Kind::FlatButton:
      return MakeButton(As<TextControl>(c), p, host);
    case Kind::Edit:
      return MakeEdit(As<TextControl>(c), p, host);
    case Kind::GroupBox:
      return MakeGroupBox(As<TextControl>(c), p);
    case Kind::Memo:
      return MakeMemo(As<form::Memo>(c), p);
    case Kind::RadioGroup:
      return MakeRadioGroup(As<form::RadioGroup>(c), p, host);
    case Kind::CheckList:
      return MakeCheckList(As<form::CheckList>(c), p, host);
    case Kind::Gauge:
      return MakeGauge(As<form::Gauge>(c), p);
    case Kind::Tree:
      return MakeTree(As<form::TreeView>(c), p);
    case Kind::StepIndicator:
      return MakeStepIndicator(As<form::StepIndicator>(c), p);
    case Kind::StatusBar:
      return MakeStatusBar(As<form::StatusBarControl>(c), p);
    case Kind::PopupMenu:
      return MakePopupMenu(p);
    case Kind::MenuItem:
    case Kind::RadioMenuItem:
      return MakeMenuItem(As<form::MenuItem>(c), parent.menu, host);
  }
  return {};
}

void RegisterControlClasses(HINSTANCE instance) {
  INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX),
                              ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&common);
  const std::tuple<const wchar_t*, WNDPROC> classes[] = {{kContainerClass, ContainerProcedure},
                                                         {kHotAreaClass, HotAreaProcedure},
                                                         {kGaugeClass, GaugeProcedure},
                                                         {kPictureClass, PictureProcedure}};
  for (const auto& [name, procedure] : classes) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = name;
    ::RegisterClassW(&wc);
  }
}

namespace {

// The picture as the program carries it (a PNG among its resources),
// decoded once; nullptr when there is none.
Gdiplus::Bitmap* DecodedPicture(const std::string& name) {
  static std::map<std::string, std::unique_ptr<Gdiplus::Bitmap>> decoded;
  auto found = decoded.find(name);
  if (found != decoded.end()) return found->second.get();
  static ULONG_PTR gdiplus = [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    return token;
  }();
  (void)gdiplus;
  std::unique_ptr<Gdiplus::Bitmap> picture;
  // The resource compiler keeps resource names in capitals.
  std::wstring resource = Wide(name);
  for (wchar_t& ch : resource) ch = static_cast<wchar_t>(::towupper(ch));
  const HRSRC info = ::FindResourceW(nullptr, resource.c_str(), MAKEINTRESOURCEW(10));
  const HGLOBAL loaded = info ? ::LoadResource(nullptr, info) : nullptr;
  if (loaded) {
    IStream* stream = ::SHCreateMemStream(static_cast<const BYTE*>(::LockResource(loaded)),
                                          ::SizeofResource(nullptr, info));
    if (stream) {
      // Decoded from the stream into memory of its own: the stream goes.
      std::unique_ptr<Gdiplus::Bitmap> read(Gdiplus::Bitmap::FromStream(stream));
      if (read && read->GetLastStatus() == Gdiplus::Ok) {
        picture.reset(read->Clone(0, 0, static_cast<INT>(read->GetWidth()),
                                  static_cast<INT>(read->GetHeight()), PixelFormat32bppARGB));
      }
      stream->Release();
    }
  }
  return (decoded[name] = std::move(picture)).get();
}

}  // namespace

HBITMAP Picture(const std::string& name, UINT dpi) {
  static std::map<std::pair<std::string, UINT>, HBITMAP> cache;
  const auto key = std::make_pair(name, dpi);
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  HBITMAP bitmap = nullptr;
  if (Gdiplus::Bitmap* picture = DecodedPicture(name)) {
    // Drawn afresh at the DPI's size with a smooth filter, onto the
    // window's white: sharper than the 96-DPI picture stretched later.
    const int width = Scaled(static_cast<int>(picture->GetWidth()), dpi);
    const int height = Scaled(static_cast<int>(picture->GetHeight()), dpi);
    Gdiplus::Bitmap scaled(width, height, PixelFormat32bppARGB);
    Gdiplus::Graphics graphics(&scaled);
    graphics.Clear(Gdiplus::Color(255, 255, 255, 255));
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    graphics.DrawImage(picture, 0, 0, width, height);
    scaled.GetHBITMAP(Gdiplus::Color(255, 255, 255, 255), &bitmap);
  }
  cache[key] = bitmap;
  return bitmap;
}

HFONT FontOf(const form::Font& f, UINT dpi) {
  static std::map<std::tuple<std::string, int, bool, bool, UINT>, HFONT> cache;
  const auto key = std::make_tuple(f.family, f.pointSize, f.bold, f.underline, dpi);
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  // Points as the DPI renders them: 8 points are 11 pixels at 96 DPI.
  const int pixels = ::MulDiv(f.pointSize, static_cast<int>(dpi), 72);
  const std::wstring family = f.family.empty() ? L"Arial" : Wide(f.family);
  // Small bold text keeps sharp edges: smoothed, its stems blur back to the
  // width of regular text (Wine's renderer shows it plainly) and a bold
  // caption no longer stands out from the text around it.
  const DWORD quality = f.bold && pixels < 16 ? NONANTIALIASED_QUALITY : DEFAULT_QUALITY;
  const HFONT font = ::CreateFontW(
      -pixels, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, FALSE, f.underline, FALSE, ANSI_CHARSET,
      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality, DEFAULT_PITCH | FF_SWISS, family.c_str());
  cache[key] = font;
  return font;
}

}  // namespace korva::win32
