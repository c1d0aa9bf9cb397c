#include "pages/PIMPage.h"

#include "core/Localizer.h"

namespace {

constexpr DWORD kStrHeading = 65171;
constexpr DWORD kStrExplanation = 65317;
constexpr DWORD kStrAgentOn = 65318;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrStopAgent = 65057;

}  // namespace

CPIMPage::CPIMPage(CWnd* parent) : CDynamicDialog(IDD, parent, kHelpTopic) {}

BOOL CPIMPage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  m_Corvane.LoadStartupSetting();
  Localizer::SetControlText(this, kTitleControlId, kStrHeading);
  Localizer::SetControlText(this, kExplanationId, kStrExplanation);
  Localizer::SetControlText(this, kAgentOnId, kStrAgentOn);
  Localizer::SetControlText(this, IDOK, kStrOk);
  CheckDlgButton(kAgentOnId, m_Corvane.GetOnStartup() ? BST_CHECKED : BST_UNCHECKED);
  return result;
}

BOOL CPIMPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) == kAgentOnId && HIWORD(wParam) == BN_CLICKED) {
    OnAgentClicked();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CPIMPage::OnAgentClicked() {
  if (IsDlgButtonChecked(kAgentOnId) == BST_CHECKED) {
    m_Corvane.Enable();
    return;
  }
  const UINT style = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
  if (Localizer::ResMessageBox(kStrStopAgent, style) == IDYES)
    m_Corvane.Disable();
  else
    CheckDlgButton(kAgentOnId, BST_CHECKED);
}

INT_PTR RunPIMDialog(CWnd* parent) {
  CPIMPage dialog(parent);
  return dialog.DoModal();
}
