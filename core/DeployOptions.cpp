#include "core/DeployOptions.h"

#include <memory>

#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/wstring.h"
#include "core/DeployOptionsFormat.h"
#include "core/Log.h"

namespace {

constexpr const WCHAR* kClass = u"ADeployOptions";
constexpr const WCHAR* kWhiteSpace = u" \t\r\n\v\f";

bool IsLineEnd(char16_t c) { return c == u'\r' || c == u'\n'; }

std::u16string_view TrimView(std::u16string_view text) {
  const std::u16string_view space(kWhiteSpace);
  const size_t first = text.find_first_not_of(space);
  if (first == std::u16string_view::npos) return {};
  const size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

bool Is(const CString& text, LPCWSTR word) { return text.CompareNoCase(word) == 0; }

CString WithLineFeeds(CString text) {
  text.Replace(deploy::kEscapedLineFeed, u"\n");
  return text;
}

// The kiosk configuration key, created when missing; null (error in *error)
// when it cannot be opened.
HKEY OpenKioskKey(LONG* error) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  *error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, deploy::KioskConfigKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           &key, &disposition);
  return *error == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

std::vector<DeployOptionEntry> ReadDeployOptionEntries(std::u16string_view text) {
  std::vector<DeployOptionEntry> entries;
  const std::u16string_view all = TrimView(text);
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = pos;
    while (end < all.size() && !IsLineEnd(all[end])) ++end;
    const std::u16string_view line = all.substr(pos, end - pos);
    // The next entry starts after the line's CR LF (or its lone CR or LF).
    size_t next = end;
    if (next < all.size() && all[next] == u'\r') ++next;
    if (next < all.size() && all[next] == u'\n') ++next;
    if (line.substr(0, 2) != std::u16string_view(deploy::kCommentStart)) {
      const size_t eq = line.find(u'=');
      if (eq == std::u16string_view::npos) break;
      entries.push_back({CString(TrimView(line.substr(0, eq))), CString(TrimView(line.substr(eq + 1)))});
    }
    pos = next;
  }
  return entries;
}

ADeployOptions::ADeployOptions() = default;

ADeployOptions::ADeployOptions(LPCWSTR path) {
  Log(0, u"Deploy Options Found", kClass, __LINE__);
  std::string bytes;
  bool tooLarge = false;
  if (!ReadFileBytes(path, bytes, tooLarge)) {
    if (tooLarge) EndProgram();
    return;
  }
  if (!Apply(bytes)) EndProgram();
}

ADeployOptions::~ADeployOptions() = default;

bool ADeployOptions::ReadFileBytes(LPCWSTR path, std::string& bytes, bool& tooLarge) {
  tooLarge = false;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE) {
    CloseHandle(file);
    return false;
  }
  if (size > deploy::kMaxFileBytes) {
    CloseHandle(file);
    CString text;
    text.Format(u"Options File %s - Size (%d) too large (>32KB)", path, static_cast<int>(size));
    Log(0, text, kClass, __LINE__);
    tooLarge = true;
    return false;
  }
  bytes.assign(size, '\0');
  DWORD got = 0;
  const bool read = size == 0 || ReadFile(file, bytes.data(), size, &got, nullptr);
  CloseHandle(file);  // opened for reading only: nothing to lose when closing fails
  if (!read) return false;
  bytes.resize(got);
  return true;
}

bool ADeployOptions::Apply(std::string_view bytes) {
  if (bytes.size() > deploy::kMaxFileBytes) {
    CString text;
    text.Format(u"Options File %s - Size (%d) too large (>32KB)", deploy::kFileName, static_cast<int>(bytes.size()));
    Log(0, text, kClass, __LINE__);
    return false;
  }
  if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) == deploy::kUnicodeMarkByte) {
    Log(0, u"Options File is Unicode - plain text is expected", kClass, __LINE__);
    return false;
  }
  for (const DeployOptionEntry& entry : ReadDeployOptionEntries(ce::FromAnsi(bytes)))
    if (!ApplyEntry(entry)) return false;
  return true;
}

bool ADeployOptions::ApplyFlag(const CString& value, LPCWSTR valueName, bool& flag, LPCWSTR badValueText) {
  if (Is(value, deploy::kWordTrue)) {
    flag = true;
  } else if (Is(value, deploy::kWordFalse)) {
    flag = false;
  } else {
    Log(0, badValueText, kClass, __LINE__);
    return false;
  }
  WriteStringRegValue(valueName, flag ? deploy::kValueTrue : deploy::kValueFalse);
  return true;
}

bool ADeployOptions::ApplyEntry(const DeployOptionEntry& entry) {
  const CString& key = entry.key;
  const CString& value = entry.value;
  // A failed registry write is logged by WriteStringRegValue; the file's
  // other options still apply.
  if (Is(key, deploy::kKeyAutorun))
    return ApplyFlag(value, deploy::kValueAutorun, m_bAutorun, u"Unknown AutoRun value in deploy options file");
  if (Is(key, deploy::kKeyAutoreset))
    return ApplyFlag(value, deploy::kValueAutoreset, m_bAutoreset,
                     u"Unknown AutoReset value in deploy options file");
  if (Is(key, deploy::kKeyUseMarkerFile))
    return ApplyFlag(value, deploy::kValueUseMarkerFile, m_bUseMarkerFile,
                     u"Unknown UseMarkerFile value in deploy options file");
  if (Is(key, deploy::kKeyConfirmText)) {
    m_bDefaultConfirmText = Is(value, deploy::kWordDefault);
    WriteStringRegValue(deploy::kValueConfirmText, m_bDefaultConfirmText ? deploy::kValueTrue : deploy::kValueFalse);
  } else if (Is(key, deploy::kKeySuccessText)) {
    m_bDefaultSuccessText = Is(value, deploy::kWordDefault);
    m_csSuccessText = m_bDefaultSuccessText ? CString() : WithLineFeeds(value);
    WriteStringRegValue(deploy::kValueDefaultSuccess,
                        m_bDefaultSuccessText ? deploy::kValueTrue : deploy::kValueFalse);
  } else if (Is(key, deploy::kKeyBackupFileName)) {
    // A device path: its backslashes separate folders, so "\n" is the start
    // of a name ("\Storage Card\new.pbf"), never a line feed.
    WriteStringRegValue(deploy::kValueBackupFileName, value);
  } else if (Is(key, deploy::kKeyKioskPassword)) {
    WriteStringRegValue(deploy::kValueLogin, WithLineFeeds(value));
  } else if (Is(key, deploy::kKeyHoursBetween)) {
    m_nHoursBetween = _wtoi(value);
    WriteStringRegValue(deploy::kValueHoursBetween, value);
    if (m_nHoursBetween == 0) Log(0, u"Not using demo mode hours", kClass, __LINE__);
  } else if (Is(key, deploy::kKeyMinutesBetween)) {
    m_nMinutesBetween = _wtoi(value);
    WriteStringRegValue(deploy::kValueMinutesBetween, value);
    if (m_nMinutesBetween == 0) Log(0, u"Not using demo mode minutes", kClass, __LINE__);
  } else if (Is(key, deploy::kKeyKioskDemoApp)) {
    m_csKioskDemoApp = value;
    Log(0, u"Kiosk App to exclude found", kClass, __LINE__);
  } else {
    Log(0, u"Unknown option", kClass, __LINE__);
  }
  return true;
}

bool ADeployOptions::ReadStringRegValue(LPCWSTR name, CString& text) {
  text.Empty();
  LONG error = ERROR_SUCCESS;
  HKEY key = OpenKioskKey(&error);
  if (key) {
    WCHAR buffer[deploy::kMaxValueChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = deploy::kMaxValueChars * sizeof(WCHAR);
    error = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (error == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) error = ERROR_INVALID_DATA;
    if (error == ERROR_SUCCESS) {
      std::u16string_view stored(buffer, bytes / sizeof(WCHAR));
      text = CString(stored.substr(0, stored.find(u'\0')));
      Log(0, u"ReadStringRegValue", kClass, __LINE__);
      return true;
    }
  }
  Log(static_cast<DWORD>(error), CString(name) + u" cant read", kClass, __LINE__);
  return false;
}

bool ADeployOptions::WriteStringRegValue(LPCWSTR name, LPCWSTR text) {
  LONG error = ERROR_SUCCESS;
  HKEY key = OpenKioskKey(&error);
  if (!key) {
    Log(static_cast<DWORD>(error), u"cant open " + CString(name) + u" key from the registry", kClass, __LINE__);
    return false;
  }
  const CString value(text);
  const DWORD bytes = static_cast<DWORD>((value.GetLength() + 1) * sizeof(WCHAR));
  error = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.GetString()), bytes);
  RegCloseKey(key);
  if (error != ERROR_SUCCESS) {
    Log(static_cast<DWORD>(error), u"cant write " + CString(name), kClass, __LINE__);
    return false;
  }
  Log(0, u"writen " + CString(name), kClass, __LINE__);
  return true;
}

bool ADeployOptions::GetBoolOption(LPCWSTR name) {
  CString text;
  const bool isTrue = ReadStringRegValue(name, text) && text.Left(4).CompareNoCase(deploy::kValueTrue) == 0;
  Log(0, CString(name) + (isTrue ? u" in registry found to be true" : u" in registry found to be false"), kClass,
      __LINE__);
  return isTrue;
}

int ADeployOptions::GetNumberOption(LPCWSTR name) {
  CString text;
  if (!ReadStringRegValue(name, text)) return -1;
  return _wtoi(text);
}

bool ADeployOptions::GetAutorun() { return GetBoolOption(deploy::kValueAutorun); }

CString ADeployOptions::GetLogin() {
  CString text;
  ReadStringRegValue(deploy::kValueLogin, text);  // empty when missing, as logged
  return text;
}

CString ADeployOptions::GetBackupFileName() {
  CString text;
  ReadStringRegValue(deploy::kValueBackupFileName, text);  // empty when missing, as logged
  return text;
}

int ADeployOptions::GetHoursBetween() { return GetNumberOption(deploy::kValueHoursBetween); }

int ADeployOptions::GetMinutesBetween() { return GetNumberOption(deploy::kValueMinutesBetween); }

void ADeployOptions::EndProgram() {
  ALog& log = GetLog();
  if (log.IsBuffering()) log.Flush(false);
  log.Close();
  ExitProcess(kBadFileExitCode);
}
