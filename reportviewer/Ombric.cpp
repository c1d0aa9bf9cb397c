#include "reportviewer/Ombric.h"

#include <vector>

#include "ce/file.h"
#include "ce/gdi.h"
#include "ce/process.h"
#include "ce/system.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "engine/BackupHistory.h"
#include "reportviewer/OmbricFormat.h"

namespace {

// Text of one block: its bytes as UTF-16, an odd last byte dropped.
CString BlockText(const unsigned char* bytes, DWORD count) {
  std::u16string text;
  text.reserve(count / 2);
  for (DWORD i = 0; i + 1 < count; i += 2) text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  return CString(text);
}

}  // namespace

bool ResolveReportPath(const CString& name, CString* path) {
  CString file = name;
  if (file.IsEmpty()) file = CString(ombric::kDefaultReportBase) + ombric::kReportExtension;
  if (file.Find(u'\\') >= 0) {
    *path = file;
    return true;
  }
  ABackupHistoryHandler history;
  if (!history.Found()) return false;
  *path = history.Folder() + u"\\" + file;
  return true;
}

bool ReadReportBlocks(const CString& path, const std::function<void(const CString&)>& append) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> block(ombric::kReadBlockBytes);
  DWORD got = 0;
  // The byte-order mark: a report shorter than that shows nothing.
  if (ReadFile(file, block.data(), ombric::kByteOrderMarkBytes, &got, nullptr) &&
      got == ombric::kByteOrderMarkBytes) {
    // Each block ends at the bytes read; an odd last byte is no character.
    while (ReadFile(file, block.data(), ombric::kReadBlockBytes, &got, nullptr) && got > 0)
      append(BlockText(block.data(), got & ~1u));
  }
  CloseHandle(file);
  return true;
}

COmbricDlg::COmbricDlg(const CString& reportPath, CWnd* parent) : CDialog(IDD, parent), m_ReportPath(reportPath) {}

COmbricDlg::~COmbricDlg() {
  if (m_hIcon) DestroyIcon(m_hIcon);
}

void COmbricDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, ombric::kEditId, m_Edit);
}

BOOL COmbricDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_hIcon = LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCE(ombric::kIconId));
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  FitToWorkArea();
  SetWindowText(GetApplicationName());
  LoadReport();
  return TRUE;
}

void COmbricDlg::LoadReport() {
  if (!m_Edit.m_hWnd) return;
  m_Edit.SetSel(0, -1);
  m_Edit.SendMessage(EM_SCROLLCARET);
  const bool opened = ReadReportBlocks(m_ReportPath, [this](const CString& text) { m_Edit.ReplaceSel(text); });
  if (!opened) {
    CString text;
    if (!text.LoadString(ombric::kStrOpenError)) text = u"Ombric: Error opening report file";
    text += ombric::kOpenErrorSeparator;
    text += m_ReportPath;
    AfxMessageBox(text, MB_OK);
    return;
  }
  m_Edit.SetSel(0, 0);
  m_Edit.SendMessage(EM_SCROLLCARET);
  m_Edit.SetSel(0, 0);
}

void COmbricDlg::FitToWorkArea() {
  RECT work{};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
  const int height = work.bottom - 2 * work.top;
  MoveWindow(work.left, work.top, work.right - work.left, height);
  if (CWnd* edit = GetDlgItem(ombric::kEditId)) edit->MoveWindow(0, 0, work.right, height);
}

void COmbricDlg::OnSettingChange(UINT flags, LPCWSTR section) {
  CDialog::OnSettingChange(flags, section);
  FitToWorkArea();
  ModifyStyle(WS_VSCROLL, 0);
}

BOOL COmbricDlg::OnHelpInfo(HELPINFO*) { return OnHelp() ? TRUE : FALSE; }

bool COmbricDlg::OnHelp() {
  const CString argument = System::GetWindowsFolder() + GetHelpFileName() + u"#" + ombric::kHelpTopic;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(ombric::kHelpViewer, argument, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
    return false;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

BOOL COmbricApp::InitInstance() {
  // The class library's parsing: the first plain parameter, unquoted.
  CCommandLineInfo info;
  ParseCommandLine(info);
  CString path;
  if (!ResolveReportPath(info.m_strFileName, &path)) {
    AfxMessageBox(ombric::kNoHistoryFolderText, MB_OK);
    return FALSE;
  }
  COmbricDlg dlg(path);
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
