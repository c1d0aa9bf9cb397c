// What one start of the starter program does: the action of its command
// line (StarterCommandLine.h), the waits for storage cards and paths, the
// start of the main program and of other programs, and the start entries
// found on the built-in storage after a hard reset. Registry values and
// texts: StarterFormat.h.
#pragma once

#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"
#include "starter/StarterCommandLine.h"

// The result of SmartStartFile::Run (not the exit code).
enum StarterRunResult : DWORD {
  kRunDone = 0,
  kRunNoAction = 3,
  kRunForceCheckFailed = 4,
  kRunScheduledStartFailed = 5,
  kRunWakeUpStampFailed = 6,
  kRunStartEntriesFailed = 7,
  kRunFailed = 8,
  kRunStartEntriesAfterHardResetFailed = 9,
};

// How the main program is started: the keyword it gets, and what a missing
// card means.
enum MainProgramStart : DWORD {
  kStartScheduled = 1,  // "ScheduledBackup"
  kStartMerrow = 2,     // "MerrowAutoBackup"
  kStartPlain = 3,      // no keyword
};

class SmartStartFile {
 public:
  // info may be null (nothing to do). It must outlive this object.
  explicit SmartStartFile(const CQuilmoStartCommandLineInfo* info) : m_pInfo(info) {}
  virtual ~SmartStartFile() = default;
  SmartStartFile(const SmartStartFile&) = delete;
  SmartStartFile& operator=(const SmartStartFile&) = delete;

  StarterRunResult Run();

  // Stamps "Merrow", waits ScheduleDelayStartup seconds, registers the next
  // force check and tells Merrow to check now.
  bool BatteryForceCheck();
  // Stamps "Unattended", reschedules, and starts the main program with
  // "ScheduledBackup" unless the start came too late (box 65300).
  bool ScheduledStart();
  // Starts the main program (type: MainProgramStart), from the card that
  // holds it when bQuilmoCard is set, else from csBackupEXEPath; a missing
  // card or program is waited for through the card prompt. False when it
  // did not start.
  bool StartMainProgram(DWORD type);
  // The card prompt until the card (cardMode: a card that holds the main
  // program, whose folder goes to *folder) or the path is there: true; false
  // when the user cancels, the prompt times out (box 65297) or another
  // starter takes over.
  bool WaitForCard(const CString& path, DWORD type, bool cardMode, CString* folder = nullptr);
  // Every 100 ms until every path exists, at most 60 s; true when all do.
  static bool WaitForPaths(const std::vector<CString>& paths);
  // Starts the "S" start entries in order; false at the first failure, or
  // when there is no built-in storage.
  bool RunStartEntries();
  // Starts the run switch's program with the argument string.
  bool RunProgram();
  // Lists the start entries of the first built-in storage folder that can
  // be walked.
  bool FindStartEntries();
  // Adds the start entries below folder (depth first); false when the
  // folder cannot be walked.
  bool FindExecutables(const CString& folder);
  // The first mounted card with a folder holding the main program.
  static bool FindMainProgramCard(CString& folder);
  // The first sub-folder of card that holds the main program.
  static bool FindMainProgramFolder(const CString& card, CString& folder);
  static void SetAutoStartType(DWORD type);

  // "S\Built-in Storage\QSE-S\x.exe": the kind letter, then the path.
  const std::vector<CString>& GetStartEntries() const { return m_StartEntries; }

 private:
  StarterRunResult RunAction(DWORD action);
  CString Arguments() const;

  const CQuilmoStartCommandLineInfo* m_pInfo;
  std::vector<CString> m_StartEntries;
  bool m_bTurnOff = false;  // switch the device off when the main program cannot start
};

// Removes the boot list's entries naming ownPath (ignoring case), and their
// number from the other entries' wait lists.
void RemoveInitLaunchEntry(const CString& ownPath);
