// CMenu and CDateTimeCtrl (ui/Menu.h).
#include <map>
#include <memory>

#include "mfc_internal.h"
#include "ce/text.h"
#include "ui/Menu.h"

namespace {
// Wrappers handed out by FromHandle; they own nothing. Entries of menus
// that are gone are dropped as the table grows.
std::map<HMENU, std::unique_ptr<CMenu>>& Temporary() {
  static auto* t = new std::map<HMENU, std::unique_ptr<CMenu>>;
  return *t;
}
}  // namespace

CMenu::~CMenu() {
  if (m_owned && m_hMenu != nullptr) ::DestroyMenu(m_hMenu);
}

CMenu* CMenu::FromHandle(HMENU menu) {
  if (menu == nullptr || !::IsMenu(menu)) return nullptr;
  auto& t = Temporary();
  if (t.size() > 64) {
    for (auto it = t.begin(); it != t.end();) it = ::IsMenu(it->first) ? std::next(it) : t.erase(it);
  }
  auto& slot = t[menu];
  if (!slot) {
    slot = std::make_unique<CMenu>();
    slot->m_hMenu = menu;
    slot->m_owned = false;
  }
  return slot.get();
}

BOOL CMenu::CreateMenu() { return Attach(::CreateMenu()); }
BOOL CMenu::CreatePopupMenu() { return Attach(::CreatePopupMenu()); }

BOOL CMenu::Attach(HMENU menu) {
  if (menu == nullptr || m_hMenu != nullptr) return FALSE;
  m_hMenu = menu;
  m_owned = true;
  return TRUE;
}

HMENU CMenu::Detach() {
  HMENU h = m_hMenu;
  m_hMenu = nullptr;
  return h;
}

BOOL CMenu::DestroyMenu() {
  if (m_hMenu == nullptr) return FALSE;
  BOOL ok = ::DestroyMenu(m_hMenu);
  m_hMenu = nullptr;
  return ok;
}

CMenu* CMenu::GetSubMenu(int position) const { return FromHandle(::GetSubMenu(m_hMenu, position)); }

int CMenu::GetMenuString(UINT item, CString& text, UINT flags) const {
  int len = ::GetMenuStringW(m_hMenu, item, nullptr, 0, flags);
  LPWSTR buf = text.GetBuffer(len + 1);
  int got = ::GetMenuStringW(m_hMenu, item, buf, len + 1, flags);
  text.ReleaseBuffer(got);
  return got;
}

void CMenu::DeleteAllItems() {
  for (int n = ::GetMenuItemCount(m_hMenu); n > 0; --n) ::DeleteMenu(m_hMenu, 0, MF_BYPOSITION);
}

// ---- the date-time picker ----

BOOL CDateTimeCtrl::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create(DATETIMEPICK_CLASSW, u"", style | WS_CHILD, rect, parent, id);
}

BOOL CDateTimeCtrl::CreateOver(CWnd* parent, UINT id, DWORD extraStyle) {
  if (parent == nullptr || m_hWnd != nullptr) return FALSE;
  HWND placeholder = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  if (placeholder == nullptr) return FALSE;
  const DWORD style = static_cast<DWORD>(::GetWindowLongW(placeholder, GWL_STYLE)) | extraStyle;
  WCHAR cls[32] = {};
  ::GetClassNameW(placeholder, cls, 32);
  if (ce::EqualNoCase(cls, DATETIMEPICK_CLASSW)) {
    ::SetWindowLongW(placeholder, GWL_STYLE, static_cast<LONG>(style));
    if (!SubclassDlgItem(id, parent)) return FALSE;
    SetFormat(nullptr);  // shown again in the style's kind
    return TRUE;
  }
  RECT r{};
  ::GetWindowRect(placeholder, &r);
  POINT topLeft{r.left, r.top};
  ::ScreenToClient(parent->m_hWnd, &topLeft);
  const RECT place{topLeft.x, topLeft.y, topLeft.x + (r.right - r.left), topLeft.y + (r.bottom - r.top)};
  if (!Create(style, place, parent, id)) return FALSE;
  // The picker takes the placeholder's place in the tab order.
  ::SetWindowPos(m_hWnd, placeholder, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  ::DestroyWindow(placeholder);
  return TRUE;
}
