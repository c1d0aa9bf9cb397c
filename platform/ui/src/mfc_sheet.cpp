// Property pages and the property sheet (ui/PropertySheet.h).
#include <algorithm>

#include "ce/menu.h"
#include "ce/module.h"
#include "mfc_internal.h"

namespace {
constexpr int kTabHeight = 20;     // template pixels
constexpr int kButtonHeight = 20;
constexpr int kButtonWidth = 60;
constexpr int kGap = 4;

std::u16string LoadResString(UINT id) {
  LPCWSTR text = nullptr;
  int len = LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return (len > 0 && text != nullptr) ? std::u16string(text, static_cast<size_t>(len)) : std::u16string();
}

// The sheet's menu bar unless it was made hidden (the sheet itself may not
// be shown yet).
HWND ShownMenuBar(HWND sheet) {
  HWND bar = ::SHFindMenuBar(sheet);
  return bar != nullptr && (::GetWindowLongW(bar, GWL_STYLE) & WS_VISIBLE) != 0 ? bar : nullptr;
}

ce::ControlTemplate Control(int id, const char16_t* cls, int x, int y, int w, int h, DWORD style,
                            const char16_t* text) {
  ce::ControlTemplate c;
  c.id = id;
  c.className = cls;
  c.x = x, c.y = y, c.width = w, c.height = h;
  c.style = style | WS_CHILD | WS_VISIBLE;
  c.text = text;
  return c;
}
}  // namespace

// ---- pages ----

CPropertyPage::CPropertyPage(UINT templateId, UINT captionId)
    : CDialog(templateId), m_templateId(templateId), m_captionId(captionId) {}

CPropertyPage::~CPropertyPage() {
  if (m_sheet != nullptr) m_sheet->RemovePage(this);
}

BOOL CPropertyPage::OnSetActive() {
  if (m_firstSetActive) {
    m_firstSetActive = false;
  } else {
    UpdateData(FALSE);
  }
  return TRUE;
}

BOOL CPropertyPage::OnKillActive() { return UpdateData(TRUE); }

BOOL CPropertyPage::OnApply() {
  OnOK();
  return TRUE;
}

void CPropertyPage::OnReset() { OnCancel(); }
void CPropertyPage::OnOK() {}
void CPropertyPage::OnCancel() {}

CString CPropertyPage::GetCaption() const {
  if (m_captionId != 0) return CString(LoadResString(m_captionId));
  ce::DialogTemplate t;
  if (ce::LoadDialogTemplate(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_templateId), &t)) return CString(t.caption);
  return CString();
}

BOOL CPropertyPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  WORD id = LOWORD(wParam);
  if ((id == IDOK || id == IDCANCEL) && HIWORD(wParam) == BN_CLICKED && m_sheet != nullptr &&
      m_sheet->m_hWnd != nullptr) {
    m_sheet->SendMessage(WM_COMMAND, wParam, lParam);
    return TRUE;
  }
  return FALSE;
}

// ---- the sheet ----

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage)
    : m_captionId(captionId), m_startPage(static_cast<int>(selectPage)) {
  m_pParentWnd = parent;
}

CPropertySheet::CPropertySheet(LPCWSTR caption, CWnd* parent, UINT selectPage)
    : m_caption(caption), m_startPage(static_cast<int>(selectPage)) {
  m_pParentWnd = parent;
}

CPropertySheet::~CPropertySheet() {
  m_tab.Detach();
  for (CPropertyPage* p : m_pages) p->m_sheet = nullptr;
}

void CPropertySheet::AddPage(CPropertyPage* page) {
  if (page == nullptr || GetPageIndex(page) >= 0) return;
  page->m_sheet = this;
  m_pages.push_back(page);
  if (m_hWnd != nullptr) m_tab.InsertItem(GetPageCount() - 1, page->GetCaption());
}

void CPropertySheet::RemovePage(CPropertyPage* page) { RemovePage(GetPageIndex(page)); }

void CPropertySheet::RemovePage(int index) {
  if (index < 0 || index >= GetPageCount()) return;
  CPropertyPage* page = m_pages[static_cast<size_t>(index)];
  m_pages.erase(m_pages.begin() + index);
  if (page->m_hWnd != nullptr) page->DestroyWindow();
  page->m_sheet = nullptr;
  page->m_firstSetActive = true;
  if (m_hWnd == nullptr) {
    if (m_startPage >= GetPageCount()) m_startPage = std::max(0, GetPageCount() - 1);
    return;
  }
  m_tab.DeleteItem(index);
  if (index == m_active) {
    m_active = -1;
    if (!m_pages.empty()) Activate(std::min(index, GetPageCount() - 1), false);
  } else if (index < m_active) {
    --m_active;
    m_tab.SetCurSel(m_active);
  }
}

BOOL CPropertySheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return FALSE;
  if (m_hWnd == nullptr) {
    m_startPage = index;
    return TRUE;
  }
  return Activate(index, true) ? TRUE : FALSE;
}

BOOL CPropertySheet::SetActivePage(CPropertyPage* page) { return SetActivePage(GetPageIndex(page)); }

int CPropertySheet::GetActiveIndex() const { return m_hWnd != nullptr ? m_active : m_startPage; }

CPropertyPage* CPropertySheet::GetActivePage() const { return GetPage(GetActiveIndex()); }

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return (index >= 0 && index < GetPageCount()) ? m_pages[static_cast<size_t>(index)] : nullptr;
}

int CPropertySheet::GetPageIndex(CPropertyPage* page) const {
  auto it = std::find(m_pages.begin(), m_pages.end(), page);
  return it == m_pages.end() ? -1 : static_cast<int>(it - m_pages.begin());
}

void CPropertySheet::SetTitle(LPCWSTR title) {
  m_caption = title;
  m_captionId = 0;
  if (m_hWnd != nullptr) SetWindowText(title);
}

ce::DialogTemplate CPropertySheet::BuildTemplate() {
  int pageW = 0, pageH = 0;
  for (CPropertyPage* p : m_pages) {
    ce::DialogTemplate t;
    if (ce::LoadDialogTemplate(AfxGetResourceHandle(), MAKEINTRESOURCEW(p->m_templateId), &t)) {
      pageW = std::max(pageW, t.width);
      pageH = std::max(pageH, t.height);
    }
  }
  if (pageW == 0) pageW = 240;
  if (pageH == 0) pageH = 160;
  int width = std::max(pageW, 2 * (kButtonWidth + kGap) + kGap);
  int buttonsTop = kTabHeight + pageH + kGap;
  ce::DialogTemplate d;
  d.id = static_cast<int>(m_sheetId);
  d.width = width;
  d.height = buttonsTop + kButtonHeight + kGap;
  d.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
  if (m_captionId != 0) m_caption = CString(LoadResString(m_captionId));
  d.caption = m_caption.str();
  d.controls.push_back(Control(kTabControlId, WC_TABCONTROLW, 0, 0, width, kTabHeight, WS_TABSTOP, u""));
  d.controls.push_back(Control(IDOK, u"BUTTON", width - 2 * (kButtonWidth + kGap), buttonsTop, kButtonWidth,
                               kButtonHeight, BS_DEFPUSHBUTTON | WS_TABSTOP, u"OK"));
  d.controls.push_back(Control(IDCANCEL, u"BUTTON", width - (kButtonWidth + kGap), buttonsTop, kButtonWidth,
                               kButtonHeight, BS_PUSHBUTTON | WS_TABSTOP, u"Cancel"));
  return d;
}

INT_PTR CPropertySheet::DoModal() {
  ui::RegisterTabControlClass();
  if (m_pages.empty()) return -1;
  InitModalIndirect(BuildTemplate(), m_pParentWnd);
  m_active = -1;
  m_startPage = std::clamp(m_startPage, 0, GetPageCount() - 1);
  INT_PTR result = CDialog::DoModal();
  for (CPropertyPage* p : m_pages) p->m_firstSetActive = true;
  return result;
}

RECT CPropertySheet::PageArea() const {
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  RECT area = client;
  RECT r{};
  if (m_tab.m_hWnd != nullptr && ::GetWindowRect(m_tab.m_hWnd, &r)) {
    POINT p{r.left, r.bottom};
    ::ScreenToClient(m_hWnd, &p);
    area.top = p.y;
  }
  HWND ok = ::GetDlgItem(m_hWnd, IDOK);
  if (ok != nullptr && ::GetWindowRect(ok, &r)) {
    POINT p{r.left, r.top};
    ::ScreenToClient(m_hWnd, &p);
    area.bottom = std::max(area.top, static_cast<LONG>(p.y - kGap * ce::GetDisplayScale()));
  }
  if (HWND bar = ShownMenuBar(m_hWnd); bar != nullptr && ::GetWindowRect(bar, &r)) {
    POINT p{r.left, r.bottom};
    ::ScreenToClient(m_hWnd, &p);
    const LONG barTop = p.y - ce::kMenuBarHeight * ce::GetDisplayScale();
    area.bottom = std::max(area.top, std::min(area.bottom, barTop));
  }
  return area;
}

void CPropertySheet::RecalcLayout() {
  if (m_hWnd == nullptr) return;
  const int s = ce::GetDisplayScale();
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  if (m_tab.m_hWnd != nullptr) {
    RECT t{};
    m_tab.GetWindowRect(&t);
    ::SetWindowPos(m_tab.m_hWnd, nullptr, 0, 0, client.right, t.bottom - t.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  LONG bottom = client.bottom;
  if (ShownMenuBar(m_hWnd) != nullptr) bottom -= ce::kMenuBarHeight * s;
  const int bw = kButtonWidth * s, bh = kButtonHeight * s, gap = kGap * s;
  const LONG top = std::max<LONG>(0, bottom - gap - bh);
  if (HWND ok = ::GetDlgItem(m_hWnd, IDOK)) ::MoveWindow(ok, client.right - 2 * (bw + gap), top, bw, bh, TRUE);
  if (HWND cancel = ::GetDlgItem(m_hWnd, IDCANCEL)) ::MoveWindow(cancel, client.right - (bw + gap), top, bw, bh, TRUE);
  const RECT area = PageArea();
  for (CPropertyPage* p : m_pages)
    if (p->m_hWnd != nullptr) p->MoveWindow(&area, TRUE);
}

void CPropertySheet::OnSettingChange(UINT flags, LPCWSTR section) {
  CDialog::OnSettingChange(flags, section);
  RecalcLayout();
}

bool CPropertySheet::MakePage(CPropertyPage* page) {
  ce::DialogTemplate t;
  if (!ce::LoadDialogTemplate(AfxGetResourceHandle(), MAKEINTRESOURCEW(page->m_templateId), &t)) return false;
  t.style = (t.style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE)) | WS_CHILD | DS_CONTROL;
  page->m_sheet = this;
  if (!page->CreateIndirect(t, this)) return false;
  RECT area = PageArea();
  page->MoveWindow(&area, FALSE);
  return true;
}

bool CPropertySheet::Activate(int index, bool askCurrent) {
  if (index < 0 || index >= GetPageCount()) return false;
  if (index == m_active) return true;
  CPropertyPage* current = GetPage(m_active);
  if (current != nullptr && current->m_hWnd != nullptr) {
    if (askCurrent && !current->OnKillActive()) return false;
    current->ShowWindow(SW_HIDE);
  }
  CPropertyPage* page = m_pages[static_cast<size_t>(index)];
  if (page->m_hWnd == nullptr && !MakePage(page)) {
    if (current != nullptr && current->m_hWnd != nullptr) current->ShowWindow(SW_SHOW);
    m_tab.SetCurSel(m_active);
    return false;
  }
  m_active = index;
  m_tab.SetCurSel(index);
  page->OnSetActive();
  page->ShowWindow(SW_SHOW);
  return true;
}

BOOL CPropertySheet::OnInitDialog() {
  CDialog::OnInitDialog();
  HWND tab = ::GetDlgItem(m_hWnd, kTabControlId);
  if (tab != nullptr && m_tab.m_hWnd == nullptr) m_tab.Attach(tab);
  for (int i = 0; i < GetPageCount(); ++i) m_tab.InsertItem(i, m_pages[static_cast<size_t>(i)]->GetCaption());
  if (!Activate(m_startPage, false)) {
    for (int i = 0; i < GetPageCount() && m_active < 0; ++i) Activate(i, false);
  }
  return TRUE;
}

BOOL CPropertySheet::OnCommand(WPARAM wParam, LPARAM lParam) { return CDialog::OnCommand(wParam, lParam); }

BOOL CPropertySheet::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
  if (hdr == nullptr || static_cast<int>(wParam) != kTabControlId) return CDialog::OnNotify(wParam, lParam, result);
  if (hdr->code == TCN_SELCHANGING) {
    CPropertyPage* current = GetPage(m_active);
    *result = (current != nullptr && current->m_hWnd != nullptr && !current->OnKillActive()) ? TRUE : FALSE;
    return TRUE;
  }
  if (hdr->code == TCN_SELCHANGE) {
    Activate(m_tab.GetCurSel(), false);
    *result = 0;
    return TRUE;
  }
  return CDialog::OnNotify(wParam, lParam, result);
}

void CPropertySheet::OnOK() {
  CPropertyPage* current = GetPage(m_active);
  if (current != nullptr && current->m_hWnd != nullptr && !current->OnKillActive()) return;
  for (CPropertyPage* p : m_pages) {
    if (p->m_hWnd != nullptr && !p->OnApply()) return;
  }
  EndDialog(IDOK);
}

void CPropertySheet::OnCancel() {
  for (CPropertyPage* p : m_pages) {
    if (p->m_hWnd != nullptr) p->OnReset();
  }
  EndDialog(IDCANCEL);
}

void CPropertySheet::OnDestroy() {
  m_startPage = std::max(0, m_active);
  m_tab.Detach();
  CDialog::OnDestroy();
}
