// The platform's file open and save dialogs (ce/commdlg.h): a "#32770"
// dialog built in code over the device's files.
#include <algorithm>
#include <string>
#include <vector>

#include "ce/commdlg.h"
#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/text.h"

namespace {

constexpr int kWidth = 240;
constexpr int kHeight = 268;
constexpr int kMargin = 4;
constexpr int kButtonWidth = 60;
constexpr int kButtonHeight = 23;

thread_local DWORD g_lastError = 0;

struct Filter {
  std::u16string text;
  std::vector<std::u16string> patterns;
};

struct FileDialog {
  LPOPENFILENAMEW ofn = nullptr;
  bool save = false;
  std::vector<Filter> filters;
  int filter = 0;
  std::u16string folder;  // "\" or "\A\B"
  std::vector<std::u16string> rows;  // as listed: "[sub]" or a file name
  std::u16string chosen;
};

std::vector<Filter> ParseFilters(LPCWSTR spec) {
  std::vector<Filter> out;
  if (spec == nullptr) return out;
  for (const char16_t* p = spec; *p != 0;) {
    Filter f;
    f.text = p;
    p += f.text.size() + 1;
    if (*p == 0) break;  // a text without its pattern ends the list
    std::u16string patterns = p;
    p += patterns.size() + 1;
    size_t start = 0;
    while (start <= patterns.size()) {
      size_t semi = patterns.find(u';', start);
      std::u16string one = patterns.substr(start, semi == std::u16string::npos ? std::u16string::npos : semi - start);
      if (!one.empty()) f.patterns.push_back(ce::DeviceUpper(one));
      if (semi == std::u16string::npos) break;
      start = semi + 1;
    }
    out.push_back(std::move(f));
  }
  return out;
}

// '*' any run, '?' one character; both upper-cased.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

std::u16string Join(const std::u16string& folder, std::u16string_view name) {
  return folder == u"\\" ? u"\\" + std::u16string(name) : folder + u"\\" + std::u16string(name);
}

DWORD Attributes(const std::u16string& path) { return GetFileAttributesW(path.c_str()); }
bool IsFolder(const std::u16string& path) {
  DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// "\A\B\" or "A\B" to "\A\B"; "" to "\".
std::u16string Normalize(std::u16string path) {
  if (path.empty() || path[0] != u'\\') path.insert(path.begin(), u'\\');
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  return path;
}

void Fill(HWND h, FileDialog& d) {
  SetDlgItemTextW(h, ce::kFileFolderLabel, d.folder.c_str());
  HWND list = GetDlgItem(h, ce::kFileList);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  std::vector<std::u16string> folders, files;
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(Join(d.folder, u"*").c_str(), &fd);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::u16string name = fd.cFileName;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        folders.push_back(u"[" + name + u"]");
        continue;
      }
      const Filter* f = d.filters.empty() ? nullptr : &d.filters[static_cast<size_t>(d.filter)];
      const std::u16string up = ce::DeviceUpper(name);
      if (!f || std::any_of(f->patterns.begin(), f->patterns.end(),
                            [&](const std::u16string& p) { return Matches(p, up); })) {
        files.push_back(name);
      }
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }
  auto byName = [](const std::u16string& a, const std::u16string& b) { return ce::DeviceUpper(a) < ce::DeviceUpper(b); };
  std::sort(folders.begin(), folders.end(), byName);
  std::sort(files.begin(), files.end(), byName);
  d.rows.clear();
  if (d.folder != u"\\") d.rows.push_back(u"[..]");
  d.rows.insert(d.rows.end(), folders.begin(), folders.end());
  d.rows.insert(d.rows.end(), files.begin(), files.end());
  for (const auto& r : d.rows) SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(r.c_str()));
}

void Say(HWND h, const char16_t* text) { SetDlgItemTextW(h, ce::kFileMessage, text); }

// OK with the edit's text: opens a folder, or chooses a file (true).
bool Accept(HWND h, FileDialog& d) {
  WCHAR buf[MAX_PATH + 1] = {};
  GetDlgItemTextW(h, ce::kFileNameEdit, buf, MAX_PATH + 1);
  std::u16string name = buf;
  if (name.empty()) return false;
  if (name == u"..") {
    d.folder = d.folder.substr(0, std::max<size_t>(1, d.folder.rfind(u'\\')));
    SetDlgItemTextW(h, ce::kFileNameEdit, u"");
    Fill(h, d);
    return false;
  }
  std::u16string path = name[0] == u'\\' ? Normalize(name) : Join(d.folder, name);
  if (IsFolder(path)) {
    d.folder = path;
    SetDlgItemTextW(h, ce::kFileNameEdit, u"");
    Fill(h, d);
    return false;
  }
  const size_t slash = path.rfind(u'\\');
  std::u16string file = path.substr(slash + 1);
  if (file.find(u'.') == std::u16string::npos && d.ofn->lpstrDefExt && *d.ofn->lpstrDefExt) {
    path += u"." + std::u16string(d.ofn->lpstrDefExt);
    file = path.substr(slash + 1);
  }
  const std::u16string parent = slash == 0 ? u"\\" : path.substr(0, slash);
  if (!IsFolder(parent)) {
    Say(h, u"The folder does not exist.");
    return false;
  }
  const bool exists = Attributes(path) != INVALID_FILE_ATTRIBUTES;
  if (!d.save && !exists && (d.ofn->Flags & OFN_FILEMUSTEXIST)) {
    Say(h, u"The file does not exist.");
    return false;
  }
  if (d.save && exists && (d.ofn->Flags & OFN_OVERWRITEPROMPT)) {
    ce::MessageBoxRequest ask;
    ask.owner = h;
    ask.text = file + u" already exists.\nDo you want to replace it?";
    ask.caption = d.ofn->lpstrTitle ? d.ofn->lpstrTitle : u"Save As";
    ask.style = MB_YESNO | MB_ICONEXCLAMATION;
    if (ce::ShowMessageBox(ask) != IDYES) return false;
  }
  d.chosen = path;
  return true;
}

INT_PTR FileProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(h, DWL_USER, lParam);
    auto* d = reinterpret_cast<FileDialog*>(lParam);
    HWND combo = GetDlgItem(h, ce::kFileTypeCombo);
    for (const Filter& f : d->filters) SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(f.text.c_str()));
    if (!d->filters.empty()) SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(d->filter), 0);
    Fill(h, *d);
    return TRUE;
  }
  if (msg != WM_COMMAND) return FALSE;
  auto* d = reinterpret_cast<FileDialog*>(GetWindowLongPtrW(h, DWL_USER));
  if (!d) return FALSE;
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  if (id == ce::kFileTypeCombo && code == CBN_SELCHANGE) {
    int sel = static_cast<int>(SendMessageW(GetDlgItem(h, ce::kFileTypeCombo), CB_GETCURSEL, 0, 0));
    if (sel >= 0 && sel < static_cast<int>(d->filters.size())) d->filter = sel;
    Fill(h, *d);
    return TRUE;
  }
  if (id == ce::kFileList && code == LBN_SELCHANGE) {
    int sel = static_cast<int>(SendMessageW(GetDlgItem(h, ce::kFileList), LB_GETCURSEL, 0, 0));
    if (sel >= 0 && sel < static_cast<int>(d->rows.size())) {
      std::u16string row = d->rows[static_cast<size_t>(sel)];
      if (row.size() > 2 && row.front() == u'[' && row.back() == u']') row = row.substr(1, row.size() - 2);
      SetDlgItemTextW(h, ce::kFileNameEdit, row.c_str());
    }
    return TRUE;
  }
  if (id == IDOK) {
    Say(h, u"");
    if (Accept(h, *d)) EndDialog(h, IDOK);
    return TRUE;
  }
  if (id == IDCANCEL) {
    EndDialog(h, IDCANCEL);
    return TRUE;
  }
  return FALSE;
}

ce::DialogTemplate FileTemplate(const FileDialog& d) {
  ce::DialogTemplate t;
  t.id = d.save ? ce::kSaveFileDialogId : ce::kOpenFileDialogId;
  t.width = kWidth;
  t.height = kHeight;
  t.style = WS_POPUP | WS_CAPTION;
  t.caption = d.ofn->lpstrTitle ? d.ofn->lpstrTitle : (d.save ? u"Save As" : u"Open");
  const int w = kWidth - 2 * kMargin;
  const DWORD label = WS_CHILD | WS_VISIBLE;
  t.controls.push_back({ce::kFileFolderLabel, u"STATIC", kMargin, 4, w, 16, label, u""});
  t.controls.push_back({ce::kFileList, u"LISTBOX", kMargin, 22, w, 120,
                        WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY, u""});
  t.controls.push_back({-1, u"STATIC", kMargin, 148, 40, 16, label, u"Name:"});
  t.controls.push_back({ce::kFileNameEdit, u"EDIT", kMargin + 44, 146, w - 44, 22,
                        WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, u""});
  t.controls.push_back({-1, u"STATIC", kMargin, 176, 40, 16, label, u"Type:"});
  t.controls.push_back({ce::kFileTypeCombo, u"COMBOBOX", kMargin + 44, 174, w - 44, 22,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST, u""});
  t.controls.push_back({ce::kFileMessage, u"STATIC", kMargin, 202, w, 32, label, u""});
  const int y = kHeight - kButtonHeight - kMargin;
  t.controls.push_back({IDOK, u"BUTTON", kWidth - kMargin - kButtonWidth, y, kButtonWidth, kButtonHeight,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, d.save ? u"Save" : u"Open"});
  t.controls.push_back({IDCANCEL, u"BUTTON", kMargin, y, kButtonWidth, kButtonHeight,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, u"Cancel"});
  return t;
}

BOOL Fail(DWORD error) {
  g_lastError = error;
  return FALSE;
}

BOOL Run(LPOPENFILENAMEW ofn, bool save) {
  if (ofn == nullptr || ofn->lStructSize != sizeof(OPENFILENAMEW)) return Fail(CDERR_STRUCTSIZE);
  if (ofn->lpstrFile == nullptr || ofn->nMaxFile == 0) return Fail(CDERR_INITIALIZATION);
  FileDialog d;
  d.ofn = ofn;
  d.save = save;
  d.filters = ParseFilters(ofn->lpstrFilter);
  if (!d.filters.empty() && ofn->nFilterIndex >= 1 && ofn->nFilterIndex <= d.filters.size()) {
    d.filter = static_cast<int>(ofn->nFilterIndex - 1);
  }
  // Where to start: the initial folder, else the folder of the name given,
  // else the documents folder, else the root.
  std::u16string given(ofn->lpstrFile, std::find(ofn->lpstrFile, ofn->lpstrFile + ofn->nMaxFile, u'\0'));
  std::u16string start = ofn->lpstrInitialDir ? Normalize(ofn->lpstrInitialDir) : u"";
  const size_t slash = given.rfind(u'\\');
  if (start.empty() && slash != std::u16string::npos) start = Normalize(given.substr(0, slash));
  if (start.empty() || !IsFolder(start)) start = IsFolder(u"\\My Documents") ? u"\\My Documents" : u"\\";
  d.folder = start;
  const ce::DialogTemplate t = FileTemplate(d);
  INT_PTR answer = DialogBoxIndirectParamW(nullptr, &t, ofn->hwndOwner, FileProc, reinterpret_cast<LPARAM>(&d));
  if (answer != IDOK) return Fail(0);  // cancelled, or no answer came
  if (d.chosen.size() + 1 > ofn->nMaxFile) {
    if (ofn->nMaxFile >= 1) ofn->lpstrFile[0] = static_cast<WCHAR>(std::min<size_t>(d.chosen.size() + 1, 0xFFFF));
    return Fail(FNERR_BUFFERTOOSMALL);
  }
  std::copy(d.chosen.begin(), d.chosen.end(), ofn->lpstrFile);
  ofn->lpstrFile[d.chosen.size()] = 0;
  const size_t name = d.chosen.rfind(u'\\') + 1;
  const size_t dot = d.chosen.rfind(u'.');
  ofn->nFileOffset = static_cast<WORD>(name);
  ofn->nFileExtension = static_cast<WORD>(dot != std::u16string::npos && dot > name ? dot + 1 : d.chosen.size());
  ofn->Flags &= ~OFN_READONLY;
  if (ofn->nFilterIndex != 0 || !d.filters.empty()) ofn->nFilterIndex = static_cast<DWORD>(d.filter + 1);
  if (ofn->lpstrFileTitle && ofn->nMaxFileTitle > 0) {
    std::u16string title = d.chosen.substr(name);
    const size_t n = std::min<size_t>(title.size(), ofn->nMaxFileTitle - 1);
    std::copy(title.begin(), title.begin() + static_cast<ptrdiff_t>(n), ofn->lpstrFileTitle);
    ofn->lpstrFileTitle[n] = 0;
  }
  g_lastError = 0;
  return TRUE;
}

}  // namespace

BOOL GetOpenFileNameW(LPOPENFILENAMEW ofn) { return Run(ofn, false); }
BOOL GetSaveFileNameW(LPOPENFILENAMEW ofn) { return Run(ofn, true); }
DWORD CommDlgExtendedError() { return g_lastError; }
