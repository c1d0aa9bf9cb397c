// The platform's network connect dialog (ce/netconn.h): a "#32770" dialog
// built in code, so that automation and UI scripts drive it as any other
// (`dialog 1540`, `set 1152 Images`, `click 1`).
#include <string>
#include <vector>

#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/netconn.h"
#include "cesim/share.h"

namespace {

constexpr int kMargin = 4;
constexpr int kWidth = 240;
constexpr int kButtonWidth = 60;
constexpr int kButtonHeight = 23;

struct ConnectData {
  std::u16string chosen;
};

std::u16string ItemText(HWND list, int index) {
  LRESULT len = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (len <= 0) return {};
  std::u16string text(static_cast<size_t>(len) + 1, u'\0');
  LRESULT got = SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

INT_PTR ConnectProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(h, DWL_USER, lParam);
    HWND list = GetDlgItem(h, ce::kConnectShareList);
    for (const ce::ShareState& s : ce::ListShares()) {
      if (s.connected) continue;
      std::u16string remote = ce::ShareRemoteName(s.share.name);
      SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(remote.c_str()));
    }
    return TRUE;
  }
  if (msg != WM_COMMAND) return FALSE;
  auto* data = reinterpret_cast<ConnectData*>(GetWindowLongPtrW(h, DWL_USER));
  if (!data) return FALSE;
  const int id = LOWORD(wParam);
  if (id == ce::kConnectShareList && HIWORD(wParam) == LBN_SELCHANGE) {
    HWND list = GetDlgItem(h, ce::kConnectShareList);
    int sel = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
    if (sel >= 0) SetDlgItemTextW(h, ce::kConnectNameEdit, ItemText(list, sel).c_str());
    return TRUE;
  }
  if (id == IDOK) {
    WCHAR name[MAX_PATH] = {};
    GetDlgItemTextW(h, ce::kConnectNameEdit, name, MAX_PATH);
    data->chosen = name;
    EndDialog(h, IDOK);
    return TRUE;
  }
  if (id == IDCANCEL) {
    EndDialog(h, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

ce::DialogTemplate ConnectTemplate() {
  ce::DialogTemplate t;
  t.id = ce::kConnectDialogId;
  t.width = kWidth;
  t.height = 200;
  t.style = WS_POPUP | WS_CAPTION;
  t.caption = u"Connect";
  const int w = kWidth - 2 * kMargin;
  const DWORD label = WS_CHILD | WS_VISIBLE;
  t.controls.push_back({-1, u"STATIC", kMargin, 4, w, 16, label, u"Shares on the network:"});
  t.controls.push_back({ce::kConnectShareList, u"LISTBOX", kMargin, 22, w, 80,
                        WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY, u""});
  t.controls.push_back({-1, u"STATIC", kMargin, 108, w, 16, label, u"Share (\\\\server\\share or name):"});
  t.controls.push_back({ce::kConnectNameEdit, u"EDIT", kMargin, 126, w, 22,
                        WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, u""});
  const int y = 200 - kButtonHeight - kMargin;
  t.controls.push_back({IDOK, u"BUTTON", kWidth - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, u"OK"});
  t.controls.push_back({IDCANCEL, u"BUTTON", kMargin, y, kButtonWidth, kButtonHeight,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, u"Cancel"});
  return t;
}

// The record's strings: valid until this thread's next connect.
thread_local std::u16string connectedRemote, connectedLocal;

}  // namespace

DWORD WNetConnectionDialog1W(LPCONNECTDLGSTRUCTW dialog) {
  if (dialog == nullptr || dialog->cbStructure != sizeof(CONNECTDLGSTRUCTW) || dialog->lpConnRes == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  ConnectData data;
  const ce::DialogTemplate t = ConnectTemplate();
  INT_PTR answer = DialogBoxIndirectParamW(nullptr, &t, dialog->hwndOwner, ConnectProc,
                                           reinterpret_cast<LPARAM>(&data));
  if (answer != IDOK) return 0xFFFFFFFFu;  // cancelled, or no dialog could be shown
  std::u16string folder;
  if (!ce::ConnectShare(data.chosen, &folder)) return GetLastError();
  connectedLocal = folder;
  connectedRemote = ce::ShareRemoteName(folder.substr(folder.rfind(u'\\') + 1));
  dialog->lpConnRes->lpLocalName = connectedLocal.data();
  dialog->lpConnRes->lpRemoteName = connectedRemote.data();
  dialog->lpConnRes->dwType = RESOURCETYPE_DISK;
  DWORD connected = 0;
  for (const ce::ShareState& s : ce::ListShares()) connected += s.connected ? 1 : 0;
  dialog->dwDevNum = connected;
  return NO_ERROR;
}
