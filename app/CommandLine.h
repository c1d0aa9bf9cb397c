// The main program's command line: keywords that select a mode and the
// values that follow some of them. The reader only records what the words
// ask for, in the global state (mode flags, operation descriptor) and in
// the application object; the mode dispatch acts on it later.
//
// Keywords (exact case; a leading '/' or '-' removed by the splitter makes
// no difference):
//   0 ScheduledBackup        unattended run
//   1 MerrowAutoBackup       unattended, battery-triggered run
//   2 LocalRestore  <image>  command-line restore from a local image
//   3 RemoteRestore <image>  command-line restore through the desktop host
//   4 LocalBackup   <image>  command-line backup to a local image
//   5 RemoteBackup  <image>  command-line backup through the desktop host
//   6 EnableFileScheduling   schedule file "\My Documents\schedule.xml"
//   7 DisableFileScheduling
//   8 ImageId <decimal>      image id of the operation descriptor
//   9 Signature <text>       the access code
//  10 StartScheduling
// A word that is no keyword is the value of the last keyword that takes
// one; after no keyword (or one that takes none) it is the image path.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/Mfc.h"

class CQuilmoApp;

enum CommandLineMode : int {
  kCmdNone = -1,
  kCmdScheduledBackup = 0,
  kCmdMerrowAutoBackup = 1,
  kCmdLocalRestore = 2,
  kCmdRemoteRestore = 3,
  kCmdLocalBackup = 4,
  kCmdRemoteBackup = 5,
  kCmdEnableFileScheduling = 6,
  kCmdDisableFileScheduling = 7,
  kCmdImageId = 8,
  kCmdSignature = 9,
  kCmdStartScheduling = 10,
};

class CQuilmoCommandLineInfo : public CCommandLineInfo {
 public:
  static constexpr const WCHAR* kScheduleFilePath = u"\\My Documents\\schedule.xml";

  // owner receives the file-scheduling flags, the start-scheduling flag and
  // the signature text; it may be null (those words are then read but not
  // recorded).
  explicit CQuilmoCommandLineInfo(CQuilmoApp* owner);

  // One word of the command line, in order: logs it and applies it.
  void ParseParam(const WCHAR* param, BOOL flag, BOOL last) override;

  // The keyword's mode, or kCmdNone for a plain word.
  static int KeywordMode(const WCHAR* word);
  // Whether the keyword of a mode takes a value.
  static bool ModeExpectsValue(int mode);

  bool ExpectsValue() const { return m_bExpectsValue; }
  int GetMode() const { return m_nMode; }

 private:
  void ApplyKeyword(int mode);
  void ApplyValue(const WCHAR* value);

  CQuilmoApp* m_pOwner;
  bool m_bExpectsValue = false;
  int m_nMode = kCmdNone;
};
