// Special folders and shortcut files.
#include "ce/shell.h"

#include <string>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/handle.h"
#include "ce/text.h"

namespace {

BOOL Fail(DWORD code) {
  SetLastError(code);
  return FALSE;
}

// Shortcut files are small; more than this is not a shortcut.
constexpr DWORD kMaxShortcutBytes = 4096;

// Makes every missing folder of path, top down.
BOOL MakeFolders(const std::u16string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != u'\\') continue;
    std::u16string part = path.substr(0, i);
    if (GetFileAttributesW(part.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return FALSE;
  }
  return TRUE;
}

}  // namespace

std::u16string ce::SpecialFolderPath(int csidl) {
  switch (csidl) {
    case CSIDL_PROGRAMS: return u"\\Windows\\Start Menu\\Programs";
    case CSIDL_PERSONAL: return u"\\My Documents";
    case CSIDL_FAVORITES: return u"\\Windows\\Favorites";
    case CSIDL_STARTUP: return u"\\Windows\\StartUp";
    case CSIDL_STARTMENU: return u"\\Windows\\Start Menu";
    case CSIDL_WINDOWS: return u"\\Windows";
    case CSIDL_PROGRAM_FILES: return u"\\Program Files";
    default: return {};
  }
}

BOOL SHGetSpecialFolderPath(HWND, LPWSTR path, int csidl, BOOL create) {
  const std::u16string folder = ce::SpecialFolderPath(csidl);
  if (!path || folder.empty()) return Fail(ERROR_INVALID_PARAMETER);
  if (create && !MakeFolders(folder)) return FALSE;
  folder.copy(path, folder.size());
  path[folder.size()] = 0;
  return TRUE;
}

BOOL SHCreateShortcut(LPCWSTR shortcutPath, LPCWSTR target) {
  if (!shortcutPath || !target) return Fail(ERROR_INVALID_PARAMETER);
  const size_t count = ce::StrLen(target);
  if (count == 0 || count > MAX_PATH) return Fail(ERROR_INVALID_PARAMETER);
  if (GetFileAttributesW(shortcutPath) != INVALID_FILE_ATTRIBUTES) return Fail(ERROR_ALREADY_EXISTS);
  const std::string text = std::to_string(count) + "#" + ce::ToAnsi(std::u16string_view(target, count));
  HANDLE h = CreateFileW(shortcutPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return Fail(GetLastError() == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : GetLastError());
  }
  DWORD written = 0;
  BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  DWORD err = ok ? 0 : GetLastError();
  if (!CloseHandle(h) && ok) {
    ok = FALSE;
    err = GetLastError();
  }
  if (!ok) {
    DeleteFileW(shortcutPath);  // no half-written shortcut is left behind
    return Fail(err ? err : ERROR_WRITE_FAULT);
  }
  SetLastError(0);
  return TRUE;
}

bool ce::ReadShortcutTarget(std::u16string_view shortcutPath, std::u16string* target) {
  const std::u16string path(shortcutPath);
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::string bytes(kMaxShortcutBytes, '\0');
  DWORD got = 0;
  const BOOL ok = ReadFile(h, bytes.data(), kMaxShortcutBytes, &got, nullptr);
  const DWORD err = GetLastError();
  CloseHandle(h);
  if (!ok) return Fail(err);
  bytes.resize(got);
  const size_t hash = bytes.find('#');
  if (hash == std::string::npos) return Fail(ERROR_BAD_FORMAT);
  std::string text = bytes.substr(hash + 1);
  size_t count = 0;
  bool numeric = hash > 0 && hash <= 4;
  for (size_t i = 0; numeric && i < hash; ++i) {
    if (bytes[i] < '0' || bytes[i] > '9') numeric = false;
    else count = count * 10 + static_cast<size_t>(bytes[i] - '0');
  }
  if (numeric && count < text.size()) text.resize(count);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (target) *target = ce::FromAnsi(text);
  return true;
}

bool ce::SplitShortcutTarget(std::u16string_view target, std::u16string* program, std::u16string* args) {
  size_t i = 0;
  while (i < target.size() && target[i] == u' ') ++i;
  std::u16string_view prog, rest;
  if (i < target.size() && target[i] == u'"') {
    const size_t close = target.find(u'"', i + 1);
    if (close == std::u16string_view::npos) {
      prog = target.substr(i + 1);
    } else {
      prog = target.substr(i + 1, close - i - 1);
      rest = target.substr(close + 1);
    }
  } else {
    const size_t blank = target.find(u' ', i);
    prog = target.substr(i, blank == std::u16string_view::npos ? std::u16string_view::npos : blank - i);
    if (blank != std::u16string_view::npos) rest = target.substr(blank);
  }
  if (!rest.empty() && rest.front() == u' ') rest.remove_prefix(1);
  if (program) *program = std::u16string(prog);
  if (args) *args = std::u16string(rest);
  return !prog.empty();
}

BOOL SHInitExtraControls() { return TRUE; }
