// The wake-up entry: the starter program is registered for the platform's
// wake-up event, so that every wake-up stamps its time under
// "WakeUpService" (NotifyFormat.h, WakeUpNames); a scheduled start stamps
// its own time under its key, and two stamps close together tell a start
// the device was woken for: the starter then switches the device off again
// when it cannot go on. Log class "AWakeUpServiceIF".
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"

class AWakeUpServiceIF {
 public:
  // Logs the starter's path.
  AWakeUpServiceIF();
  virtual ~AWakeUpServiceIF() = default;

  // Registers the starter's "AppRunAfterWakeup" entry for event 11 (earlier
  // ones removed first). False when the registration fails.
  bool Schedule();
  // Removes the starter's timed "BatteryForceCheck" (forceCheck) or
  // "ScheduledBackup" entries and, when the scheduled backup is off and
  // (forceCheck or the battery program is off), the wake-up entry. True.
  bool UnSchedule(bool forceCheck);

  const CString& GetStarterPath() const { return m_StarterPath; }
  const CString& GetUpdateShortcutPath() const { return m_UpdateShortcutPath; }

 private:
  CString m_StarterPath;
  CString m_UpdateShortcutPath;
};

// The starter's side of the stamps (subkey: WakeUpNames::kWakeUpServiceKey,
// kUnattendedKey or kMerrowKey).
// Writes the current local time as the subkey's stamp.
bool WriteStartTime(LPCWSTR subkey);
// Whether the subkey's stamp lies less than dwWakeUpDelta seconds after
// the wake-up stamp (signed: an older one counts too); false when either
// stamp is missing.
bool IsWakeUpStart(LPCWSTR subkey);
// Waits 5 s, then presses the power key (down and up).
void TurnDeviceOff();
