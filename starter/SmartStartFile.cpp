#include "starter/SmartStartFile.h"

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "core/DateTime.h"
#include "core/Localizer.h"
#include "core/ProductSettings.h"
#include "core/RegistrySettings.h"
#include "core/System.h"
#include "scheduling/MerrowIF.h"
#include "scheduling/Notify.h"
#include "scheduling/NotifyFormat.h"
#include "scheduling/UnattendedBackup.h"
#include "scheduling/WakeUpService.h"
#include "starter/CardPrompt.h"
#include "starter/StarterFormat.h"

namespace {

namespace fmt = StarterFormat;
namespace wn = WakeUpNames;

constexpr int64_t kSecondsPerMinute = 60;
constexpr DWORD kMsPerSecond = 1000;

const WCHAR kErrorCaption[] = u"Error";
const WCHAR kNoProgramPathText[] =
    u"Quilmo Backup could not be started: its path could not be read from the registry. Please start it manually.";
const WCHAR kCreateProcessFailedFormat[] =
    u"Error starting Quilmo Backup (create process) - please start manually  - Error code: %d";

DWORD ConfigSeconds(LPCWSTR name, DWORD defaultValue) {
  ABackupRegistrySettings config(kConfigKeyKind);
  DWORD value = defaultValue;
  config.GetDWORD(name, value, defaultValue);
  return value;
}

bool StartProcess(const CString& path, LPCWSTR commandLine) {
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// The start-entry folder name for a kind letter ("QSE-S" for 'S').
CString StartEntryFolder(WCHAR kind) {
  CString name;
  for (BYTE b : fmt::kStartEntryToken) name += static_cast<WCHAR>(b ^ fmt::kStartEntryTokenKey);
  name += kind;
  return name;
}

CString LastComponent(const CString& path) {
  const int slash = path.ReverseFind(u'\\');
  return slash < 0 ? path : path.Mid(slash + 1);
}

bool EndsWithNoCase(const CString& text, LPCWSTR suffix) {
  const CString s(suffix);
  return text.GetLength() >= s.GetLength() && text.Right(s.GetLength()).CompareNoCase(s) == 0;
}

bool IsDots(const WIN32_FIND_DATAW& fd) {
  return ce::EqualNoCase(fd.cFileName, u".") || ce::EqualNoCase(fd.cFileName, u"..");
}

}  // namespace

CString SmartStartFile::Arguments() const { return m_pInfo ? m_pInfo->m_Arguments : CString(); }

StarterRunResult SmartStartFile::Run() {
  ABackupRegistrySettings lissent(kSettingsKeyKind, fmt::kLissentKey);
  bool hardReset = true;
  lissent.GetBool(fmt::kHardReset, hardReset, true);
  // A value that cannot be written makes the next start run the entries again.
  if (hardReset) lissent.WriteBool(fmt::kHardReset, false);

  const DWORD action = m_pInfo ? m_pInfo->m_Action : kActionNone;
  StarterRunResult result = RunAction(action);
  if (hardReset && action != kActionStartup && !RunStartEntries()) result = kRunStartEntriesAfterHardResetFailed;
  return result;
}

StarterRunResult SmartStartFile::RunAction(DWORD action) {
  switch (action) {
    case kActionNone:
      return kRunNoAction;
    case kActionBatteryForceCheck:
      return BatteryForceCheck() ? kRunDone : kRunForceCheckFailed;
    case kActionScheduledBackup:
      return ScheduledStart() ? kRunDone : kRunScheduledStartFailed;
    case kActionAppRunAfterWakeup:
      return WriteStartTime(wn::kWakeUpServiceKey) ? kRunDone : kRunWakeUpStampFailed;
    case kActionStartup:
      return RunStartEntries() ? kRunDone : kRunStartEntriesFailed;
    case kActionRun:
      return RunProgram() ? kRunDone : kRunFailed;
    case kActionRunBackupApp: {
      WriteStartTime(wn::kUnattendedKey);  // without the stamp it is no wake-up start
      const bool merrow = !m_pInfo->m_ArgumentList.empty() &&
                          m_pInfo->m_ArgumentList.front().CompareNoCase(fmt::kMerrowAutoBackupWord) == 0;
      StartMainProgram(merrow ? kStartMerrow : kStartPlain);  // it tells the user itself
      return kRunDone;
    }
    default:
      return kRunDone;
  }
}

bool SmartStartFile::BatteryForceCheck() {
  WriteStartTime(wn::kMerrowKey);  // without the stamp it is no wake-up start
  Sleep(ConfigSeconds(fmt::kScheduleDelayStartup, fmt::kDefaultScheduleDelayStartup) * kMsPerSecond);
  AMerrowIF merrow;
  merrow.ScheduleForceCheck();  // logged; the check now still runs
  BroadcastRegisteredMessage(MerrowNames::kForceCheckMessage);
  return true;
}

bool SmartStartFile::ScheduledStart() {
  WriteStartTime(wn::kUnattendedKey);
  bool missed = false;
  ANotify schedule;
  if (schedule.LoadOptions() && schedule.IsEnabled()) {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    DWORD filter = fmt::kDefaultFilterMissedSchedules;
    settings.GetDWORD(fmt::kFilterMissedSchedules, filter, fmt::kDefaultFilterMissedSchedules);
    const ADateTime scheduled(schedule.GetValueObject().GetTime());
    missed = filter != 0 && System::GetLocalTimeNow() > scheduled + static_cast<int64_t>(filter) * kSecondsPerMinute;
    if (schedule.GetValueObject().GetFlags() == kPeriodScheduleFile) {
      AUnattendedBackup next, unattended;
      next.UseNextScheduleKey();
      unattended.UseUnattendedKey();
      DWORD options = 0;
      CString file, list;
      bool reset = false, remote = false;
      // Logged when it fails: the run then uses the options stored before.
      if (next.RetrieveScheduledBackupOptions(options, file, reset, remote, list))
        unattended.StoreScheduledBackupOptions(options, file, reset, remote, list);
    }
    schedule.Reschedule();  // logged when it fails
    if (missed) Localizer::ResMessageBox(fmt::kMissedScheduleString, MB_OK);
  }
  if (!missed) {
    Sleep(ConfigSeconds(fmt::kScheduleDelayStartup, fmt::kDefaultScheduleDelayStartup) * kMsPerSecond);
    StartMainProgram(kStartScheduled);
  }
  return true;
}

bool SmartStartFile::StartMainProgram(DWORD type) {
  m_bTurnOff = IsWakeUpStart(wn::kUnattendedKey) || IsWakeUpStart(wn::kMerrowKey);
  ABackupRegistrySettings settings(kSettingsKeyKind);
  bool onCard = false;
  settings.GetBool(fmt::kQuilmoCard, onCard, false);
  CString path;
  if (onCard) {
    CString folder;
    if (!FindMainProgramCard(folder)) {
      if (type == kStartScheduled) {
        if (m_bTurnOff) TurnDeviceOff();
        Localizer::ResMessageBox(fmt::kNoCardForScheduleString, MB_OK);
        return false;
      }
      if (!WaitForCard(CString(), type, true, &folder)) return false;
    }
    path = folder + u"\\" + GetApplicationEXEName();
  } else {
    ABackupRegistrySettings shared(kSharedKeyKind);
    if (!shared.ReadString(GetBackupEXEPathValueName(), path) || path.IsEmpty()) {
      MessageBoxW(nullptr, kNoProgramPathText, kErrorCaption, MB_OK | MB_ICONERROR);
      return false;
    }
    if (!WaitForCard(path, type, false)) return false;
  }

  LPCWSTR argument = type == kStartScheduled ? fmt::kScheduledBackupWord
                     : type == kStartMerrow  ? fmt::kMerrowAutoBackupWord
                                             : nullptr;
  WaitForPaths({path});  // CreateProcess tells when it is still missing
  if (!StartProcess(path, argument)) {
    CString text;
    text.Format(kCreateProcessFailedFormat, static_cast<int>(GetLastError()));
    MessageBoxW(nullptr, text, kErrorCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  return true;
}

bool SmartStartFile::WaitForCard(const CString& path, DWORD type, bool cardMode, CString* folder) {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);  // the progress bar class is built in: nothing to fail
  for (;;) {
    CString found;
    if (cardMode ? FindMainProgramCard(found) : System::FileExists(path)) {
      if (folder && cardMode) *folder = found;
      return true;
    }
    SetAutoStartType(type);
    switch (RunCardPrompt()) {
      case CardPromptOutcome::kRetry:
        continue;
      case CardPromptOutcome::kOtherInstance:
        return false;
      case CardPromptOutcome::kTimedOut:
        SetAutoStartType(0);
        if (m_bTurnOff) TurnDeviceOff();
        Localizer::ResMessageBox(fmt::kCardTimedOutString, MB_OK);
        return false;
      case CardPromptOutcome::kCancelled:
      case CardPromptOutcome::kNone:
        SetAutoStartType(0);
        return false;
    }
  }
}

bool SmartStartFile::WaitForPaths(const std::vector<CString>& paths) {
  if (paths.empty()) return true;
  const DWORD start = GetTickCount();
  for (;;) {
    bool all = true;
    for (const CString& p : paths) all = all && GetFileAttributesW(p) != INVALID_FILE_ATTRIBUTES;
    if (all) return true;
    // Unsigned: the count may wrap meanwhile.
    if (GetTickCount() - start >= fmt::kPathWaitMs) return false;
    Sleep(fmt::kPathPollMs);
  }
}

bool SmartStartFile::RunStartEntries() {
  if (!FindStartEntries()) return false;
  for (const CString& entry : m_StartEntries) {
    if (entry.IsEmpty() || entry[0] != fmt::kStartKind) continue;
    const CString path = entry.Mid(1);
    WaitForPaths({path});
    if (!StartProcess(path, Arguments())) return false;
  }
  return true;
}

bool SmartStartFile::RunProgram() {
  const CString program = m_pInfo ? m_pInfo->m_ProgramPath : CString();
  WaitForPaths({program});
  return StartProcess(program, Arguments());
}

bool SmartStartFile::FindStartEntries() {
  CString names[4];
  if (!System::GetBuiltInStorageName(names[0], names[1], names[2], names[3], false)) return false;
  for (const CString& name : names) {
    if (name.IsEmpty()) continue;
    m_StartEntries.clear();
    if (FindExecutables(name)) return true;
  }
  return false;
}

bool SmartStartFile::FindExecutables(const CString& folder) {
  WIN32_FIND_DATAW fd{};
  HANDLE find = FindFirstFileW(folder + u"\\*", &fd);
  if (find == INVALID_HANDLE_VALUE) return false;
  const CString folderName = LastComponent(folder);
  do {
    if (IsDots(fd)) continue;
    const CString path = folder + u"\\" + fd.cFileName;
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      FindExecutables(path);  // a sub-folder that cannot be walked adds nothing
      continue;
    }
    if (!EndsWithNoCase(fd.cFileName, fmt::kExecutableExtension)) continue;
    for (const WCHAR* kind = fmt::kStartKinds; *kind; ++kind)
      if (folderName.CompareNoCase(StartEntryFolder(*kind)) == 0) m_StartEntries.push_back(CString(*kind) + path);
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  return true;
}

bool SmartStartFile::FindMainProgramCard(CString& folder) {
  WIN32_FIND_DATAW fd{};
  HANDLE find = FindFirstFileW(u"\\*", &fd);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    const DWORD card = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
    if ((fd.dwFileAttributes & card) == card && !IsDots(fd))
      found = FindMainProgramFolder(CString(u"\\") + fd.cFileName, folder);
  } while (!found && FindNextFileW(find, &fd));
  FindClose(find);
  return found;
}

bool SmartStartFile::FindMainProgramFolder(const CString& card, CString& folder) {
  WIN32_FIND_DATAW fd{};
  HANDLE find = FindFirstFileW(card + u"\\*", &fd);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDots(fd)) continue;
    const CString sub = card + u"\\" + fd.cFileName;
    if (GetFileAttributesW(sub + u"\\" + fmt::kMainProgramFileName) != INVALID_FILE_ATTRIBUTES) {
      folder = sub;
      found = true;
    }
  } while (!found && FindNextFileW(find, &fd));
  FindClose(find);
  return found;
}

void SmartStartFile::SetAutoStartType(DWORD type) {
  ABackupRegistrySettings settings(kSettingsKeyKind);
  settings.WriteDWORD(fmt::kAutoStartType, type);  // only a hint for another start
}
