// The option sets of backups that run without the user choosing options,
// each in a subkey of the product's "Settings" key (names in
// core/ProgramGlobals.h, UnattendedNames):
//   "Unattended"    scheduled backups
//   "NextSchedule"  the next schedule-file entry's set
//   "Merrow"        backups the battery program asks for
//   "CommandLine"   command-line backups
// each holding
//   dwUnattendedOptions   DWORD, the backup option bits (core/OptionHandlers.h)
//   csUnattendedFilename  string, the image path (read with at most 260 characters)
//   bScheduledReset       bool, reset the device after the backup
//   bRemoteMode           bool, back up to the desktop host
//   csInclusionList       string, the inclusion list file ("" = none)
// and, in the main program, the run that turns such a set into a backup.
// Every failure is logged as "AUnattendedBackup : " + text (class
// "AUnattendedBackup", error level).
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"

class AUnattendedBackup {
 public:
  // Option words of a command-line backup with no stored options.
  static constexpr DWORD kCommandLineOptions = 719;
  static constexpr DWORD kKioskCommandLineOptions = 715;

  AUnattendedBackup() = default;
  virtual ~AUnattendedBackup() = default;

  // The subkey in use; empty until one is chosen.
  void UseUnattendedKey();
  void UseNextScheduleKey();
  void UseMerrowKey();
  void UseCommandLineKey();
  CString GetKey() const { return m_Key; }

  // Command-line mode: what the main program's LocalBackup or RemoteBackup
  // asked for (the run sets it from the program's state). Then missing
  // values are no failure (options 719, or 715 in kiosk mode; no reset, no
  // remote mode) and the image path is imagePath's full path, not the
  // stored one. Off after construction.
  void SetCommandLineMode(bool commandLine, const CString& imagePath);
  bool IsCommandLineMode() const { return m_bCommandLine; }

  // Writes the five values in table order, stopping at the first failure;
  // an empty inclusionList is stored as "".
  bool StoreScheduledBackupOptions(DWORD options, const CString& fileName, bool reset, bool remote,
                                   const CString& inclusionList);
  // Reads them back. Outside command-line mode the options, file name,
  // reset and remote values must all be there; a missing inclusion list
  // reads as "" (none).
  bool RetrieveScheduledBackupOptions(DWORD& options, CString& fileName, bool& reset, bool& remote,
                                      CString& inclusionList);

  // Main program only (defined with it): prepares the program's global
  // state for an unattended backup from the chosen set (backup options,
  // image path, include flags, host mode and link, password, inclusion
  // list) and, unless the operation's reset has already happened, raises
  // the reboot controller's location to 2000, saves the state and resets
  // the device; the backup runs after the reset. False (logged) when the
  // preparation fails or the reset could not be made.
  bool Run();

 private:
  bool Fail(LPCWSTR text) const;

  CString m_Key;
  bool m_bCommandLine = false;
  CString m_CommandLineImagePath;
};
