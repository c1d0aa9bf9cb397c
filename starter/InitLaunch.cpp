// The starter's own entry of the boot launch list (formats/RebootActionsFormat.h):
// taken out when the boot list started it.
#include <map>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "formats/RebootActionsFormat.h"
#include "starter/SmartStartFile.h"

namespace {

using Init = InitLaunchEntries;

struct LaunchEntry {
  std::u16string program;
  bool hasProgram = false;
  std::vector<WORD> waitsFor;
  bool hasDepend = false;
};

// The number after a prefix of the name ("Launch21" -> 21); 0 for none.
int NumberAfter(std::u16string_view name, std::u16string_view prefix) {
  if (name.size() <= prefix.size() || !ce::EqualNoCase(name.substr(0, prefix.size()), prefix)) return 0;
  int n = 0;
  for (char16_t c : name.substr(prefix.size())) {
    if (c < u'0' || c > u'9' || n > Init::kLastNumber) return 0;
    n = n * 10 + (c - u'0');
  }
  return n;
}

std::u16string Numbered(LPCWSTR prefix, int n) { return std::u16string(prefix) + ce::FromUtf8(std::to_string(n)); }

std::map<int, LaunchEntry> ReadEntries(HKEY init) {
  std::map<int, LaunchEntry> entries;
  for (DWORD i = 0;; ++i) {
    WCHAR name[Init::kNameChars] = {};
    BYTE data[Init::kDataBytes] = {};
    DWORD nameSize = Init::kNameChars, dataSize = Init::kDataBytes, type = 0;
    const LONG rc = RegEnumValueW(init, i, name, &nameSize, nullptr, &type, data, &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;  // a value too long for the buffers is none of the list's
    const std::u16string_view n(name, nameSize);
    if (int launch = NumberAfter(n, Init::kLaunchPrefix); launch > 0 && type == REG_SZ) {
      std::u16string text(reinterpret_cast<const char16_t*>(data), dataSize / 2);
      while (!text.empty() && text.back() == 0) text.pop_back();
      entries[launch].program = text;
      entries[launch].hasProgram = true;
    } else if (int depend = NumberAfter(n, Init::kDependPrefix); depend > 0 && type == REG_BINARY) {
      LaunchEntry& e = entries[depend];
      e.hasDepend = true;
      for (DWORD at = 0; at + 1 < dataSize; at += 2) e.waitsFor.push_back(static_cast<WORD>(data[at] | data[at + 1] << 8));
    }
  }
  return entries;
}

void WriteDepend(HKEY init, int n, const std::vector<WORD>& waitsFor) {
  std::vector<BYTE> bytes;
  for (WORD w : waitsFor) {
    bytes.push_back(static_cast<BYTE>(w & 0xFF));
    bytes.push_back(static_cast<BYTE>(w >> 8));
  }
  // A list that cannot be rewritten keeps waiting for a number that signals
  // at once (the boot takes a missing entry as done).
  RegSetValueExW(init, Numbered(Init::kDependPrefix, n).c_str(), 0, REG_BINARY, bytes.data(),
                 static_cast<DWORD>(bytes.size()));
}

}  // namespace

void RemoveInitLaunchEntry(const CString& ownPath) {
  HKEY init = nullptr;
  if (RegOpenKeyExW(Init::kRoot, Init::kPath, 0, 0, &init) != ERROR_SUCCESS) return;
  std::map<int, LaunchEntry> entries = ReadEntries(init);
  for (const auto& [n, entry] : entries) {
    if (!entry.hasProgram || !ce::EqualNoCase(entry.program, ownPath.str())) continue;
    for (auto& [m, other] : entries) {
      if (m == n || !other.hasDepend) continue;
      std::vector<WORD> kept;
      for (WORD w : other.waitsFor)
        if (w != n) kept.push_back(w);
      if (kept.size() == other.waitsFor.size()) continue;
      other.waitsFor = kept;
      WriteDepend(init, m, kept);
    }
    RegDeleteValueW(init, Numbered(Init::kDependPrefix, n).c_str());  // missing when it waited for none
    RegDeleteValueW(init, Numbered(Init::kLaunchPrefix, n).c_str());
  }
  RegCloseKey(init);
}
