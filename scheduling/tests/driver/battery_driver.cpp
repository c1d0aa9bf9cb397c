// A device program that drives the scheduling classes and the starter's
// card prompt from inside a device run, as the main program or a user
// would. Its command line is a list of steps separated by ";":
//   enable THRESHOLD   battery program on, automatic backups below THRESHOLD
//                      (AMerrowIF: SetThreshold, SetAutoBackup, Enable)
//   disable            battery program off (AMerrowIF::Disable)
//   wakeup             registers the wake-up entry (AWakeUpServiceIF::Schedule)
//   sleep MS           Sleep(MS)
//   card insert|remove NAME   puts the storage card NAME in or takes it out
//   click CLASS ID     waits (up to a device minute) for a top-level window
//                      of CLASS and posts it WM_COMMAND ID, as a tap would
//   post MSG           broadcasts the registered message MSG
//   start PROGRAM [ARGS]  starts PROGRAM (a path without spaces) with the
//                      raw command line ARGS, without waiting for it
// Each step is noted in "\battery_driver.log" after the device's local
// time; a step that fails ends the program with exit code 1 (2: unknown).
#include <cstdlib>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/file.h"
#include "scheduling/MerrowIF.h"
#include "scheduling/WakeUpService.h"
#include "standins/kit/StandinKit.h"

namespace {

constexpr const char16_t* kLog = u"\\battery_driver.log";
constexpr DWORD kClickWaitMs = 60000;
constexpr DWORD kClickPollMs = 100;

void Note(const std::string& text) { standin::AppendToDeviceFile(kLog, standin::LocalTimeText() + " " + text + "\n"); }

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(sep, start);
    std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const size_t b = part.find_first_not_of(' '), e = part.find_last_not_of(' ');
    if (b != std::string::npos) parts.push_back(part.substr(b, e - b + 1));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

// The rest of a step after its verb.
std::string Rest(const std::string& step, const std::string& verb) {
  return step.size() > verb.size() ? step.substr(verb.size() + 1) : std::string();
}

bool Click(const std::string& args) {
  const size_t space = args.rfind(' ');
  if (space == std::string::npos) return false;
  const std::u16string cls = ce::FromUtf8(args.substr(0, space));
  const WPARAM id = static_cast<WPARAM>(std::atoi(args.c_str() + space + 1));
  for (DWORD waited = 0; waited <= kClickWaitMs; waited += kClickPollMs) {
    if (HWND w = FindWindowW(cls.c_str(), nullptr)) return PostMessageW(w, WM_COMMAND, id, 0);
    Sleep(kClickPollMs);
  }
  return false;
}

// One step; 0 when done, 1 when it failed, 2 when unknown.
int RunStep(const std::string& step) {
  const std::string verb = step.substr(0, step.find(' '));
  const std::string args = Rest(step, verb);
  if (verb == "enable") {
    AMerrowIF merrow;
    return merrow.SetThreshold(static_cast<DWORD>(std::atoi(args.c_str()))) && merrow.SetAutoBackup(true) &&
                   merrow.Enable()
               ? 0
               : 1;
  }
  if (verb == "disable") return AMerrowIF().Disable() ? 0 : 1;
  if (verb == "wakeup") return AWakeUpServiceIF().Schedule() ? 0 : 1;
  if (verb == "sleep") {
    Sleep(static_cast<DWORD>(std::atol(args.c_str())));
    return 0;
  }
  if (verb == "card") {
    const std::string how = args.substr(0, args.find(' '));
    const std::u16string name = ce::FromUtf8(Rest(args, how));
    if (how == "insert") return ce::InsertStorageCard(name) ? 0 : 1;
    if (how == "remove") return ce::RemoveStorageCard(name) ? 0 : 1;
    return 2;
  }
  if (verb == "click") return Click(args) ? 0 : 1;
  if (verb == "start") {
    const std::string program = args.substr(0, args.find(' '));
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(ce::FromUtf8(program).c_str(), ce::FromUtf8(Rest(args, program)).c_str(), nullptr, nullptr,
                        FALSE, 0, nullptr, nullptr, nullptr, &pi))
      return 1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
  }
  if (verb == "post") return BroadcastRegisteredMessage(ce::FromUtf8(args).c_str()) ? 0 : 1;
  return 2;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  for (const std::string& step : Split(ce::ToUtf8(cmdLine ? cmdLine : u""), ';')) {
    const int rc = RunStep(step);
    Note(step + (rc == 0 ? "" : rc == 1 ? ": failed (error " + std::to_string(GetLastError()) + ")" : ": unknown"));
    if (rc != 0) return rc;
  }
  return 0;
}

CE_DEVICE_PROGRAM(WinMain)
