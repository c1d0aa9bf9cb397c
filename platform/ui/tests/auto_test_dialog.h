// A small dialog for the automation tests: an edit, a disabled button, a
// button that asks two questions, a check box, a combo box, a label that a
// timer changes, OK and Cancel.
#pragma once

#include <string>
#include <vector>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/msgbox.h"
#include "ce/window.h"

namespace autotest {

constexpr int kTemplate = 500;
constexpr int kEdit = 100, kDisabled = 101, kAskButton = 102, kCheck = 103, kCombo = 104, kLabel = 105;

inline ce::DialogTemplate SmallDialog() {
  ce::DialogTemplate t;
  t.id = kTemplate;
  t.width = 200;
  t.height = 120;
  t.style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t.caption = u"Small";
  auto add = [&](int id, const char16_t* cls, DWORD style, const char16_t* text) {
    ce::ControlTemplate c;
    c.id = id;
    c.className = cls;
    c.x = 4;
    c.y = 4 + 16 * static_cast<int>(t.controls.size());
    c.width = 100;
    c.height = 14;
    c.style = WS_CHILD | WS_VISIBLE | style;
    c.text = text;
    t.controls.push_back(c);
  };
  add(kEdit, u"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, u"");
  add(kDisabled, u"BUTTON", WS_DISABLED, u"Off");
  add(kAskButton, u"BUTTON", WS_TABSTOP, u"Ask");
  add(kCheck, u"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, u"Check");
  add(kCombo, u"COMBOBOX", CBS_DROPDOWNLIST | WS_TABSTOP, u"");
  add(kLabel, u"STATIC", 0, u"idle");
  add(IDOK, u"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, u"OK");
  add(IDCANCEL, u"BUTTON", WS_TABSTOP, u"Cancel");
  return t;
}

// What the dialog saw; the procedure reads it through a global since a
// DLGPROC has no context beyond lParam.
struct Seen {
  int editChanges = 0;
  std::u16string textAtOk;
  int checkClicks = 0;
  int selChanges = 0;
  std::vector<int> answers;   // of the boxes "Ask" shows
  int timerFires = 0;
  UINT timerMs = 0;           // 0: no timer
  bool okEnds = true;
};
inline Seen* g_seen = nullptr;

inline INT_PTR SmallDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
  Seen& s = *g_seen;
  switch (msg) {
    case WM_INITDIALOG:
      SendDlgItemMessageW(dlg, kCombo, CB_ADDSTRING, 0, (LPARAM)u"first");
      SendDlgItemMessageW(dlg, kCombo, CB_ADDSTRING, 0, (LPARAM)u"second");
      if (s.timerMs) SetTimer(dlg, 7, s.timerMs, nullptr);
      return TRUE;
    case WM_TIMER:
      ++s.timerFires;
      SetDlgItemTextW(dlg, kLabel, u"fired");
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == kEdit && code == EN_CHANGE) ++s.editChanges;
      if (id == kCheck && code == BN_CLICKED) ++s.checkClicks;
      if (id == kCombo && code == CBN_SELCHANGE) ++s.selChanges;
      if (id == kAskButton && code == BN_CLICKED) {
        s.answers.push_back(MessageBoxW(dlg, u"Continue with the copy?", u"Small", MB_YESNO | MB_DEFBUTTON2));
        s.answers.push_back(MessageBoxW(dlg, u"Really?", u"Small", MB_OKCANCEL));
      }
      if (id == IDOK && s.okEnds) {
        WCHAR buf[64] = {};
        GetDlgItemTextW(dlg, kEdit, buf, 64);
        s.textAtOk = buf;
        EndDialog(dlg, IDOK);
      }
      if (id == IDCANCEL) EndDialog(dlg, IDCANCEL);
      return TRUE;
    }
  }
  return FALSE;
}

inline INT_PTR RunSmallDialog() {
  ce::DialogTemplate t = SmallDialog();
  return DialogBoxIndirectParamW(nullptr, &t, nullptr, SmallDlgProc, 0);
}

}  // namespace autotest
