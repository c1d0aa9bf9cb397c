// ShellExecuteEx (ce/shell.h): links go to the screen log, programs start.
#include <string>
#include <string_view>

#include "ce/errors.h"
#include "ce/handle.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/text.h"
#include "cesim/msgbox.h"

namespace {

constexpr intptr_t kShellSuccess = 33;

// "scheme:..." with a scheme of two or more letters (so not "C:\..."), or
// a bare "www." address.
bool IsLink(std::u16string_view file) {
  if (file.size() > 4 && ce::EqualNoCase(file.substr(0, 4), u"www.")) return true;
  size_t colon = file.find(u':');
  if (colon == std::u16string_view::npos || colon < 2) return false;
  for (char16_t c : file.substr(0, colon)) {
    const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'+' ||
                    c == u'-' || c == u'.';
    if (!ok) return false;
  }
  return true;
}

bool IsProgram(std::u16string_view file) {
  return file.size() > 4 && ce::EqualNoCase(file.substr(file.size() - 4), u".exe");
}

constexpr intptr_t kShellNoAssociation = 31;

BOOL Done(LPSHELLEXECUTEINFOW info, DWORD error) {
  // The shell's own numbers: above 32 success, else the error when it is
  // that small, else "no association".
  const intptr_t code = error == 0 ? kShellSuccess : error < 32 ? static_cast<intptr_t>(error) : kShellNoAssociation;
  info->hInstApp = reinterpret_cast<HINSTANCE>(code);
  if (error == 0) return TRUE;
  SetLastError(error);
  return FALSE;
}

}  // namespace

BOOL ShellExecuteEx(LPSHELLEXECUTEINFOW info) {
  if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->hProcess = nullptr;
  if (info->lpFile == nullptr || *info->lpFile == 0) return Done(info, ERROR_INVALID_PARAMETER);
  if (info->lpVerb != nullptr && *info->lpVerb != 0 && !ce::EqualNoCase(info->lpVerb, u"open")) {
    return Done(info, ERROR_NO_ASSOCIATION);
  }
  const std::u16string_view file(info->lpFile);
  if (IsLink(file)) {
    if (!ce::AddScreenLogEntry(u"open", file)) return Done(info, ERROR_NOT_READY);
    return Done(info, 0);
  }
  if (!IsProgram(file)) return Done(info, ERROR_NO_ASSOCIATION);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(info->lpFile, info->lpParameters, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
    return Done(info, GetLastError());
  }
  CloseHandle(pi.hThread);
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
    info->hProcess = pi.hProcess;
  } else {
    CloseHandle(pi.hProcess);
  }
  return Done(info, 0);
}
