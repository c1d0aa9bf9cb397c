#include "engine/InitLaunch.h"

#include <algorithm>
#include <string_view>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "core/Log.h"
#include "engine/RebootActionsFormat.h"

namespace {

constexpr const WCHAR* kClass = u"RebootActions";
// Upper bounds when growing the enumeration buffers for an oversized value.
constexpr DWORD kMaxNameChars = 16384;
constexpr DWORD kMaxDataBytes = 1u << 20;

bool HasPrefixNoCase(std::u16string_view name, std::u16string_view prefix) {
  return name.size() >= prefix.size() && ce::EqualNoCase(name.substr(0, prefix.size()), prefix);
}

// The decimal number after the prefix, read as the C library reads an int
// (optional sign, digits up to the first other character); 0 when none.
int NumberAfter(std::u16string_view name, size_t prefixLength) {
  std::u16string_view rest = name.substr(prefixLength);
  size_t i = 0;
  bool negative = false;
  if (i < rest.size() && (rest[i] == u'+' || rest[i] == u'-')) negative = rest[i++] == u'-';
  long long value = 0;
  for (; i < rest.size() && rest[i] >= u'0' && rest[i] <= u'9'; ++i)
    value = std::min<long long>(value * 10 + (rest[i] - u'0'), 1000000);
  return static_cast<int>(negative ? -value : value);
}

std::vector<BYTE> DependBytes(const std::set<WORD>& numbers) {
  std::vector<BYTE> bytes;
  for (WORD n : numbers) {
    bytes.push_back(static_cast<BYTE>(n & 0xFF));
    bytes.push_back(static_cast<BYTE>(n >> 8));
  }
  return bytes;
}

LONG SetBinary(HKEY key, const CString& name, const std::vector<BYTE>& bytes) {
  static const BYTE kNone = 0;
  return RegSetValueExW(key, name, 0, REG_BINARY, bytes.empty() ? &kNone : bytes.data(),
                        static_cast<DWORD>(bytes.size()));
}

CString NumberedName(const WCHAR* format, int number) {
  CString name;
  name.Format(format, number);
  return name;
}

// Deletes a value that may be missing.
LONG DeleteIfPresent(HKEY key, const CString& name) {
  LONG rc = RegDeleteValueW(key, name);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

bool ReadInitKey(HKEY initKey, InitLaunchMap& entries) {
  std::vector<WCHAR> name(InitLaunchEntries::kNameChars);
  std::vector<BYTE> data(InitLaunchEntries::kDataBytes);
  for (DWORD index = 0;;) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG rc = RegEnumValueW(initKey, index, name.data(), &nameSize, nullptr, &type, data.data(),
                            &dataSize);
    if (rc == ERROR_MORE_DATA && name.size() < kMaxNameChars && data.size() < kMaxDataBytes) {
      // A value of another program that does not fit: read it again.
      name.resize(std::min<DWORD>(kMaxNameChars, std::max<size_t>(name.size() * 2, nameSize + 1)));
      data.resize(std::min<DWORD>(kMaxDataBytes, std::max<size_t>(data.size() * 2, dataSize)));
      continue;
    }
    if (rc == ERROR_NO_MORE_ITEMS) return true;
    if (rc != ERROR_SUCCESS) {
      LogError(static_cast<DWORD>(rc), u"Couldn't enumerate init key.", kClass, __LINE__);
      return false;
    }
    ++index;
    std::u16string_view valueName(name.data(), std::min<size_t>(nameSize, name.size()));
    std::u16string_view launch(InitLaunchEntries::kLaunchPrefix);
    std::u16string_view depend(InitLaunchEntries::kDependPrefix);
    if (type == REG_SZ && HasPrefixNoCase(valueName, launch)) {
      int n = NumberAfter(valueName, launch.size());
      if (n <= 0) continue;
      std::u16string text(reinterpret_cast<const char16_t*>(data.data()), dataSize / 2);
      text.resize(std::min(text.size(), text.find(u'\0')));
      entries[n].program = std::move(text);
    } else if (type == REG_BINARY && HasPrefixNoCase(valueName, depend)) {
      int n = NumberAfter(valueName, depend.size());
      if (n <= 0) continue;
      InitLaunchEntry& entry = entries[n];
      entry.hasDepend = true;
      for (DWORD i = 0; i + 1 < dataSize; i += 2)
        entry.waitsFor.insert(static_cast<WORD>(data[i] | (data[i + 1] << 8)));
    }
  }
}

bool SetupInitLaunch(const CString& program, const std::vector<CString>& afterNames,
                     bool makeLaterWait, int* launchNumber) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(InitLaunchEntries::kRoot, InitLaunchEntries::kPath, 0, KEY_ALL_ACCESS, &key);
  if (rc != ERROR_SUCCESS) {
    LogError(static_cast<DWORD>(rc), u"Couldn't open init key.", kClass, __LINE__);
    return false;
  }
  auto fail = [&](LONG code, const WCHAR* text) {
    LogError(static_cast<DWORD>(code), text, kClass, __LINE__);
    RegCloseKey(key);
    return false;
  };

  InitLaunchMap entries;
  if (!ReadInitKey(key, entries)) {
    RegCloseKey(key);
    return false;
  }

  // Entries that waited for something as read: the ones later made to wait.
  std::set<int> waiting;
  for (const auto& [n, entry] : entries)
    if (!entry.waitsFor.empty()) waiting.insert(n);

  // An earlier entry of the same program (a second setup, or one the
  // program never removed) goes: two copies would run side by side.
  std::set<int> changed;
  for (auto it = entries.begin(); it != entries.end();) {
    if (it->second.program.empty() || !ce::EqualNoCase(it->second.program, program.view())) {
      ++it;
      continue;
    }
    int old = it->first;
    rc = DeleteIfPresent(key, NumberedName(InitLaunchEntries::kLaunchFormat, old));
    if (rc == ERROR_SUCCESS) rc = DeleteIfPresent(key, NumberedName(InitLaunchEntries::kDependFormat, old));
    if (rc != ERROR_SUCCESS) return fail(rc, u"Couldn't remove old init launch entry.");
    for (auto& [m, entry] : entries)
      if (m != old && old <= 0xFFFF && entry.waitsFor.erase(static_cast<WORD>(old))) changed.insert(m);
    changed.erase(old);
    it = entries.erase(it);
  }

  // The new entry follows every entry named in afterNames.
  std::set<WORD> waitList;
  int floor = 0;
  for (const auto& [n, entry] : entries) {
    for (const CString& after : afterNames) {
      if (ce::EqualNoCase(entry.program, after.view())) {
        if (n <= 0xFFFF) waitList.insert(static_cast<WORD>(n));
        floor = n;
        break;
      }
    }
  }

  int number = 0;
  for (int candidate = floor + 1; floor < InitLaunchEntries::kLastNumber &&
                                  candidate <= InitLaunchEntries::kLastNumber;
       ++candidate) {
    if (!entries.count(candidate)) {
      number = candidate;
      break;
    }
  }
  if (number == 0) return fail(0, u"No gap in init key entries.");

  const std::u16string& text = program.str();
  rc = RegSetValueExW(key, NumberedName(InitLaunchEntries::kLaunchFormat, number), 0, REG_SZ,
                      reinterpret_cast<const BYTE*>(text.c_str()),
                      static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
  if (rc != ERROR_SUCCESS) return fail(rc, u"Set of our init launch value failed.");
  rc = SetBinary(key, NumberedName(InitLaunchEntries::kDependFormat, number), DependBytes(waitList));
  if (rc != ERROR_SUCCESS) return fail(rc, u"Set of our init depend value failed.");

  for (auto& [m, entry] : entries) {
    bool wait = makeLaterWait && m > number && waiting.count(m) > 0;
    if (wait) entry.waitsFor.insert(static_cast<WORD>(number));
    if (!wait && !changed.count(m)) continue;
    rc = SetBinary(key, NumberedName(InitLaunchEntries::kDependFormat, m), DependBytes(entry.waitsFor));
    if (rc != ERROR_SUCCESS) return fail(rc, u"Set other init depend value failed.");
  }

  RegCloseKey(key);
  // The entry counts only once it survives the reset.
  if ((rc = RegFlushKey(HKEY_LOCAL_MACHINE)) != ERROR_SUCCESS) {
    LogError(static_cast<DWORD>(rc), u"Flush of the init key failed.", kClass, __LINE__);
    return false;
  }
  if (launchNumber) *launchNumber = number;
  return true;
}
