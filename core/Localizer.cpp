#include "core/Localizer.h"

#include "core/ProductSettings.h"
#include "core/Resources.h"
#include "ce/window.h"

namespace Localizer {

bool LoadResStringRaw(DWORD id, CString& text) {
  if (LookupResString(id, text)) return true;
  text.Format(u"Error (1): LoadString Failed for %d", static_cast<int>(id));
  MessageBoxW(nullptr, text, u"Localizer", kErrorBoxStyle);
  return false;
}

CString LoadResString(DWORD id) {
  CString text;
  LoadResStringRaw(id, text);
  return ReplaceInsert(text, GetApplicationName());
}

CString FormatResString(DWORD id, LPCWSTR argument) {
  CString text;
  if (!LoadResStringRaw(id, text)) return text;
  return ReplaceInsert(text, argument);
}

namespace {

// A box under the application's name that carries the id its text came from.
int BoxOfString(DWORD id, const CString& text, UINT style) {
  ce::MessageBoxRequest r;
  r.text = text.view();
  r.caption = GetApplicationName();
  r.style = style;
  r.stringId = id;
  return ce::ShowMessageBox(r);
}

}  // namespace

int ResMessageBox(DWORD id, UINT style) {
  CString text;
  LoadResStringRaw(id, text);
  return BoxOfString(id, text, style);
}

int FormattedResMessageBox(DWORD id, UINT style) { return BoxOfString(id, LoadResString(id), style); }

int TextMessageBox(LPCWSTR text, UINT style) {
  return MessageBoxW(nullptr, text, GetApplicationName(), style);
}

HWND SetControlText(HWND dialog, int controlId, DWORD stringId, bool enable, bool show) {
  CString text;
  CString error;
  if (!LookupResString(stringId, text)) {
    error.Format(u"SetControlText(): LoadString() Failed for %d", static_cast<int>(stringId));
    MessageBoxW(nullptr, error, u"Localizer", kErrorBoxStyle);
    return nullptr;
  }
  HWND control = dialog ? GetDlgItem(dialog, controlId) : nullptr;
  if (!control) {
    error.Format(u"SetControlText(): GetDlgItem() Failed for %d", controlId);
    MessageBoxW(nullptr, error, u"Localizer", kErrorBoxStyle);
    return nullptr;
  }
  SetWindowTextW(control, ReplaceInsert(text, GetApplicationName()));
  EnableWindow(control, enable ? TRUE : FALSE);
  ShowWindow(control, show ? SW_SHOW : SW_HIDE);
  return control;
}

CString ReplaceInsert(const CString& text, LPCWSTR insert) {
  const std::u16string_view in = text.view();
  std::u16string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == u'%' && i + 1 < in.size() && in[i + 1] == u'1') {
      if (insert) out += insert;
      ++i;
    } else {
      out += in[i];
    }
  }
  return CString(out);
}

}  // namespace Localizer
