// QuilmoInit: runs at boot from the HKLM "init" launch list and carries out
// the boot-time actions queued under the reboot-actions key: registry values,
// file copies, the system hive replacement and the user hive copy. Then it
// removes its own launch entry, signals its launch number and, when it
// changed something the running system holds, resets the device once more.
//
// Command line: the launch number N (decimal); anything else gives N = 0,
// which touches no launch entry. Log: "\QuilmoInitLog.txt", made afresh on
// every run (narrow text, line ends written as CR LF like a text-mode file):
// each copy made ("Copied <source> to <target>") and every failure.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ce/boot.h"
#include "ce/codepage.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/power.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/time.h"
#include "formats/RebootActionsFormat.h"

namespace {

constexpr const WCHAR* kLogPath = u"\\QuilmoInitLog.txt";
constexpr DWORD kPathBytes = 520;  // 260 UTF-16 characters
constexpr DWORD kDependBytes = 200;
constexpr DWORD kCopyChunk = 32768;
constexpr DWORD kResetWaitMs = 5000;

HANDLE g_log = INVALID_HANDLE_VALUE;
bool g_resetNeeded = false;

// --- log ----------------------------------------------------------------

void OpenLog() {
  g_log = CreateFileW(kLogPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseLog() {
  if (g_log == INVALID_HANDLE_VALUE) return;
  CloseHandle(g_log);
  g_log = INVALID_HANDLE_VALUE;
}

std::string Narrow(const WCHAR* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// Writes one formatted line; "\n" becomes CR LF. Keeps the caller's last error.
template <typename... Args>
void LogLine(const char* format, Args... args) {
  if (g_log == INVALID_HANDLE_VALUE) return;
  DWORD saved = GetLastError();
  char buf[1200];
  int n = std::snprintf(buf, sizeof buf, format, args...);
  if (n > 0) {
    std::string text;
    for (int i = 0; i < n && i < static_cast<int>(sizeof buf) - 1; ++i) {
      if (buf[i] == '\n') text += '\r';
      text += buf[i];
    }
    DWORD written = 0;
    // A log that cannot be written must not stop the boot's work.
    WriteFile(g_log, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  SetLastError(saved);
}

// --- small registry helpers ---------------------------------------------

std::u16string Numbered(const WCHAR* prefix, unsigned n) { return prefix + ce::FromUtf8(std::to_string(n)); }

// Registry changes whose failure is logged and passed over: the boot goes
// on whatever the registry refuses.
void DeleteValueOrLog(HKEY key, const WCHAR* name) {
  LONG rc = RegDeleteValueW(key, name);
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
    LogLine("RegDeleteValue %s failed: %u\n", Narrow(name).c_str(), static_cast<unsigned>(rc));
}

void SetValueOrLog(HKEY key, const WCHAR* name, DWORD type, const BYTE* data, DWORD size) {
  LONG rc = RegSetValueExW(key, name, 0, type, data, size);
  if (rc != ERROR_SUCCESS)
    LogLine("RegSetValue %s failed: %u\n", Narrow(name).c_str(), static_cast<unsigned>(rc));
}

// Reads a REG_SZ of at most 520 bytes; false when missing.
bool ReadPath(HKEY key, const WCHAR* name, WCHAR (&out)[kPathBytes / 2]) {
  DWORD size = kPathBytes;
  DWORD type = 0;
  out[0] = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &size) != ERROR_SUCCESS) return false;
  out[kPathBytes / 2 - 1] = 0;
  if (size / 2 < kPathBytes / 2) out[size / 2] = 0;
  return true;
}

bool ReadDword(HKEY key, const WCHAR* name, DWORD* out) {
  DWORD size = sizeof(DWORD);
  return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &size) == ERROR_SUCCESS &&
         size == sizeof(DWORD);
}

// --- registry-value actions ---------------------------------------------

HKEY RootOfCode(DWORD code) {
  switch (code) {
    case RebootActionsKey::kRootKeyLocalMachine: return HKEY_LOCAL_MACHINE;
    case RebootActionsKey::kRootKeyUsers: return HKEY_USERS;
    case RebootActionsKey::kRootKeyCurrentUser: return HKEY_CURRENT_USER;
    case RebootActionsKey::kRootKeyClassesRoot: return HKEY_CLASSES_ROOT;
    default: return nullptr;
  }
}

bool SetRegValueAction(HKEY action) {
  DWORD rootCode = 0;
  WCHAR keyName[kPathBytes / 2];
  WCHAR valueName[kPathBytes / 2];
  if (!ReadDword(action, RebootActionsKey::kRootKey, &rootCode) ||
      !ReadPath(action, RebootActionsKey::kKeyName, keyName) ||
      !ReadPath(action, RebootActionsKey::kValueName, valueName))
    return false;
  DWORD size = 0;
  if (RegQueryValueExW(action, RebootActionsKey::kData, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
    return false;
  std::vector<BYTE> data(size);
  DWORD type = 0;
  if (RegQueryValueExW(action, RebootActionsKey::kData, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
    return false;
  HKEY root = RootOfCode(rootCode);
  if (!root) return false;
  HKEY target = nullptr;
  if (RegOpenKeyExW(root, keyName, 0, KEY_SET_VALUE, &target) != ERROR_SUCCESS) return false;
  LONG rc = RegSetValueExW(target, valueName, 0, type, data.data(), size);
  RegCloseKey(target);
  return rc == ERROR_SUCCESS;
}

void ProcessRegistryValueKey(HKEY action) {
  if (!SetRegValueAction(action)) LogLine("ProcessRegistryValueKey failed\n");
}

// --- copy-file actions --------------------------------------------------

bool CopyFileContents(HANDLE from, HANDLE to) {
  if (SetFilePointer(to, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(to)) {
    LogLine("SetEndOfFile failed: %u\n", static_cast<unsigned>(GetLastError()));
    return false;
  }
  std::vector<BYTE> chunk(kCopyChunk);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(from, chunk.data(), kCopyChunk, &got, nullptr)) {
      LogLine("ReadFile failed: %u\n", static_cast<unsigned>(GetLastError()));
      return false;
    }
    if (got == 0) return true;
    DWORD written = 0;
    if (!WriteFile(to, chunk.data(), got, &written, nullptr) || written != got) {
      LogLine("WriteFile failed: %u\n", static_cast<unsigned>(GetLastError()));
      return false;
    }
  }
}

bool CopyFileWithTimes(const WCHAR* source, const WCHAR* target, DWORD attributes) {
  HANDLE from = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (from == INVALID_HANDLE_VALUE) {
    LogLine("CreateFile %s failed: %u\n", Narrow(source).c_str(), static_cast<unsigned>(GetLastError()));
    return false;
  }
  HANDLE to = CreateFileW(target, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, attributes, nullptr);
  if (to == INVALID_HANDLE_VALUE) {
    LogLine("CreateFile %s failed: %u\n", Narrow(target).c_str(), static_cast<unsigned>(GetLastError()));
    DWORD err = GetLastError();
    CloseHandle(from);
    SetLastError(err);
    return false;
  }
  bool ok = CopyFileContents(from, to);
  if (ok) {
    FILETIME created{}, accessed{}, written{};
    if (!GetFileTime(from, &created, &accessed, &written)) {
      LogLine("GetFileTime %s failed: %u\n", Narrow(source).c_str(), static_cast<unsigned>(GetLastError()));
      ok = false;
    } else if (!SetFileTime(to, &created, &accessed, &written)) {
      LogLine("SetFileTime %s failed: %u\n", Narrow(target).c_str(), static_cast<unsigned>(GetLastError()));
      ok = false;
    }
  }
  DWORD err = GetLastError();
  CloseHandle(from);
  if (!CloseHandle(to) && ok) {
    ok = false;
    err = GetLastError();
  }
  SetLastError(err);
  return ok;
}

void CopyOrLog(const WCHAR* source, const WCHAR* target, DWORD attributes, bool* copied) {
  *copied = CopyFileWithTimes(source, target, attributes);
  if (*copied)
    LogLine("Copied %s to %s\n", Narrow(source).c_str(), Narrow(target).c_str());
  else
    LogLine("Copy File(%s,%s) failed: %u\n", Narrow(source).c_str(), Narrow(target).c_str(),
            static_cast<unsigned>(GetLastError()));
}

void ProcessCopyFileKey(HKEY action) {
  DWORD operation = 0, attributes = 0;
  WCHAR actual[kPathBytes / 2];
  WCHAR backup[kPathBytes / 2];
  if (!ReadDword(action, RebootActionsKey::kOperation, &operation) ||
      !ReadPath(action, RebootActionsKey::kActualPath, actual) ||
      !ReadPath(action, RebootActionsKey::kBackupPath, backup) ||
      !ReadDword(action, RebootActionsKey::kAttributes, &attributes))
    return;
  bool copied = false;
  if (operation == RebootActionsKey::kOperationBackupCopy) {
    CopyOrLog(actual, backup, attributes, &copied);
  } else if (operation == RebootActionsKey::kOperationRestoreCopy) {
    g_resetNeeded = true;
    CopyOrLog(backup, actual, attributes, &copied);
    // The backup holds the only copy of the restored content: it goes only
    // once it is in place. One left behind is only a file: its action key
    // is gone.
    if (copied) DeleteFileW(backup);
  }
}

// Runs every "<prefix><k>" subkey from k = 0 until the first missing one and
// deletes each after it ran.
void RunActionKeys(const WCHAR* prefix, void (*process)(HKEY)) {
  for (unsigned k = 0;; ++k) {
    std::u16string path = std::u16string(RebootActionsKey::kPath) + u"\\" + Numbered(prefix, k);
    HKEY action = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &action) != ERROR_SUCCESS) return;
    process(action);
    RegCloseKey(action);
    LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
    // An action key that stays is carried out again at the next boot.
    if (rc != ERROR_SUCCESS)
      LogLine("RegDeleteKey %s failed: %u\n", Narrow(path.c_str()).c_str(), static_cast<unsigned>(rc));
  }
}

// --- hives --------------------------------------------------------------

// The current user's folder, ending in "\": "\<ProfileDir>\default\" from
// HKLM "init\BootVars", else the folder of the live user hive.
bool GetUserFolder(WCHAR (&out)[MAX_PATH]) {
  std::u16string folder;
  HKEY vars = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init\\BootVars", 0, KEY_READ, &vars) == ERROR_SUCCESS) {
    WCHAR dir[kPathBytes / 2];
    if (ReadPath(vars, u"ProfileDir", dir) && dir[0]) {
      folder = dir;
      if (folder.front() != u'\\') folder.insert(folder.begin(), u'\\');
      if (folder.back() != u'\\') folder += u'\\';
      folder += u"default\\";
    }
    RegCloseKey(vars);
  }
  if (folder.empty()) {
    std::u16string live(ce::kUserHivePath);
    folder = live.substr(0, live.rfind(u'\\') + 1);
  }
  if (folder.size() >= MAX_PATH) return false;
  folder.copy(out, folder.size());
  out[folder.size()] = 0;
  return true;
}

// Makes `to` hold exactly the keys and values of `from` (same types, bytes
// and order).
bool CopyTree(HKEY from, HKEY to) {
  DWORD maxName = 0, maxValueName = 0, maxData = 0;
  if (RegQueryInfoKeyW(from, nullptr, nullptr, nullptr, nullptr, &maxName, nullptr, nullptr, &maxValueName, &maxData,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<WCHAR> name(std::max(maxName, maxValueName) + 1);
  std::vector<BYTE> data(maxData + 1);
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size()), dataSize = static_cast<DWORD>(data.size()), type = 0;
    LONG rc = RegEnumValueW(from, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || RegSetValueExW(to, name.data(), 0, type, data.data(), dataSize) != ERROR_SUCCESS)
      return false;
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    LONG rc = RegEnumKeyExW(from, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return false;
    HKEY sub = nullptr, made = nullptr;
    if (RegOpenKeyExW(from, name.data(), 0, KEY_READ, &sub) != ERROR_SUCCESS) return false;
    bool ok =
        RegCreateKeyExW(to, name.data(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr) == ERROR_SUCCESS &&
        CopyTree(sub, made);
    RegCloseKey(sub);
    if (made) RegCloseKey(made);
    if (!ok) return false;
  }
  return true;
}

// Empties a root key of every subkey and value.
bool ClearKey(HKEY key) {
  WCHAR name[MAX_PATH + 1];
  for (;;) {
    DWORD size = MAX_PATH + 1;
    LONG rc = RegEnumKeyExW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || RegDeleteKeyW(key, name) != ERROR_SUCCESS) return false;
  }
  DWORD maxValueName = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxValueName, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<WCHAR> valueName(maxValueName + 1);
  for (;;) {
    DWORD size = static_cast<DWORD>(valueName.size());
    LONG rc = RegEnumValueW(key, 0, valueName.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS || RegDeleteValueW(key, valueName.data()) != ERROR_SUCCESS) return false;
  }
  return true;
}

// The system keeps the live user hive open, so a file copy over it is
// refused while the device runs; its content is replaced key by key then.
bool ReplaceLiveUserHive(const WCHAR* hiveFile) {
  HKEY source = nullptr;
  if (ce::RegOpenHiveFile(hiveFile, nullptr, &source) != ERROR_SUCCESS) return false;
  bool ok = ClearKey(HKEY_CURRENT_USER) && CopyTree(source, HKEY_CURRENT_USER);
  DWORD err = GetLastError();
  RegCloseKey(source);
  SetLastError(err);
  return ok;
}

void RestoreUserHive(HKEY actions) {
  WCHAR hkcuPath[kPathBytes / 2];
  if (!ReadPath(actions, RebootActionsKey::kHkcuPath, hkcuPath)) return;
  DeleteValueOrLog(actions, RebootActionsKey::kHkcuPath);
  WCHAR target[MAX_PATH];
  if (!GetUserFolder(target)) return;
  std::u16string userHive = std::u16string(target) + u"user.hv";
  if (userHive.size() >= MAX_PATH) return;
  BOOL copied = CopyFileW(hkcuPath, userHive.c_str(), FALSE);
  if (!copied && GetLastError() == ERROR_SHARING_VIOLATION && ce::EqualNoCase(userHive, ce::kUserHivePath))
    copied = ReplaceLiveUserHive(hkcuPath);
  if (copied) {
    // A saved hive left behind is only a file: no action refers to it now.
    DeleteFileW(hkcuPath);
  } else {
    LogLine("Copy File(%s,%s) failed: %u\n", Narrow(hkcuPath).c_str(), Narrow(userHive.c_str()).c_str(),
            static_cast<unsigned>(GetLastError()));
  }
  g_resetNeeded = true;
}

void ReplaceSystemHive(HKEY actions) {
  WCHAR hklmPath[kPathBytes / 2];
  if (!ReadPath(actions, RebootActionsKey::kHklmPath, hklmPath)) return;
  DeleteValueOrLog(actions, RebootActionsKey::kHklmPath);
  LONG rc = RegReplaceKeyW(HKEY_LOCAL_MACHINE, nullptr, hklmPath, nullptr);
  if (rc != ERROR_SUCCESS)
    LogLine("RegReplaceKey %s failed: %u\n", Narrow(hklmPath).c_str(), static_cast<unsigned>(rc));
  g_resetNeeded = true;
}

// --- launch entries -----------------------------------------------------

void RemoveInitLaunchEntries(HKEY init, int n) {
  DeleteValueOrLog(init, Numbered(InitLaunchEntries::kLaunchPrefix, static_cast<unsigned>(n)).c_str());
  DeleteValueOrLog(init, Numbered(InitLaunchEntries::kDependPrefix, static_cast<unsigned>(n)).c_str());
  for (int m = n + 1; m <= InitLaunchEntries::kLastNumber; ++m) {
    std::u16string name = Numbered(InitLaunchEntries::kDependPrefix, static_cast<unsigned>(m));
    BYTE data[kDependBytes];
    DWORD size = kDependBytes, type = 0;
    if (RegQueryValueExW(init, name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) continue;
    for (DWORD at = 0; at + 2 <= size; at += 2) {
      if (static_cast<int>(data[at] | (data[at + 1] << 8)) != n) continue;
      if (size < 4) {
        DeleteValueOrLog(init, name.c_str());
      } else {
        for (DWORD i = at; i + 2 < size; ++i) data[i] = data[i + 2];
        SetValueOrLog(init, name.c_str(), type, data, size - 2);
      }
      break;
    }
  }
}

void RemoveOwnLaunchEntry(int n) {
  HKEY init = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, InitLaunchEntries::kPath, 0, KEY_ALL_ACCESS, &init) != ERROR_SUCCESS) return;
  RemoveInitLaunchEntries(init, n);
  RegCloseKey(init);
}

// N from a command line holding exactly one decimal argument; else 0.
int LaunchNumber(const WCHAR* cmdLine) {
  std::string line = cmdLine ? ce::ToUtf8(cmdLine) : std::string();
  size_t begin = line.find_first_not_of(" \t");
  if (begin == std::string::npos) return 0;
  size_t end = line.find_first_of(" \t", begin);
  if (end != std::string::npos && line.find_first_not_of(" \t", end) != std::string::npos) return 0;
  std::string word = line.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
  int n = 0;
  for (char c : word) {
    if (c < '0' || c > '9') break;
    n = n * 10 + (c - '0');
    if (n > 0xFFFF) return 0;
  }
  return n;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  OpenLog();
  const int n = LaunchNumber(cmdLine);

  RunActionKeys(RebootActionsKey::kSetRegValuePrefix, &ProcessRegistryValueKey);
  RunActionKeys(RebootActionsKey::kCopyFilePrefix, &ProcessCopyFileKey);

  HKEY actions = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RebootActionsKey::kPath, 0, KEY_ALL_ACCESS, &actions) == ERROR_SUCCESS) {
    RestoreUserHive(actions);
    ReplaceSystemHive(actions);
    RegCloseKey(actions);
  }

  if (g_resetNeeded) {
    // The launch entry goes first: the boot after the reset runs without it.
    if (n > 0) RemoveOwnLaunchEntry(n);
    CloseLog();
    // Either call ends this boot; should both come back, the run finishes
    // as without a reset.
    SetSystemPowerState(nullptr, POWER_STATE_RESET, 0);
    Sleep(kResetWaitMs);
    KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
  }
  if (n > 0) {
    SignalStarted(static_cast<DWORD>(n));
    RemoveOwnLaunchEntry(n);
  }
  CloseLog();
  return 0;
}

CE_DEVICE_PROGRAM(WinMain)
