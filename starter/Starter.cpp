#include "starter/Starter.h"

#include "ce/boot.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/msgbox.h"
#include "core/ProductSettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "starter/SmartStartFile.h"
#include "starter/StarterCommandLine.h"

namespace {

const WCHAR kErrorCaption[] = u"Error";
const WCHAR kResourceFailureFormat[] = u"Contact Quilmo Support (%s, %d)";

CString OwnModulePath() {
  WCHAR path[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return n == 0 ? CString() : CString(path);
}

// The resource library from the starter's own folder when it is there,
// else by name; the custom library beside the starter joins it when
// present. False after the box when the library does not load.
bool LoadStarterResources() {
  const CString folder = System::GetProgramPath(false);
  const CString name = GetApplicationDLLName();
  const CString own = folder + name;
  const CString library = System::FileExists(own) ? own : name;
  const CString custom = folder + GetCustomResourceDllName();
  if (!InitResources(library, nullptr, nullptr)) {
    CString text;
    text.Format(kResourceFailureFormat, name.GetString(), static_cast<int>(GetLastError()));
    MessageBoxW(nullptr, text, kErrorCaption, MB_OK | MB_ICONERROR);
    return false;
  }
  // A custom library that does not load leaves the texts of the main one.
  if (System::FileExists(custom)) AddResourceLibrary(custom);
  return true;
}

}  // namespace

int RunStarter(LPCWSTR commandLine) {
  int launch = 0;
  CString line(commandLine ? commandLine : u"");
  if (IsLaunchNumber(line, &launch)) {
    RemoveInitLaunchEntry(OwnModulePath());
    if (!ReadLaunchCommandLine(launch, line)) return kStarterRefused;
  }

  CQuilmoStartCommandLineInfo info;
  ACommandLineParser(line).ParseCommandLine(info);
  if (!LoadStarterResources()) return kStarterRefused;
  if (!info.m_bParametersValid) return kStarterRefused;

  SmartStartFile start(&info);
  SmartStartFile::WaitForPaths(info.m_Cards);  // a card that stays away is the action's business
  start.Run();  // its result is not the exit code
  if (launch > 0) SignalStarted(static_cast<DWORD>(launch));
  return kStarterDone;
}
