#include "standins/kit/StandinKit.h"

#include <cstdio>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "ce/time.h"

namespace standin {

std::string LocalTimeText() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  char buf[40];
  snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
           st.wSecond);
  return buf;
}

bool AppendToDeviceFile(const std::u16string& path, const std::string& text) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = SetFilePointer(h, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
            WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
  return CloseHandle(h) && ok;
}

std::optional<DWORD> ReadDword(const std::u16string& key, const std::u16string& name) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return std::nullopt;
  return value;
}

bool WriteDword(const std::u16string& key, const std::u16string& name, DWORD value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, 0, nullptr, &k, nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExW(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

std::u16string Unquoted(std::u16string_view commandLine) {
  std::u16string s(commandLine);
  auto strip = [&] {
    while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.erase(0, 1);
    while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.pop_back();
  };
  strip();
  if (s.size() >= 2 && s.front() == u'"' && s.back() == u'"') s = s.substr(1, s.size() - 2);
  strip();
  return s;
}

}  // namespace standin
