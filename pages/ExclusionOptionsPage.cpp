#include "pages/ExclusionOptionsPage.h"

#include "ce/errors.h"
#include "ce/controls.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "engine/Global.h"
#include "pages/OptionDialogSupport.h"
#include "pages/OptionSeams.h"
#include "ui/DataExchange.h"

namespace {

constexpr const WCHAR* kClass = u"CExclusionOptionsPage";
constexpr const WCHAR* kHelpTopic = u"EditExcludeList";

constexpr DWORD kStrTitle = 65329;
constexpr DWORD kStrApply = 65330;
constexpr DWORD kStrImages = 57696;
constexpr DWORD kStrPrograms = 57697;
constexpr DWORD kStrCards = 57699;
constexpr DWORD kStrListLabel = 65331;
constexpr DWORD kStrAdd = 57764;
constexpr DWORD kStrRemove = 57762;
constexpr DWORD kStrDefaults = 57701;
constexpr DWORD kStrOk = 57702;
constexpr DWORD kStrCancel = 57686;
constexpr DWORD kStrRefused = 65081;

// The option bit of each check box.
struct CheckBit {
  int id;
  int bit;
};
constexpr CheckBit kChecks[] = {
    {CExclusionOptionsPage::kApplyCheckId, kOptionApplyExclusions},
    {CExclusionOptionsPage::kImagesCheckId, kOptionExcludeImages},
    {CExclusionOptionsPage::kProgramsCheckId, kOptionExcludePrograms},
    {CExclusionOptionsPage::kCardsCheckId, kOptionExcludeCards},
};

}  // namespace

CExclusionOptionsPage::CExclusionOptionsPage(const BackupOptionsBlock& options, CWnd* parent)
    : CDynamicDialog(IDD, parent, kHelpTopic), m_Options(options) {}

BOOL CExclusionOptionsPage::OnInitDialog() {
  Localizer::SetControlText(this, kTitleControlId, kStrTitle);
  Localizer::SetControlText(this, kApplyCheckId, kStrApply);
  Localizer::SetControlText(this, kImagesCheckId, kStrImages);
  Localizer::SetControlText(this, kProgramsCheckId, kStrPrograms);
  Localizer::SetControlText(this, kCardsCheckId, kStrCards);
  Localizer::SetControlText(this, kListLabelId, kStrListLabel);
  Localizer::SetControlText(this, kAddButtonId, kStrAdd);
  Localizer::SetControlText(this, kRemoveButtonId, kStrRemove);
  Localizer::SetControlText(this, kDefaultsButtonId, kStrDefaults);
  Localizer::SetControlText(this, IDOK, kStrOk);
  Localizer::SetControlText(this, IDCANCEL, kStrCancel);
  FillList();
  UpdateData(FALSE);
  SetStates();
  return CDynamicDialog::OnInitDialog();
}

void CExclusionOptionsPage::FillList() {
  m_List.Load();
  m_nItems = m_List.GetCount();
  CString line;
  line.Format(u"About to add %d items", m_nItems);
  Log(0, line, kClass, __LINE__);
  SendDlgItemMessage(kListId, LB_RESETCONTENT);
  for (int i = 0; i < m_nItems; ++i) {
    const CString pattern = m_List.MakePattern(i);
    const LRESULT at = SendDlgItemMessage(kListId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pattern.GetString()));
    if (at >= 0) SendDlgItemMessage(kListId, LB_SETITEMDATA, static_cast<WPARAM>(at), i);
  }
}

void CExclusionOptionsPage::DoDataExchange(CDataExchange* dx) {
  CDynamicDialog::DoDataExchange(dx);
  for (const CheckBit& c : kChecks) {
    int value = m_Options.options[c.bit] ? BST_CHECKED : BST_UNCHECKED;
    DDX_Check(dx, c.id, value);
    m_Options.options[c.bit] = value == BST_CHECKED ? 1 : 0;
  }
}

void CExclusionOptionsPage::SetStates() {
  UpdateData(TRUE);
  OptionDialogs::EnableControls(this, {kImagesCheckId, kListId, kProgramsCheckId, kCardsCheckId, kListLabelId,
                                       kAddButtonId, kRemoveButtonId},
                                m_Options.options[kOptionApplyExclusions] != 0);
}

BOOL CExclusionOptionsPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  if (HIWORD(wParam) == BN_CLICKED) {
    switch (id) {
      case kApplyCheckId:
        SetStates();
        return TRUE;
      case kDefaultsButtonId:
        OnDefaults();
        return TRUE;
      case kAddButtonId:
        OnAdd();
        return TRUE;
      case kRemoveButtonId:
        OnRemove();
        return TRUE;
      default:
        break;
    }
  }
  return CDynamicDialog::OnCommand(wParam, lParam);
}

void CExclusionOptionsPage::OnDefaults() {
  m_Options.options[kOptionExcludeImages] = 1;
  m_Options.options[kOptionExcludeCards] = 1;
  m_Options.options[kOptionApplyExclusions] = 1;
  m_Options.options[kOptionExcludePrograms] = 0;
  UpdateData(FALSE);
  SetStates();
}

void CExclusionOptionsPage::OnAdd() {
  CString text;
  if (OptionSeams::RunAddExclusionDialog(text, this) != IDOK) return;
  const int index = m_List.Add(text);
  if (index < 0) {
    Localizer::ResMessageBox(kStrRefused, MB_OK);
    return;
  }
  m_nItems = m_List.GetCount();
  const CString pattern = m_List.MakePattern(index);
  const LRESULT at = SendDlgItemMessage(kListId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(pattern.GetString()));
  if (at >= 0) SendDlgItemMessage(kListId, LB_SETITEMDATA, static_cast<WPARAM>(at), index);
}

void CExclusionOptionsPage::OnRemove() {
  const LRESULT selected = SendDlgItemMessage(kListId, LB_GETCURSEL);
  if (selected < 0) return;
  const LRESULT length = SendDlgItemMessage(kListId, LB_GETTEXTLEN, static_cast<WPARAM>(selected));
  std::u16string buffer(static_cast<size_t>(length > 0 ? length : 0) + 1, u'\0');
  SendDlgItemMessage(kListId, LB_GETTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(buffer.data()));
  if (!m_List.Remove(CString(buffer.c_str())))
    LogError(GetLastError(), u"Failed to delete item from exclusion list", kClass, __LINE__);
  m_nItems = m_List.GetCount();
  SendDlgItemMessage(kListId, LB_DELETESTRING, static_cast<WPARAM>(selected));
}

void CExclusionOptionsPage::OnOK() {
  if (!UpdateData(TRUE)) return;
  CString line;
  line.Format(u"Saving Exclusion list - %d items", m_List.GetCount());
  Log(0, line, kClass, __LINE__);
  if (!m_List.Save()) LogError(GetLastError(), u"Failed to save the exclusion list", kClass, __LINE__);
  GetGlobal().g_ExcludeHandler.LoadExclusionList();
  EndDialog(IDOK);
}

void CExclusionOptionsPage::OnPaint() {
  CDynamicDialog::OnPaint();
  CClientDC dc(this);
  OptionDialogs::DrawSeparatorBelow(dc, this, kApplyCheckId);
  OptionDialogs::DrawSeparatorBelow(dc, this, kListId);
}

BOOL CExclusionOptionsPage::RelayoutDialog() {
  CDynamicDialog::RelayoutDialog();
  // The add and remove buttons stand stacked at the right edge; the list
  // fills the space to their left, down to the buttons' row.
  CWnd* list = GetDlgItem(kListId);
  CWnd* add = GetDlgItem(kAddButtonId);
  CWnd* remove = GetDlgItem(kRemoveButtonId);
  CWnd* ok = GetDlgItem(IDOK);
  if (list == nullptr || add == nullptr || remove == nullptr || ok == nullptr) return TRUE;
  CRect client, listRect, addRect, okRect;
  GetClientRect(&client);
  list->GetWindowRect(&listRect);
  ScreenToClient(&listRect);
  add->GetWindowRect(&addRect);
  ok->GetWindowRect(&okRect);
  ScreenToClient(&okRect);
  const int margin = kButtonMargin;
  const int buttonWidth = addRect.Width();
  const int buttonHeight = addRect.Height();
  const int right = IsLandscapeLayout() ? okRect.left - margin : client.right - margin;
  const int bottom = IsLandscapeLayout() ? client.bottom - margin : okRect.top - margin;
  const int buttonX = right - buttonWidth;
  add->MoveWindow(buttonX, listRect.top, buttonWidth, buttonHeight);
  remove->MoveWindow(buttonX, listRect.top + buttonHeight + margin, buttonWidth, buttonHeight);
  list->MoveWindow(listRect.left, listRect.top, buttonX - margin - listRect.left, bottom - listRect.top);
  return TRUE;
}
