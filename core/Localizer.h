// Texts by string id for the user: lookups through the resource search
// (core/Resources.h) with the application name put in, and message boxes.
// A string id found nowhere is a visible error: a box captioned
// "Localizer" shows "Error (1): LoadString Failed for <id>" and the caller
// receives that text in place of the string.
#pragma once

#include "ce/cstring.h"
#include "ce/msgbox.h"
#include "ce/types.h"

namespace Localizer {

// Style of the Localizer's own error boxes.
inline constexpr UINT kErrorBoxStyle = MB_OK | MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND;

// The text as stored; false (text = the error text, box shown) when the id
// is found nowhere.
bool LoadResStringRaw(DWORD id, CString& text);
// The text with every "%1" replaced by the ApplicationName setting.
CString LoadResString(DWORD id);
// The text with every "%1" replaced by argument.
CString FormatResString(DWORD id, LPCWSTR argument);
// A box with the text as stored (no "%1" replacement) and the given style,
// captioned with the application name; returns the button pressed.
int ResMessageBox(DWORD id, UINT style = MB_OK);
// A box with the given text, captioned with the application name.
int TextMessageBox(LPCWSTR text, UINT style = MB_OK);
// A box of a string id's text with "%1" replaced by the ApplicationName
// setting, captioned with the application name and carrying the string id
// for whoever answers it; returns the button pressed.
int FormattedResMessageBox(DWORD id, UINT style = MB_OK);

// Puts the text of a string id ("%1" replaced by the ApplicationName
// setting) into a control of a dialog, enables or disables it and shows or
// hides it; returns the control. A missing text shows the box
// "SetControlText(): LoadString() Failed for <string id>", a missing control
// "SetControlText(): GetDlgItem() Failed for <control id>" (both captioned
// "Localizer", kErrorBoxStyle); null then, the control untouched.
HWND SetControlText(HWND dialog, int controlId, DWORD stringId, bool enable = true,
                    bool show = true);
// The same for a class-library window (anything with an m_hWnd member).
template <class Window>
HWND SetControlText(Window* dialog, int controlId, DWORD stringId, bool enable = true,
                    bool show = true) {
  return SetControlText(dialog ? static_cast<HWND>(dialog->m_hWnd) : static_cast<HWND>(nullptr),
                        controlId, stringId, enable, show);
}

// Replaces each "%1" of text by insert in one pass: the inserted text is
// not searched again and no other "%" sequence is touched.
CString ReplaceInsert(const CString& text, LPCWSTR insert);

}  // namespace Localizer
