// The maker's personal-data programs around the product: the database
// program Lissent and its agent program Corvane (both outside the product).
//
// ACorvaneIF keeps Lissent's start-at-boot setting (subkey "Lissent" of the
// product's Settings key: "csLissentEXEPath", "bOnStartup"), starts Lissent
// through the starter program ("/run" with its path, "/args" "-initial") and
// stops both with their registered quit messages, broadcast to every
// top-level window. Failures show their boxes (strings 138 and 65054) and
// are logged with the class "ACorvaneIF".
//
// The imaging task's restore stops the agent and starts it again through
// its Corvane seam (engine/ImagingTask.h); CorvaneTaskControl is what the
// main program registers there.
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "engine/ImagingTask.h"

class ACorvaneIF {
 public:
  static constexpr const WCHAR* kSubkey = u"Lissent";
  static constexpr const WCHAR* kPathValue = u"csLissentEXEPath";
  static constexpr const WCHAR* kOnStartupValue = u"bOnStartup";
  // Older settings, in the root key (kind 2).
  static constexpr const WCHAR* kOldPathValue = u"CorvaneEXEPath";
  static constexpr const WCHAR* kLissentQuitMessage = u"QuilmoLissentQuit";
  static constexpr const WCHAR* kCorvaneQuitMessage = u"QuilmoCorvaneQuit";
  static constexpr const WCHAR* kCorvaneExe = u"Corvane.exe";
  static constexpr const WCHAR* kStarterExe = u"QuilmoStart.exe";
  static constexpr const WCHAR* kInitialArgument = u"-initial";
  static constexpr DWORD kStrSettingsProblem = 138;
  static constexpr DWORD kStrStartFailed = 65054;

  ACorvaneIF() = default;

  // A process "Corvane.exe" runs, else one named by the CorvaneEXEName
  // setting.
  static bool IsRunning();
  // The Lissent path (with its fall-backs) and the start-at-boot flag;
  // a missing flag shows string 138 and counts as off.
  void LoadStartupSetting();
  // The Lissent path alone: "csLissentEXEPath", else the older
  // "CorvaneEXEPath", else the program's folder + CorvaneEXEName (each
  // fall-back logged).
  void LoadLissentPath();
  // Turns start-at-boot on and starts Lissent unless it runs already.
  void Enable();
  // Turns start-at-boot off and asks Lissent and Corvane to quit when they
  // run.
  void Disable();

  // Starts Lissent through the starter with "-initial"; false (logged, box
  // 65054) when the starter cannot be started.
  bool StartLissent();
  // Broadcasts the two quit messages, Lissent's first.
  static void RequestQuit();

  bool GetOnStartup() const { return m_bOnStartup != 0; }
  const CString& GetLissentPath() const { return m_csLissentPath; }
  // The starter's command line that starts Lissent.
  CString StartCommandLine() const;

 private:
  // Writes "bOnStartup"; false after the error line and box 138.
  bool WriteOnStartup(BYTE value, LPCWSTR failureText);

  CString m_csLissentPath;  // at most 260 characters
  BYTE m_bOnStartup = 0;
};

// The restore's Corvane seam over ACorvaneIF: installed when the program
// file exists (CorvaneProgramExists), running as ACorvaneIF says, stopped
// by the quit messages and started again as Lissent is, without touching
// the start-at-boot setting.
class ACorvaneTaskControl : public ACorvaneControl {
 public:
  bool IsInstalled() override;
  bool IsRunning() override;
  void RequestStop() override;
  void Start() override;
};
// The program-wide instance the main program registers (SetCorvaneControl).
ACorvaneTaskControl& CorvaneTaskControl();
