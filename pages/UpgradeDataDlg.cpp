#include <vector>

#include "ce/commdlg.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "pages/VersionDialogs.h"

namespace {

constexpr const WCHAR* kClass = u"CUpgradeDataDlg";

constexpr DWORD kStrHeading = 57768;
constexpr DWORD kStrExplanation = 57769;
constexpr DWORD kStrNone = 65232;
constexpr DWORD kStrFilter = 65339;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;

// The filter text of the resource library separates its parts with '|';
// the file dialog wants them separated by NULs and ended by two.
std::u16string FilterFromResource(const CString& text) {
  std::u16string filter(text.view());
  for (char16_t& c : filter)
    if (c == u'|') c = u'\0';
  filter.append(2, u'\0');
  return filter;
}

// The platform's file-open dialog; false when cancelled or failed.
bool AskUpgradeFile(HWND owner, CString& path) {
  std::vector<WCHAR> file(MAX_PATH, 0);
  const std::u16string filter = FilterFromResource(Localizer::LoadResString(kStrFilter));
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = CUpgradeDataDlg::kDefaultExtension;
  ofn.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  if (!GetOpenFileNameW(&ofn)) return false;
  path = CString(file.data());
  return true;
}

}  // namespace

CUpgradeDataDlg::CUpgradeDataDlg(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

BOOL CUpgradeDataDlg::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  Localizer::SetControlText(this, kTitleControlId, kStrHeading);
  Localizer::SetControlText(this, kExplanationId, kStrExplanation);
  Localizer::SetControlText(this, kLabelId, kStrHeading);
  Localizer::SetControlText(this, IDOK, kStrOk);
  if (GetDlgItem(IDCANCEL)) Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  m_csFileName = Localizer::LoadResString(kStrNone);
  SetDlgItemText(kChosenFileId, m_csFileName);
  return result;
}

BOOL CUpgradeDataDlg::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == kBrowseId && HIWORD(wParam) == BN_CLICKED) {
    OnBrowse();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CUpgradeDataDlg::OnBrowse() {
  CString path;
  if (AskUpgradeFile(m_hWnd, path))
    m_csFileName = path;
  else
    m_csFileName = Localizer::LoadResString(kStrNone);
  SetDlgItemText(kChosenFileId, m_csFileName);
}

void CUpgradeDataDlg::OnOK() {
  CString text;
  GetDlgItemText(kChosenFileId, text);
  CString line;
  line.Format(u"Upgrade Filename: %s", text.GetString());
  Log(0, line, kClass, __LINE__);
  if (text.CompareNoCase(Localizer::LoadResString(kStrNone)) != 0) {
    m_csFileName = text;
    EndDialog(IDOK);
    return;
  }
  EndDialog(IDCANCEL);
}
