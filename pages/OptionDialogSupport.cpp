#include "pages/OptionDialogSupport.h"

#include "app/QuilmoApp.h"
#include "core/ProductSettings.h"

namespace OptionDialogs {

void EnableControls(CWnd* dialog, std::initializer_list<int> ids, bool enable) {
  if (dialog == nullptr) return;
  for (int id : ids)
    if (CWnd* control = dialog->GetDlgItem(id)) control->EnableWindow(enable ? TRUE : FALSE);
}

void DrawSeparatorBelow(CDC& dc, CWnd* dialog, int controlId) {
  if (dialog == nullptr) return;
  CWnd* control = dialog->GetDlgItem(controlId);
  if (control == nullptr || !control->IsWindowVisible()) return;
  CRect rect;
  control->GetWindowRect(&rect);
  dialog->ScreenToClient(&rect);
  CRect client;
  dialog->GetClientRect(&client);
  const int y = rect.bottom + 2;
  dc.MoveTo(client.left, y);
  dc.LineTo(client.right, y);
}

DWORD ClampedNumber(const CString& text, DWORD low, DWORD high) {
  unsigned long long value = 0;
  bool any = false;
  for (int i = 0; i < text.GetLength(); ++i) {
    const WCHAR c = text[i];
    if (c < u'0' || c > u'9') {
      if (c == u' ' && !any) continue;
      break;
    }
    any = true;
    value = value * 10 + static_cast<unsigned>(c - u'0');
    if (value > high) {
      value = high;
      break;
    }
  }
  if (!any || value < low) return low;
  return static_cast<DWORD>(value);
}

CString CutText(const CString& text, int maxChars) {
  return text.GetLength() > maxChars ? text.Left(maxChars) : text;
}

bool IsStorageCardEdition() {
  const auto* app = dynamic_cast<const CQuilmoApp*>(AfxGetApp());
  return GetBackupCardVersion() && app != nullptr && app->m_bStorageCardEdition;
}

void CaretToEnd(CWnd* dialog, int editId) {
  if (dialog == nullptr) return;
  CWnd* edit = dialog->GetDlgItem(editId);
  if (edit == nullptr) return;
  const int length = edit->GetWindowTextLength();
  edit->SendMessage(EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
}

}  // namespace OptionDialogs
