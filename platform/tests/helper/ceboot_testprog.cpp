// A device program for the boot tests. Copies of it are installed under
// several names; each looks up what to do in the device file
// "\boottest.cfg" (lines "NAME VERB [ARG]", NAME its exe name, any case):
//   signal         signals its launch number (the default)
//   sleepsignal MS sleeps, then signals
//   hang           sleeps a minute without signalling
//   nosignal       ends at once with exit code 3
//   resetonce      resets the device the first time, signals after that
//   resetalways    resets the device every time
//   events         logs "events A B": the states of the shell's two events
//                  (missing, set, unset), then signals
//   exit N         ends with exit code N
//   spawn PROGRAM  starts PROGRAM with the command line "child", waits for it
//   gatedstart PROGRAM  waits for the device file "\boottest.gate", then
//                  starts PROGRAM with the command line "child" and ends at
//                  once
//   startkilled PROGRAM  starts PROGRAM with the command line "child" and is
//                  killed before it records it (logs "child pid N" first)
//   copyhive FILE  copies the device file FILE over the live user hive
//                  (logs "copied" or "copy failed ERROR"), then signals
//   copyfile FROM>TO  copies the device file FROM over TO (logs "copied" or
//                  "copy failed ERROR"), then signals
// Every step is appended to "\boottest.log" as "NAME [CMDLINE] EVENT".
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "ce/boot.h"
#include "cesim/device.h"
#include "ce/errors.h"
#include "ce/event.h"
#include "ce/file.h"
#include "ce/registry.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "cesim/process.h"
#include "cesim/registry.h"

namespace {

std::string HostPath(std::u16string_view devicePath) {
  ce::ResolvedPath rp;
  ce::Device* d = ce::Device::Current();
  return d && d->Resolve(devicePath, &rp) ? rp.host.string() : std::string();
}

std::string gName, gCmd;

void Log(const std::string& event) {
  std::string line = gName + " [" + gCmd + "] " + event + "\n";
  int fd = open(HostPath(u"\\boottest.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  ssize_t w = write(fd, line.data(), line.size());
  (void)w;
  close(fd);
}

void Signal() {
  DWORD n = static_cast<DWORD>(std::strtoul(gCmd.c_str(), nullptr, 10));
  if (n > 0) SignalStarted(n);
  Log("signalled");
}

// "missing", "set" or "unset" (a look that takes nothing: both are manual-reset).
std::string EventState(const char16_t* name) {
  HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, name);
  if (!h) return "missing";
  const bool set = WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
  CloseHandle(h);
  return set ? "set" : "unset";
}

void Reset() {
  Log("reset");
  SetSystemPowerState(nullptr, POWER_STATE_RESET, 0);
  Log("reset returned");
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  gName = ce::ToUtf8(ce::DeviceUpper(ce::OwnProgramPath().substr(ce::OwnProgramPath().rfind(u'\\') + 1)));
  gCmd = ce::ToUtf8(cmdLine);
  std::string verb = "signal", arg;
  std::ifstream cfg(HostPath(u"\\boottest.cfg"));
  for (std::string line; std::getline(cfg, line);) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    if (ce::ToUtf8(ce::DeviceUpper(ce::FromUtf8(name))) != gName) continue;
    words >> verb >> arg;
  }
  Log("start");
  if (verb == "events") {
    Log("events " + EventState(kGweApiSetReadyEvent) + " " + EventState(kShellApiReadyEvent));
    Signal();
  } else if (verb == "sleepsignal") {
    usleep(static_cast<useconds_t>(std::atoi(arg.c_str())) * 1000);
    Signal();
  } else if (verb == "hang") {
    sleep(60);
  } else if (verb == "nosignal") {
    return 3;
  } else if (verb == "resetonce") {
    std::string marker = HostPath(u"\\boottest.reset");
    if (access(marker.c_str(), F_OK) != 0) {
      std::ofstream(marker) << "1";
      Reset();
    }
    Signal();
  } else if (verb == "resetalways") {
    Reset();
  } else if (verb == "spawn") {
    std::u16string program = ce::FromUtf8(arg);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(program.c_str(), u"child", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
      WaitForSingleObject(pi.hProcess, 10000);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  } else if (verb == "gatedstart") {
    const std::string gate = HostPath(u"\\boottest.gate");
    for (int i = 0; i < 10000 && access(gate.c_str(), F_OK) != 0; ++i) usleep(1000);
    std::u16string program = ce::FromUtf8(arg);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), u"child", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
      return 5;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    Log("started " + arg);
  } else if (verb == "startkilled") {
    ce::SetProcessStartHookForTest(+[](DWORD pid) {
      Log("child pid " + std::to_string(pid));
      raise(SIGKILL);
    });
    std::u16string program = ce::FromUtf8(arg);
    PROCESS_INFORMATION pi{};
    CreateProcessW(program.c_str(), u"child", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi);
    Log("not killed");
  } else if (verb == "copyhive") {
    ce::RegCloseHives();
    std::u16string target(ce::kUserHivePath);
    if (CopyFileW(ce::FromUtf8(arg).c_str(), target.c_str(), FALSE))
      Log("copied");
    else
      Log("copy failed " + std::to_string(GetLastError()));
    Signal();
  } else if (verb == "copyfile") {
    const size_t arrow = arg.find('>');
    std::u16string from = ce::FromUtf8(arg.substr(0, arrow));
    std::u16string to = arrow == std::string::npos ? u"" : ce::FromUtf8(arg.substr(arrow + 1));
    if (CopyFileW(from.c_str(), to.c_str(), FALSE))
      Log("copied");
    else
      Log("copy failed " + std::to_string(GetLastError()));
    Signal();
  } else if (verb == "exit") {
    return std::atoi(arg.c_str());
  } else {
    Signal();
  }
  return 0;
}

CE_DEVICE_PROGRAM(WinMain)
