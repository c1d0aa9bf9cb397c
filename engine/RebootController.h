// Carrying one operation across a device reset.
//
// Before the reset the controller writes, in the reboot folder (program
// folder + "\Reboot"): the operation state ("\Persist.dat", PersistedState
// below, and the working index "\Persist.idx"), the user's Startup files
// moved to "\WStartUp", and last the resume location ("\Location.txt",
// "%d\n"); the shortcut "\DeployRB.lnk" in the Startup folder starts the
// program again. The location file is written last and is the commit mark:
// a start that finds no valid location file resumes nothing, whatever else
// an interrupted preparation left. Every start puts the Startup files back
// and removes the reboot folder, the reboot key and the shortcut.
// Log lines carry the class "RebootController".
#pragma once

#include <functional>

#include "ce/cstring.h"
#include "ce/types.h"

class AGlobal;

// The stored operation state: 2420 bytes, little-endian, no header.
namespace persistfmt {
inline constexpr size_t kOverrideOffset = 0;        // u8: apply the option word
inline constexpr size_t kOptionWordOffset = 4;      // u32: backup options 0..10
inline constexpr size_t kPasswordOffset = 8;        // 16 characters, NUL included
inline constexpr size_t kPasswordChars = 16;
inline constexpr size_t kEncryptOffset = 40;        // u8
inline constexpr size_t kPasswordCheckOffset = 44;  // u32 crc32 of the password
inline constexpr size_t kUnattendedOffset = 48;     // u8
inline constexpr size_t kCmdBackupOffset = 49;      // u8
inline constexpr size_t kCmdRestoreOffset = 50;     // u8
inline constexpr size_t kRemoteOffset = 51;         // u8
inline constexpr size_t kOperationOffset = 52;      // engine/OperationFormat.h block
inline constexpr size_t kStoredSize = 2420;
}  // namespace persistfmt

// The stored record and what it is captured from and applied to.
class PersistantData {
 public:
  // Captures the current globals.
  PersistantData();

  // Globals (GetGlobal()) -> record, and back. A password longer than 15
  // characters and texts longer than their fields are cut.
  void CaptureState();
  void ApplyState();
  void CaptureState(const AGlobal& g);
  void ApplyState(AGlobal& g) const;

  // Writes folder + "\Persist.dat" and the working index to folder +
  // "\Persist.idx". False when either cannot be written whole.
  [[nodiscard]] bool Save(const CString& folder);
  // Reads both back; false (with a log line) at the first failure. The
  // record is taken only when read whole.
  [[nodiscard]] bool Load(const CString& folder);
  static bool Exists(const CString& folder);

 private:
  BYTE record[persistfmt::kStoredSize] = {};
};

class RebootController {
 public:
  static constexpr int kOperationLocation = 2000;  // the pre-operation reset
  static constexpr const WCHAR* kShortcutName = u"\\DeployRB.lnk";
  static constexpr const WCHAR* kRebootKey = u"Software\\Quilmo Software\\Quilmo Backup\\Reboot";

  // The single controller; the first call runs the start-up work.
  static RebootController& Instance();

  // The start-up work: reads the location, starts the log afresh (location
  // 0) or carries it on, then CleanUp. Tests build their own to model a
  // start of the program.
  RebootController();
  RebootController(const RebootController&) = delete;
  RebootController& operator=(const RebootController&) = delete;

  bool HasPassedLocation(int value) const { return m_Location > value; }
  void AdvanceLocation(int value) { if (value > m_Location) m_Location = value; }
  int GetLocation() const { return m_Location; }
  bool IsLoaded() const { return m_bLoaded; }

  void SaveState() { m_Data.CaptureState(); }
  void RestorePersistedState() { m_Data.ApplyState(); }

  // Prepares the resume and resets the device; returns (false) only when
  // the preparation failed (after CleanUp) or the reset could not be made.
  [[nodiscard]] bool RequestReboot(bool moveStartupEntries);

  // The steps, in order; each must succeed before the next.
  [[nodiscard]] bool PrepareReboot(int newLocation, bool moveStartupEntries);
  void CleanUp();

  int ReadLocation();
  [[nodiscard]] bool WriteLocation(int value);
  [[nodiscard]] bool CreateRebootFolder();
  [[nodiscard]] bool MoveStartupEntriesAside();
  void RestoreStartupEntries();
  [[nodiscard]] bool CreateResumeShortcut();
  void DeleteResumeShortcut();
  [[nodiscard]] bool SavePersistedState();
  void LoadPersistedState();
  void DiscardCopiesOfVoidOperation();
  void DeleteFolderTree(const CString& folder);

  // Tests: called after each finished step of PrepareReboot (1 folder, 2
  // Startup moved, 3 shortcut, 4 state, 5 location); a test ends the
  // process there to model a reset in between.
  static void SetStepHookForTest(std::function<void(int step)> hook);
  // Tests: the location as a start of the program would have read it.
  void SetLocationForTest(int value) { m_Location = value; }

 private:
  bool m_bLoaded = false;
  bool m_bResumePending = false;  // a valid location file was read at start
  PersistantData m_Data;
  int m_Location = 0;
  CString m_ProgramPath;
  CString m_ProgramFolder;
  CString m_RebootFolder;
  CString m_StartupFolder;
  CString m_RebootKeyPath;
};

// The reset at the end of an operation's first half or after boot-time
// actions were queued.
class RebootSequence {
 public:
  static RebootSequence& Instance();
  // Closes the host connection, writes the boot-time actions, saves the
  // state and prepares the resume when asked, then resets the device.
  // Returns (false) only when no reset was made: the boot-time actions or
  // the resume could not be written (the Startup folder is back as it
  // was), or the device did not reset. The caller reports the operation
  // as failed.
  [[nodiscard]] bool ShutdownAndReboot(bool saveState, bool moveStartupEntries);
};
