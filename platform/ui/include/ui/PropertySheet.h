// Property pages and the property sheet.
//
// The sheet is a modal dialog built at run time: a tab strip (one tab per
// page, the page's caption) at the top, the page area below it and OK and
// Cancel buttons at the bottom; its size fits the largest page. Pages are
// modeless child dialogs made from their templates (made child controls of
// the sheet whatever the template's style) when first activated; one page
// is visible at a time.
//
// Switching pages (a tab click or SetActivePage): the current page's
// OnKillActive must answer TRUE (default: UpdateData(TRUE)), then it is
// hidden, the new page is made if needed, shown and gets OnSetActive.
// OK: the active page's OnKillActive, then OnApply (default OnOK) of every
// page made so far; the sheet ends with IDOK. A menu bar made for the sheet
// sends its commands to the sheet's OnCommand. Cancel: OnReset (default
// OnCancel) of every page made so far; the sheet ends with IDCANCEL.
#pragma once

#include <vector>

#include "ui/Controls.h"
#include "ui/Dialog.h"

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  // captionId 0: the caption of the page's template.
  explicit CPropertyPage(UINT templateId, UINT captionId = 0);
  // A page that ends before its sheet (a sheet's member pages end before
  // the sheet's own part) leaves the sheet first.
  ~CPropertyPage() override;
  virtual BOOL OnSetActive();
  virtual BOOL OnKillActive();
  virtual BOOL OnApply();
  virtual void OnReset();
  // Pages do not end dialogs: OnOK and OnCancel do nothing here.
  void OnOK() override;
  void OnCancel() override;
  void SetModified(BOOL changed = TRUE) { m_modified = changed != FALSE; }
  bool IsModified() const { return m_modified; }
  CPropertySheet* GetSheet() const { return m_sheet; }
  // The tab's caption.
  CString GetCaption() const;

 protected:
  // IDOK / IDCANCEL inside a page go to the sheet.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  friend class CPropertySheet;
  UINT m_templateId;
  UINT m_captionId;
  CPropertySheet* m_sheet = nullptr;
  bool m_modified = false;
  bool m_firstSetActive = true;
};

class CPropertySheet : public CDialog {
 public:
  explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
  explicit CPropertySheet(LPCWSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);
  ~CPropertySheet() override;

  void AddPage(CPropertyPage* page);
  // Destroys the page's window (when made); the active page moves to a
  // neighbour.
  void RemovePage(CPropertyPage* page);
  void RemovePage(int index);
  BOOL SetActivePage(int index);
  BOOL SetActivePage(CPropertyPage* page);
  CPropertyPage* GetActivePage() const;
  int GetActiveIndex() const;
  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  CPropertyPage* GetPage(int index) const;
  int GetPageIndex(CPropertyPage* page) const;
  CTabCtrl* GetTabControl() { return &m_tab; }
  // Fits the tab strip to the width, the OK and Cancel buttons above a menu
  // bar (SHCreateMenuBar on the sheet) and the pages between them. Called
  // when a page is made and when the screen turns; call it after making
  // the menu bar.
  void RecalcLayout();
  void SetTitle(LPCWSTR title);
  // The id the sheet's own dialog answers to (ce::GetDialogTemplateId, a UI
  // script's "dialog ID"); 0 unless set before DoModal.
  void SetSheetId(UINT id) { m_sheetId = id; }
  INT_PTR DoModal() override;

  static constexpr int kTabControlId = 0x3020;

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnOK() override;
  void OnCancel() override;
  void OnDestroy() override;
  void OnSettingChange(UINT flags, LPCWSTR section) override;

 private:
  bool MakePage(CPropertyPage* page);
  // askCurrent: the current page's OnKillActive may refuse.
  bool Activate(int index, bool askCurrent);
  ce::DialogTemplate BuildTemplate();
  RECT PageArea() const;

  std::vector<CPropertyPage*> m_pages;
  CString m_caption;
  UINT m_captionId = 0;
  int m_active = -1;
  int m_startPage = 0;
  UINT m_sheetId = 0;
  CTabCtrl m_tab;
};
