// Menus and the date-time picker in the class library: CMenu over an HMENU
// (ce/menu.h) and CDateTimeCtrl over "SysDateTimePick32" (ce/datetime.h).
#pragma once

#include "ce/cstring.h"
#include "ce/datetime.h"
#include "ce/menu.h"
#include "ui/Wnd.h"

// A menu object owns the menu it made or attached: its destructor destroys
// it unless detached first. FromHandle and GetSubMenu give wrappers that
// own nothing and stay valid while the menu lives.
class CMenu {
 public:
  CMenu() = default;
  ~CMenu();
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  HMENU m_hMenu = nullptr;
  operator HMENU() const { return m_hMenu; }
  HMENU GetSafeHmenu() const { return m_hMenu; }

  static CMenu* FromHandle(HMENU menu);
  BOOL CreateMenu();
  BOOL CreatePopupMenu();
  BOOL Attach(HMENU menu);
  HMENU Detach();
  BOOL DestroyMenu();

  BOOL AppendMenu(UINT flags, UINT_PTR idOrPopup = 0, LPCWSTR text = nullptr) {
    return ::AppendMenuW(m_hMenu, flags, idOrPopup, text);
  }
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR idOrPopup = 0, LPCWSTR text = nullptr) {
    return ::InsertMenuW(m_hMenu, position, flags, idOrPopup, text);
  }
  BOOL RemoveMenu(UINT position, UINT flags) { return ::RemoveMenu(m_hMenu, position, flags); }
  BOOL DeleteMenu(UINT position, UINT flags) { return ::DeleteMenu(m_hMenu, position, flags); }
  UINT GetMenuItemCount() const { return static_cast<UINT>(::GetMenuItemCount(m_hMenu)); }
  UINT GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
  CMenu* GetSubMenu(int position) const;
  UINT EnableMenuItem(UINT item, UINT flags) { return ::EnableMenuItem(m_hMenu, item, flags); }
  UINT CheckMenuItem(UINT item, UINT flags) { return static_cast<UINT>(::CheckMenuItem(m_hMenu, item, flags)); }
  UINT GetMenuState(UINT item, UINT flags) const { return ::GetMenuState(m_hMenu, item, flags); }
  int GetMenuString(UINT item, CString& text, UINT flags) const;
  // Takes every item out (submenus destroyed).
  void DeleteAllItems();

 private:
  bool m_owned = true;
};

// The picker. CreateOver replaces a template placeholder: the control `id`
// of `parent` (a static or already a picker) gives its rectangle, style and
// place in the tab order; extraStyle adds to the style (DTS_TIMEFORMAT for a
// time picker).
class CDateTimeCtrl : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  BOOL CreateOver(CWnd* parent, UINT id, DWORD extraStyle = 0);
  // GDT_VALID, GDT_NONE or GDT_ERROR.
  DWORD GetTime(SYSTEMTIME* time) const {
    return static_cast<DWORD>(SendMessage(DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(time)));
  }
  DWORD GetTime(SYSTEMTIME& time) const { return GetTime(&time); }
  // Null: no date (DTS_SHOWNONE only).
  BOOL SetTime(const SYSTEMTIME* time) {
    return static_cast<BOOL>(SendMessage(DTM_SETSYSTEMTIME, time ? GDT_VALID : GDT_NONE, reinterpret_cast<LPARAM>(time)));
  }
  BOOL SetTime(const SYSTEMTIME& time) { return SetTime(&time); }
  BOOL SetFormat(LPCWSTR picture) {
    return static_cast<BOOL>(SendMessage(DTM_SETFORMATW, 0, reinterpret_cast<LPARAM>(picture)));
  }
};
