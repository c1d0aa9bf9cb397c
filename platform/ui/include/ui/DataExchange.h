// Dialog data exchange: CWnd::UpdateData runs DoDataExchange with a
// CDataExchange; the DDX_ calls move one value between a control and a
// member in the direction of m_bSaveAndValidate, the DDV_ calls check the
// value just saved (and, when loading, may set the control's limits).
// A failed conversion or check shows a message box, puts the focus on the
// control and makes UpdateData return FALSE (the rest is skipped).
#pragma once

#include "ce/cstring.h"
#include "ui/Wnd.h"

class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  // The control with that id (remembered as the last control for Fail and
  // DDV_). A missing control is a programming error: it fails the exchange.
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  // Focus to the last control (an edit gets its text selected), then ends
  // the exchange: UpdateData returns FALSE.
  [[noreturn]] void Fail();
  HWND m_hWndLastControl = nullptr;
  bool m_bEditLastControl = false;
};

// Thrown by CDataExchange::Fail, caught by UpdateData.
struct CUserException {};

void DDX_Text(CDataExchange* dx, int id, CString& value);
// Decimal text; a text that is not a number fails ("Please enter an
// integer." / "Please enter a positive integer.").
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
// BST_UNCHECKED / BST_CHECKED / BST_INDETERMINATE.
void DDX_Check(CDataExchange* dx, int id, int& value);
void DDX_Radio(CDataExchange* dx, int firstId, int& value);
// The selected index (-1: none).
void DDX_CBIndex(CDataExchange* dx, int id, int& index);
void DDX_CBString(CDataExchange* dx, int id, CString& value);
void DDX_LBIndex(CDataExchange* dx, int id, int& index);
// Attaches `control` to the dialog's control (once: an attached object is
// left as it is).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);

// Saving: more than maxChars characters fails. Loading: limits the last
// edit control (or combo box) to maxChars.
void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars);
void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue);
void DDV_MinMaxUInt(CDataExchange* dx, UINT value, UINT minValue, UINT maxValue);
