// Arranges for the post-boot popup program "Halvey.exe" to run once at the
// next start: its message goes into "\temp\popupMessage.txt" (UTF-16
// without byte-order mark or NUL) and a Startup-folder shortcut
// "Halvey.lnk" runs it through the starter program with the command line
//   "<message file>" "<history folder>\BackupReport.txt"[ /restore][ /turnOff]
// The popup reads and deletes the message file and removes the shortcut.
// Failures here are ordinary log entries, never items of the task report.
#pragma once

#include "ce/cstring.h"

class AHalveyIF {
public:
  static constexpr const WCHAR *kProgram = u"Halvey.exe";
  static constexpr const WCHAR *kShortcutName = u"\\Halvey.lnk";
  static constexpr const WCHAR *kMessageFile = u"\\temp\\popupMessage.txt";

  // The shortcut path: the Startup folder + "\Halvey.lnk".
  AHalveyIF();
  virtual ~AHalveyIF();

  // Replaces any old shortcut, writes the message file and creates the
  // shortcut; the result is the shortcut's. A message file that cannot be
  // written leaves the popup without a message (logged), nothing more.
  bool Launch(const CString &message, bool restore, bool turnOff);
  bool ShortcutExists() const;
  bool DeleteShortcut();

  const CString &ShortcutPath() const { return m_csShortcutPath; }

  // The popup's command line for a report in historyFolder.
  static CString HalveyCommandLine(const CString &historyFolder, bool restore,
                                   bool turnOff);

private:
  CString m_csShortcutPath;
};
