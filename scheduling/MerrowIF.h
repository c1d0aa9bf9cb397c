// The battery program Merrow ("\Windows\Merrow.exe", outside this product):
// its settings in the shared "Merrow" key (NotifyFormat.h, MerrowNames),
// starting it (always through the starter) and keeping its Startup
// shortcut, the periodic force check, and telling a running Merrow about
// changes through broadcast registered messages. Every failure of the
// feature switches it off again (Disable) and tells the user by a box.
// Log class "AMerrowIF".
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"

class AMerrowIF {
 public:
  AMerrowIF();
  virtual ~AMerrowIF() = default;

  static CString GetStartupFolder();
  bool IsMerrowRunning();

  // The threshold (30 when it cannot be read).
  DWORD GetThreshold();
  bool SetThreshold(DWORD value);
  // Merrow may ask for backups (false when it cannot be read).
  bool GetAutoBackup();
  // Sets this object's flag, then the stored value.
  bool SetAutoBackup(bool value);
  bool SetEnabled(bool value);

  // CheckConsistency, then whether the Startup shortcut exists.
  bool IsEnabled();
  // Merrow running without its shortcut, or the other way round, switches
  // the feature off; false only when that fails.
  bool CheckConsistency();

  // Starts Merrow when it does not run, makes its Startup shortcut when
  // missing, and schedules the auto backup's checks.
  bool Enable();
  // Tells a running Merrow to quit, deletes the shortcut and removes the
  // force-check entries (and the wake-up entry when nothing needs it).
  bool Disable();
  // With this object's auto-backup flag: the next force check and the
  // wake-up entry; without it: removes them.
  bool DoAutoBackupScheduling();
  // The starter's "BatteryForceCheck" entry, dwMinutesToWaitBeforeForceCheck
  // minutes (at least 2, default 60) from now, replacing earlier ones.
  bool ScheduleForceCheck();
  // Tells a running Merrow to reread its settings, then reschedules.
  bool SignalUpdateSettings();

  const CString& GetShortcutPath() const { return m_ShortcutPath; }
  const CString& GetProgramPath() const { return m_ProgramPath; }

 private:
  // Disables the feature and shows the box of stringId; false.
  bool FailFeature(DWORD stringId);

  bool m_bAutoBackup = false;
  CString m_ShortcutPath;
  CString m_ProgramPath;
};

// Posts the registered message `name` to every top-level window (wParam 0,
// lParam 0); false when it cannot be posted.
bool BroadcastRegisteredMessage(LPCWSTR name);
