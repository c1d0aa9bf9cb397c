// CDialog: modal (DoModal) and modeless (Create) dialogs made from the
// templates of the resource module (AfxGetResourceHandle()).
//
// Routing: WM_INITDIALOG -> OnInitDialog; WM_COMMAND IDOK -> OnOK, IDCANCEL
// -> OnCancel (both answer TRUE); other commands answer FALSE so that a
// derived OnCommand handles its controls' notifications and calls the base
// for the rest.
#pragma once

#include <memory>

#include "ce/dialog.h"
#include "ui/Wnd.h"

class CDialog : public CWnd {
 public:
  CDialog() = default;
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  explicit CDialog(LPCWSTR templateName, CWnd* parent = nullptr);
  ~CDialog() override;

  // Runs the dialog until EndDialog; returns its result (-1 when the
  // dialog could not be made, IDCANCEL when a headless loop stalled).
  // The parent is the given one, else the application's main window.
  virtual INT_PTR DoModal();
  // Modeless. FALSE when the dialog could not be made.
  BOOL Create(UINT templateId, CWnd* parent = nullptr);
  BOOL Create(LPCWSTR templateName, CWnd* parent = nullptr);
  // From a template built at run time (copied).
  BOOL CreateIndirect(const ce::DialogTemplate& dialog, CWnd* parent = nullptr);
  void InitModalIndirect(const ce::DialogTemplate& dialog, CWnd* parent = nullptr);

  // Default: UpdateData(FALSE), TRUE (focus to the first tab stop).
  virtual BOOL OnInitDialog();
  // Default: UpdateData(TRUE), then EndDialog(IDOK) when it succeeded.
  virtual void OnOK();
  // Default: EndDialog(IDCANCEL).
  virtual void OnCancel();
  void EndDialog(int result);

  void NextDlgCtrl() const;
  void PrevDlgCtrl() const;
  void GotoDlgCtrl(CWnd* control);
  void SetDefID(UINT id);
  DWORD GetDefID() const;

  UINT m_nIDHelp = 0;
  LPCWSTR m_lpszTemplateName = nullptr;  // MAKEINTRESOURCEW(id) or a name
  CWnd* m_pParentWnd = nullptr;
  bool IsModal() const { return m_modal; }

 protected:
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam) override;
  // A top-level modeless dialog gets its keyboard interface here.
  BOOL PreTranslateMessage(MSG* msg) override;
  HWND ParentForModal() const;
  bool CreateModeless(HWND parent);

  bool m_modal = false;
  std::unique_ptr<ce::DialogTemplate> m_indirect;  // run-time template
  std::u16string m_templateNameStore;
};
