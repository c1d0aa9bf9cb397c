// Small helpers shared by the option dialogs of the main sheet's menu:
// enabling groups of controls, separator lines under a control, and the
// value-font and input-panel habits of their edits.
#pragma once

#include <initializer_list>

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/Mfc.h"

namespace OptionDialogs {

// Enables or disables each control of the dialog that exists.
void EnableControls(CWnd* dialog, std::initializer_list<int> ids, bool enable);
// A line across the dialog 2 pixels below the control (nothing when the
// control is missing or hidden).
void DrawSeparatorBelow(CDC& dc, CWnd* dialog, int controlId);
// The value of a number edit's text: digits only, clamped to
// [low, high]; an empty or non-numeric text gives low.
DWORD ClampedNumber(const CString& text, DWORD low, DWORD high);
// The text cut to its first maxChars characters.
CString CutText(const CString& text, int maxChars);
// The storage-card edition: the BackupCardVersion setting with the
// program's card flag.
bool IsStorageCardEdition();
// Puts the caret at the end of an edit's text.
void CaretToEnd(CWnd* dialog, int editId);

}  // namespace OptionDialogs
