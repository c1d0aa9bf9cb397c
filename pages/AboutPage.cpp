#include "pages/AboutPage.h"

#include "ce/errors.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"
#include "pages/OptionDialogSupport.h"
#include "pages/OptionSeams.h"

namespace {

constexpr const WCHAR* kClass = u"CAboutPage";
constexpr DWORD kStrDefaultEdition = 65354;
constexpr DWORD kStrVersion = 65150;
constexpr DWORD kStrVendorLabel = 57731;
constexpr DWORD kStrText = 57732;
constexpr DWORD kStrProductLink = 65042;
constexpr DWORD kStrOk = 57702;

constexpr int kNameHeight = 18;
constexpr int kCardNameHeight = 20;
constexpr int kEditionHeight = 16;
constexpr int kNormalHeight = 16;
constexpr int kSmallTextHeight = 12;
constexpr int kLargeTextHeight = 16;

void MakeFont(CFont& font, int height, int weight, bool underline = false) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfUnderline = underline ? 1 : 0;
  lf.lfCharSet = DEFAULT_CHARSET;
  font.DeleteObject();
  font.CreateFontIndirect(&lf);
}

CString AboutScreenVersion() {
  ABackupRegistrySettings config(kConfigKeyKind);
  CString text;
  if (!config.ReadString(u"AboutScreenVersion", text)) text.Empty();
  return text;
}

// A link takes its fonts from the control and fits the control to its
// text when it is attached: the text font and the text come first.
void AttachLink(CHyperLink& link, UINT id, CWnd* parent, const CString& url, CFont& font) {
  link.SetURL(url);
  link.SetUnderline(CHyperLink::kUnderlineAlways);
  if (CWnd* w = parent->GetDlgItem(static_cast<int>(id))) {
    w->SetFont(&font);
    w->SetWindowText(url);
  }
  if (!link.Attach(id, parent)) Log(0, u"The link could not be attached", kClass, __LINE__);
}

}  // namespace

// No title static: the application name heads the box.
CAboutPage::CAboutPage(CWnd* parent) : CDynamicDialog(IDD, parent, nullptr, false) {}

BOOL CAboutPage::OnInitDialog() {
  const BOOL result = CDynamicDialog::OnInitDialog();
  CreateFonts();
  SetTexts();
  SetVendorLink();
  const CString screenVersion = AboutScreenVersion();
  SetDlgItemText(kScreenVersionId, screenVersion);
  if (screenVersion.IsEmpty())
    if (CWnd* w = GetDlgItem(kScreenVersionId)) w->ShowWindow(SW_HIDE);
  Localizer::SetControlText(this, kTextId, kStrText);
  if (CWnd* w = GetDlgItem(kTextId)) w->SetFont(&m_TextFont);
  SetProductLink();
  Localizer::SetControlText(this, IDOK, kStrOk);
  UpdateData(FALSE);
  return result;
}

void CAboutPage::CreateFonts() {
  const int scale = GetDisplayScale();
  const bool card = OptionDialogs::IsStorageCardEdition();
  MakeFont(m_NameFont, (card ? kCardNameHeight : kNameHeight) * scale, 700);
  MakeFont(m_EditionFont, kEditionHeight, 700);
  MakeFont(m_NormalFont, kNormalHeight, 400);
  MakeFont(m_TextFont, (GetAllowSmallFonts() ? kSmallTextHeight : kLargeTextHeight) * scale, 400, false);
}

void CAboutPage::SetTexts() {
  SetDlgItemText(kNameId, GetApplicationName());
  if (CWnd* w = GetDlgItem(kNameId)) w->SetFont(&m_NameFont);
  const CString edition =
      GetUseVendorEditionName() ? GetVendorEditionName() : Localizer::LoadResString(kStrDefaultEdition);
  SetDlgItemText(kEditionId, edition);
  if (CWnd* w = GetDlgItem(kEditionId)) w->SetFont(&m_EditionFont);
  SetDlgItemText(kVersionId, Localizer::FormatResString(kStrVersion, GetGlobal().g_csProgramVersion));
}

void CAboutPage::SetVendorLink() {
  if (CWnd* w = GetDlgItem(kVendorLabelId)) w->SetFont(&m_TextFont);
  if (GetVendorProvidedVersion()) {
    Localizer::SetControlText(this, kVendorLabelId, kStrVendorLabel);
    AttachLink(m_VendorLink, kVendorLinkId, this, ::GetVendorUrl(), m_TextFont);
  } else {
    for (int id : {kVendorLabelId, kVendorLinkId})
      if (CWnd* w = GetDlgItem(id)) w->ShowWindow(SW_HIDE);
  }
}

void CAboutPage::SetProductLink() {
  AttachLink(m_ProductLink, kProductLinkId, this, Localizer::LoadResString(kStrProductLink), m_TextFont);
}

void CAboutPage::ShowVersion() {
  m_bVersionShown = true;
  OptionSeams::RunVersionDialog(this);
}

BOOL CAboutPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  // The links hear their own taps (reflection); the version button is ours.
  if (LOWORD(wParam) == kVersionButtonId && HIWORD(wParam) == BN_CLICKED) {
    ShowVersion();
    return TRUE;
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

HBRUSH CAboutPage::OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) {
  HBRUSH brush = CDynamicDialog::OnCtlColor(dc, wnd, ctlColor);
  if (dc == nullptr || wnd == nullptr) return brush;
  switch (wnd->GetDlgCtrlID()) {
    case kNameId:
    case kVersionId:
    case kEditionId:
      dc->SetTextColor(kNameColour);
      break;
    case kScreenVersionId:
      dc->SetTextColor(kScreenVersionColour);
      break;
    default:
      break;
  }
  return brush;
}

void CAboutPage::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  OptionDialogs::DrawSeparatorBelow(dc, this, kVersionId);
  OptionDialogs::DrawSeparatorBelow(dc, this, kScreenVersionId);
  OptionDialogs::DrawSeparatorBelow(dc, this, kProductLinkId);
}
