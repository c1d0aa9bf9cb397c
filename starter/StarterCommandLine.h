// The starter's command line: its own splitter and what each argument
// means (StarterFormat.h names them).
//
// Splitting: blanks and tabs separate, runs of them too. An argument that
// begins with a double quote runs to the next double quote and then on to
// the next blank or tab; one leading and one trailing double quote are
// removed. The splitter holds at most StarterFormat::kCommandLineChars - 1
// characters of the line: the rest is not seen.
//
// Meaning: an argument beginning with "-" or "/" is a switch named by the
// rest (compared ignoring case); any other is a word (exact case).
//   runbackupapp       action 6
//   run PROGRAM        action 5, the next argument is the program to run
//   args ...           every later argument goes to the argument string:
//                      a switch as ` "/name"`, a word as ` "word"`
//   startup            action 4
//   scard=FOLDER       a folder to wait for
//   BatteryForceCheck  the device is powered on, action 1
//   ScheduledBackup    the device is powered on, action 2
//   AppRunAfterWakeup  action 3
// Anything else, or a switch (or the end of the line) where run still
// expects its program, makes the parameters invalid.
#pragma once

#include <vector>

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/App.h"

enum StarterActionCode : DWORD {
  kActionNone = 0,
  kActionBatteryForceCheck = 1,
  kActionScheduledBackup = 2,
  kActionAppRunAfterWakeup = 3,
  kActionStartup = 4,
  kActionRun = 5,
  kActionRunBackupApp = 6,
};

class CQuilmoStartCommandLineInfo : public CCommandLineInfo {
 public:
  // param: the argument, without the "-" or "/" of a switch.
  void ParseParam(const WCHAR* param, BOOL isSwitch, BOOL isLast) override;

  bool m_bParametersValid = true;
  DWORD m_Action = kActionNone;
  bool m_bArgsMode = false;
  bool m_bExpectingProgram = false;
  CString m_Arguments;
  std::vector<CString> m_ArgumentList;  // the arguments after args, as given ("/x" for a switch)
  CString m_ProgramPath;
  std::vector<CString> m_Cards;

 private:
  void ParseSwitch(const CString& name);
  void ParseWord(const CString& word);
};

class ACommandLineParser {
 public:
  explicit ACommandLineParser(LPCWSTR commandLine);
  // The arguments left to read.
  int CountArguments() const;
  // The next argument; false at the end.
  bool NextArgument(CString& argument);
  // Feeds every argument to info.ParseParam.
  void ParseCommandLine(CQuilmoStartCommandLineInfo& info);

 private:
  static bool IsSeparator(WCHAR c) { return c == u' ' || c == u'\t'; }
  // Where the argument starting at `at` ends.
  size_t ArgumentEnd(size_t at) const;
  size_t SkipSeparators(size_t at) const;

  std::u16string m_Buffer;
  size_t m_Next = 0;
};

// Whether the command line is one unsigned decimal number above 0 (a launch
// number of the boot list); *n receives it.
bool IsLaunchNumber(LPCWSTR commandLine, int* n);

// Reads the first line of launch number n's argument file into
// commandLine (StarterFormat.h gives its form) and deletes the file; false
// when it is missing or unreadable.
bool ReadLaunchCommandLine(int n, CString& commandLine);
