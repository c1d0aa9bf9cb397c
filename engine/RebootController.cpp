#include "engine/RebootController.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/module.h"
#include "ce/registry.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "core/DeviceServices.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "core/System.h"
#include "engine/DatabaseVolumes.h"
#include "engine/Global.h"
#include "engine/OperationFormat.h"
#include "engine/RebootActions.h"
#include "hostlink/HostConnection.h"
#include "image/ImageFile.h"

namespace {

constexpr const WCHAR* kClass = u"RebootController";
constexpr const WCHAR* kDataClass = u"PersistantData";
constexpr const WCHAR* kStateFile = u"\\Persist.dat";
constexpr const WCHAR* kIndexFile = u"\\Persist.idx";
constexpr const WCHAR* kLocationFile = u"\\Location.txt";
constexpr const WCHAR* kStartupAside = u"\\WStartUp";
constexpr DWORD kLocationReadMax = 80;

std::function<void(int)>& StepHook() {
  static std::function<void(int)> hook;
  return hook;
}

void StepDone(int step) {
  if (StepHook()) StepHook()(step);
}

std::function<void(int)>& CleanUpHook() {
  static std::function<void(int)> hook;
  return hook;
}

void CleanUpStepDone(int step) {
  if (CleanUpHook()) CleanUpHook()(step);
}

// Little-endian fields of the in-memory record.
void Put16(BYTE* at, uint16_t v) { at[0] = BYTE(v); at[1] = BYTE(v >> 8); }
void Put32(BYTE* at, uint32_t v) { Put16(at, uint16_t(v)); Put16(at + 2, uint16_t(v >> 16)); }
uint16_t Get16(const BYTE* at) { return uint16_t(at[0] | (at[1] << 8)); }
uint32_t Get32(const BYTE* at) { return Get16(at) | (uint32_t(Get16(at + 2)) << 16); }

CString ErrorText(DWORD code) { return CString(ce::SystemErrorText(code).c_str()); }

void PutText(BYTE* field, size_t chars, const CString& text) {
  std::memset(field, 0, chars * 2);
  size_t n = std::min<size_t>(static_cast<size_t>(text.GetLength()), chars - 1);
  for (size_t i = 0; i < n; ++i) Put16(field + 2 * i, static_cast<uint16_t>(text[static_cast<int>(i)]));
}

CString GetText(const BYTE* field, size_t chars) {
  std::u16string text;
  for (size_t i = 0; i < chars; ++i) {
    char16_t c = static_cast<char16_t>(Get16(field + 2 * i));
    if (c == 0) break;
    text.push_back(c);
  }
  return CString(text.c_str());
}

bool IsDots(const WIN32_FIND_DATAW& fd) {
  const WCHAR* n = fd.cFileName;
  return n[0] == u'.' && (n[1] == 0 || (n[1] == u'.' && n[2] == 0));
}

}  // namespace

// PersistantData ------------------------------------------------------------

PersistantData::PersistantData() { CaptureState(); }

void PersistantData::CaptureState() { CaptureState(GetGlobal()); }
void PersistantData::ApplyState() { ApplyState(GetGlobal()); }

void PersistantData::CaptureState(const AGlobal& g) {
  using namespace persistfmt;
  std::memset(record, 0, sizeof record);
  record[kOverrideOffset] = 1;
  Put32(record + kOptionWordOffset, g.g_BackupOptions.PackOptions());
  PutText(record + kPasswordOffset, kPasswordChars, g.g_csTaskPassword);
  record[kEncryptOffset] = g.g_bEncrypt ? 1 : 0;
  Put32(record + kPasswordCheckOffset, g.g_dwPasswordCheck);
  record[kUnattendedOffset] = g.g_bUnattended ? 1 : 0;
  record[kCmdBackupOffset] = g.g_bCommandLineBackup ? 1 : 0;
  record[kCmdRestoreOffset] = g.g_bCommandLineRestore ? 1 : 0;
  record[kRemoteOffset] = g.g_bRemote ? 1 : 0;
  std::string op;
  StoreOperationDescriptor(g.g_Operation, &op);
  std::memcpy(record + kOperationOffset, op.data(), std::min(op.size(), opfmt::kStoredSize));
}

void PersistantData::ApplyState(AGlobal& g) const {
  using namespace persistfmt;
  if (record[kOverrideOffset]) g.g_BackupOptions.UnpackOptions(Get32(record + kOptionWordOffset));
  g.g_csTaskPassword = GetText(record + kPasswordOffset, kPasswordChars);
  g.g_bEncrypt = record[kEncryptOffset] != 0;
  g.g_dwPasswordCheck = Get32(record + kPasswordCheckOffset);
  g.g_bUnattended = record[kUnattendedOffset] != 0;
  g.g_bCommandLineBackup = record[kCmdBackupOffset] != 0;
  g.g_bCommandLineRestore = record[kCmdRestoreOffset] != 0;
  g.g_bRemote = record[kRemoteOffset] != 0;
  std::string_view bytes(reinterpret_cast<const char*>(record), sizeof record);
  LoadOperationDescriptor(bytes, kOperationOffset, &g.g_Operation);
}

bool PersistantData::Exists(const CString& folder) {
  return GetFileAttributesW((folder + kStateFile)) != INVALID_FILE_ATTRIBUTES;
}

bool PersistantData::Save(const CString& folder) {
  Log(0, u"PersistantData:Save()", kDataClass, __LINE__);
  CString path = folder + kStateFile;
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    LogWarning(GetLastError(), u"PersistantData couldn't open output file.", kDataClass, __LINE__);
    return false;
  }
  DWORD written = 0;
  bool whole = WriteFile(h, record, sizeof record, &written, nullptr) && written == sizeof record;
  DWORD error = GetLastError();
  CloseHandle(h);
  if (!whole) {
    LogWarning(error, CString(u"PersistantData couldn't write to output file - ") + ErrorText(error), kDataClass,
               __LINE__);
    return false;
  }
  AImageFile image(folder + kIndexFile, AImageFile::kBackup);
  DWORD length = 0;
  bool stored = image.Open() && GetGlobal().g_WorkingIndex.Store(image, false, &length);
  // Closed in either case; a close that fails loses the buffered tail.
  if (!image.Close()) stored = false;
  if (!stored) {
    // Without the index the operation cannot go on after the reset.
    LogError(0, u"Persistant data : Error Saving index", kDataClass, __LINE__);
    return false;
  }
  return true;
}

bool PersistantData::Load(const CString& folder) {
  CString path = folder + kStateFile;
  HANDLE h = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    LogWarning(GetLastError(), u"PersistantData couldn't open input file.", kDataClass, __LINE__);
    return false;
  }
  BYTE buffer[persistfmt::kStoredSize];
  DWORD read = 0;
  bool ok = ReadFile(h, buffer, sizeof buffer, &read, nullptr) != FALSE;
  DWORD error = ok ? ERROR_HANDLE_EOF : GetLastError();
  CloseHandle(h);
  if (!ok || read != sizeof buffer) {
    // A short record is never taken: it would resume with part of a state.
    LogWarning(error, CString(u"PersistantData couldn't read from input file - ") + ErrorText(error), kDataClass,
               __LINE__);
    return false;
  }
  std::memcpy(record, buffer, sizeof record);
  AImageFile image(folder + kIndexFile, AImageFile::kRestore);
  if (!image.Open()) {
    LogWarning(GetLastError(), u"Error opening index file", kDataClass, __LINE__);
    return false;
  }
  Index& index = GetGlobal().g_WorkingIndex;
  index.Clear();
  bool loaded = index.Load(image, false);
  static_cast<void>(image.Close());  // only read: a failing close loses nothing
  if (!loaded) {
    LogError(0, u"Persistant data : Error loading index", kDataClass, __LINE__);
    return false;
  }
  return true;
}

// RebootController ----------------------------------------------------------

RebootController& RebootController::Instance() {
  static RebootController* controller = new RebootController();
  return *controller;
}

void RebootController::SetStepHookForTest(std::function<void(int)> hook) { StepHook() = std::move(hook); }
void RebootController::SetCleanUpHookForTest(std::function<void(int)> hook) { CleanUpHook() = std::move(hook); }

RebootController::RebootController() {
  m_bLoaded = false;
  m_Location = 0;

  WCHAR buffer[MAX_PATH + 1] = {};
  if (GetModuleFileNameW(nullptr, buffer, MAX_PATH + 1) == 0) {
    LogWarning(GetLastError(), u"RebootController GetModuleFileName failed.", kClass, __LINE__);
  } else {
    m_ProgramPath = buffer;
    int slash = m_ProgramPath.ReverseFind(u'\\');
    m_ProgramFolder = slash >= 0 ? m_ProgramPath.Left(slash) : CString();
  }
  m_RebootFolder = m_ProgramFolder + u"\\Reboot";
  WCHAR startup[MAX_PATH + 1] = {};
  if (!SHGetSpecialFolderPath(nullptr, startup, CSIDL_STARTUP, FALSE))
    LogWarning(GetLastError(), u"RebootController SHGetSpecialFolderPath failed.", kClass, __LINE__);
  else
    m_StartupFolder = startup;
  m_RebootKeyPath = kRebootKey;

  m_Location = ReadLocation();
  m_bResumePending = m_Location > 0;
  GetLog().Flush(m_Location == 0);
  if (m_Location > 0) Log(m_Location, u"Reboot complete to ", kClass, __LINE__);
  CleanUp();
}

int RebootController::ReadLocation() {
  CString path = m_RebootFolder + kLocationFile;
  HANDLE h = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      LogWarning(error, u"RebootController couldn't open location file.", kClass, __LINE__);
    return 0;
  }
  char text[kLocationReadMax + 1] = {};
  DWORD read = 0;
  bool ok = ReadFile(h, text, kLocationReadMax, &read, nullptr) != FALSE;
  DWORD error = GetLastError();
  CloseHandle(h);
  if (!ok) {
    LogWarning(error, CString(u"RebootController couldn't read location file - ") + ErrorText(error), kClass,
               __LINE__);
    return 0;
  }
  // Digits (an optional sign) and the line feed: a torn write is no location.
  char* end = nullptr;
  long value = read > 0 ? std::strtol(text, &end, 10) : -1;
  if (read == 0 || end == text || *end != '\n' || value < 0 || value > 0x7FFFFFFF) {
    LogWarning(0, u"RebootController bad location file", kClass, __LINE__);
    return 0;
  }
  return static_cast<int>(value);
}

bool RebootController::WriteLocation(int value) {
  CString path = m_RebootFolder + kLocationFile;
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    LogWarning(GetLastError(), u"RebootController couldn't create location file.", kClass, __LINE__);
    return false;
  }
  char text[32];
  int length = std::snprintf(text, sizeof text, "%d\n", value);
  DWORD written = 0;
  bool whole = WriteFile(h, text, static_cast<DWORD>(length), &written, nullptr) && written == DWORD(length);
  DWORD error = whole ? ERROR_SUCCESS : GetLastError();
  if (!CloseHandle(h) && whole) {
    whole = false;
    error = GetLastError();
  }
  if (!whole) {
    // The location file is the commit mark of the reset: without it whole,
    // the reset must not happen.
    LogWarning(error, CString(u"RebootController couldn't write to location file - ") + ErrorText(error), kClass,
               __LINE__);
    return false;
  }
  return true;
}

bool RebootController::CreateRebootFolder() {
  if (!CreateDirectoryW(m_RebootFolder, nullptr)) {
    LogWarning(GetLastError(), u"RebootController couldn't create backup directory.", kClass, __LINE__);
    return false;
  }
  return true;
}

bool RebootController::MoveStartupEntriesAside() {
  CString aside = m_RebootFolder + kStartupAside;
  if (!CreateDirectoryW(aside, nullptr)) {
    LogWarning(GetLastError(), u"RebootController create startup backup dir failed.", kClass, __LINE__);
    return false;
  }
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(m_StartupFolder + u"\\*", &fd);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return true;
    LogWarning(error, u"RebootController find first in startup dir failed.", kClass, __LINE__);
    return false;
  }
  bool ok = true;
  do {
    if (IsDots(fd) || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    CString name = CString(u"\\") + fd.cFileName;
    if (name.CompareNoCase(kShortcutName) == 0) continue;  // made just before: it stays
    if (!MoveFileW(m_StartupFolder + name, aside + name)) {
      LogWarning(GetLastError(), u"RebootController startup entry backup move failed.", kClass, __LINE__);
      ok = false;
      break;
    }
  } while (FindNextFileW(find, &fd));
  if (ok && GetLastError() != ERROR_NO_MORE_FILES) {
    LogWarning(GetLastError(), u"RebootController find next in startup dir failed.", kClass, __LINE__);
    ok = false;
  }
  FindClose(find);
  return ok;
}

void RebootController::RestoreStartupEntries() {
  CString aside = m_RebootFolder + kStartupAside;
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(aside + u"\\*", &fd);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_PATH_NOT_FOUND && error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND)
      LogWarning(error, u"RebootController find first in startup backup dir failed.", kClass, __LINE__);
    return;
  }
  do {
    if (IsDots(fd) || (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    CString name = CString(u"\\") + fd.cFileName;
    if (!MoveFileW(aside + name, m_StartupFolder + name)) {
      DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        LogWarning(error, u"RebootController startup entry restore move failed.", kClass, __LINE__);
    }
    SetLastError(ERROR_SUCCESS);
  } while (FindNextFileW(find, &fd));
  DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES && error != ERROR_PATH_NOT_FOUND)
    LogWarning(error, u"RebootController find next in startup backup dir failed.", kClass, __LINE__);
  FindClose(find);
}

bool RebootController::CreateResumeShortcut() {
  return System::CreateQuilmoStartupShortcut(m_StartupFolder + kShortcutName, m_ProgramPath, nullptr, true);
}

void RebootController::DeleteResumeShortcut() {
  if (!DeleteFileW(m_StartupFolder + kShortcutName)) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      LogWarning(error, u"RebootController delete shortcut failed.", kClass, __LINE__);
  }
}

bool RebootController::SavePersistedState() {
  static constexpr struct {
    const WCHAR* name;
    const WCHAR* failure;
  } kKeys[] = {
      {u"Software\\Quilmo Software", u"RebootController couldn't create quilmo registry key."},
      {u"Quilmo Backup", u"RebootController couldn't create backup registry key."},
      {u"Reboot", u"RebootController couldn't create reboot registry key."},
  };
  HKEY parent = HKEY_LOCAL_MACHINE;
  HKEY opened[3] = {};
  bool ok = true;
  for (int i = 0; i < 3; ++i) {
    DWORD disposition = 0;
    LONG rc = RegCreateKeyExW(parent, kKeys[i].name, 0, nullptr, 0, 0, nullptr, &opened[i], &disposition);
    if (rc != ERROR_SUCCESS) {
      LogWarning(static_cast<DWORD>(rc), kKeys[i].failure, kClass, __LINE__);
      ok = false;
      break;
    }
    parent = opened[i];
  }
  if (ok && !m_Data.Save(m_RebootFolder)) {
    LogWarning(GetLastError(), u"RebootController couldn't write to options file - " +
                                   ErrorText(GetLastError()), kClass, __LINE__);
    ok = false;
  }
  for (HKEY key : opened)
    if (key) RegCloseKey(key);
  return ok;
}

void RebootController::LoadPersistedState() {
  if (!PersistantData::Exists(m_RebootFolder)) {
    if (m_bResumePending) {
      LogError(0, u"RebootController found no saved state; the operation is not resumed.", kClass, __LINE__);
      m_Location = 0;
      m_bResumePending = false;
    }
    return;
  }
  if (!m_bResumePending) {
    // No location file: the preparation did not finish; its state is void.
    Log(0, u"RebootController ignored the state of an unfinished reboot preparation.", kClass, __LINE__);
    DiscardCopiesOfVoidOperation();
    return;
  }
  Log(0, CString(u"Load options from ") + m_RebootFolder, kClass, __LINE__);
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_RebootKeyPath, 0, 0, &key) != ERROR_SUCCESS)
    Log(0, u"RebootController couldn't open reboot key", kClass, __LINE__);
  else
    RegCloseKey(key);
  if (m_Data.Load(m_RebootFolder)) {
    m_bLoaded = true;
  } else {
    LogError(0, u"RebootController read from reboot options file failed; the operation is not resumed.", kClass,
             __LINE__);
    m_Location = 0;
  }
  m_bResumePending = false;
}

// The boot-time copies that the void operation's reset made are read by no
// task: they go, found through the saved selection. Its boot actions were
// backup copies only (a restore's copies are queued after its task).
void RebootController::DiscardCopiesOfVoidOperation() {
  AImageFile image(m_RebootFolder + kIndexFile, AImageFile::kRestore);
  if (!image.Open()) return;  // no selection saved: nothing known to discard
  Index selection;
  const bool loaded = selection.Load(image, false);
  static_cast<void>(image.Close());  // only read: a failing close loses nothing
  if (loaded) DiscardVolumeBootCopies(selection);
}

void RebootController::DeleteFolderTree(const CString& folder) {
  WIN32_FIND_DATAW fd;
  HANDLE find = FindFirstFileW(folder + u"\\*", &fd);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_NO_MORE_FILES)
      LogWarning(error, CString(u"RebootController find first in ") + folder + u" failed.", kClass, __LINE__);
  } else {
    do {
      if (IsDots(fd)) continue;
      CString path = folder + u"\\" + fd.cFileName;
      constexpr DWORD kProtect = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
      if ((fd.dwFileAttributes & kProtect) && !SetFileAttributesW(path, fd.dwFileAttributes & ~kProtect))
        LogWarning(GetLastError(), CString(u"RebootController set attributes for ") + path + u" failed.", kClass,
                   __LINE__);
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteFolderTree(path);
      else if (!DeleteFileW(path))
        LogWarning(GetLastError(), CString(u"RebootController delete of ") + path + u" failed.", kClass, __LINE__);
      SetLastError(ERROR_SUCCESS);
    } while (FindNextFileW(find, &fd));
    if (GetLastError() != ERROR_NO_MORE_FILES)
      LogWarning(GetLastError(), CString(u"RebootController find next in ") + folder + u" failed.", kClass,
                 __LINE__);
    FindClose(find);
  }
  if (!RemoveDirectoryW(folder)) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      LogWarning(error, CString(u"RebootController remove of ") + folder + u" failed.", kClass, __LINE__);
  }
}

void RebootController::CleanUp() {
  LoadPersistedState();
  // The commit mark goes first: a reset during the rest leaves only what a
  // start ignores and clears, never an operation that a later start, of
  // any kind, would resume. The shortcut goes only once the Startup files
  // are back: until then the next boot starts the program, which finishes
  // the clean-up.
  DeleteLocation();
  CleanUpStepDone(1);
  RestoreStartupEntries();
  CleanUpStepDone(2);
  DeleteResumeShortcut();
  CleanUpStepDone(3);
  // A key left behind holds no values: the next start tries again.
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_RebootKeyPath);
  CleanUpStepDone(4);
  DeleteFolderTree(m_RebootFolder);
  CleanUpStepDone(5);
}

void RebootController::DeleteLocation() {
  const CString path = m_RebootFolder + kLocationFile;
  if (!DeleteFileW(path)) {
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      LogWarning(error, CString(u"RebootController delete of ") + path + u" failed.", kClass, __LINE__);
  }
}

bool RebootController::PrepareReboot(int newLocation, bool moveStartupEntries) {
  if (!CreateRebootFolder()) return false;
  StepDone(1);
  // The shortcut comes before the Startup files go aside: a reset in
  // between finds it, and the start it makes puts them back.
  if (!CreateResumeShortcut()) return false;
  StepDone(2);
  if (moveStartupEntries && !MoveStartupEntriesAside()) return false;
  StepDone(3);
  if (!SavePersistedState()) return false;
  StepDone(4);
  if (!WriteLocation(newLocation)) return false;
  StepDone(5);
  return true;
}

bool RebootController::RequestReboot(bool moveStartupEntries) {
  Log(static_cast<DWORD>(m_Location), u"Requested reboot to location ", kClass, __LINE__);
  if (m_ProgramPath.IsEmpty()) {
    LogWarning(0, u"RebootController couldn't get exe name", kClass, __LINE__);
    return false;
  }
  if (!PrepareReboot(m_Location + 1, moveStartupEntries)) {
    // Nothing of the half-made preparation may survive into the next start.
    m_bResumePending = false;
    CleanUp();
    return false;
  }
  Log(0, u"Rebooting...", kClass, __LINE__);
  AGlobal& g = GetGlobal();
  bool atOnce = GetKioskModeEnabled() && m_Location == kOperationLocation &&
                g.g_Operation.operationKind == kOperationRestore;
  if (atOnce)
    RebootDevice(false, false, false);
  else
    RebootDevice(true, true, true);
  // Still here: the device did not reset.
  return false;
}

// RebootSequence ------------------------------------------------------------

RebootSequence& RebootSequence::Instance() {
  static RebootSequence sequence;
  return sequence;
}

bool RebootSequence::ShutdownAndReboot(bool saveState, bool moveStartupEntries) {
  AHostConnection::CloseProcessConnection();
  if (!RebootActions::Instance().Apply()) {
    LogError(0, u"The boot-time actions could not be written; the device is not reset", kClass, __LINE__);
    return false;
  }
  if (saveState) {
    RebootController& controller = RebootController::Instance();
    controller.SaveState();
    // Returns only when the resume could not be prepared or the device did
    // not reset: without the resume the operation must not be cut short.
    return controller.RequestReboot(moveStartupEntries);
  }
  RebootDevice(true, true, true);
  return false;
}
