// A tiny device program for the process tests. Its raw command line is
// "VERB [ARG]" (leading blanks allowed):
//   exit N         returns N from WinMain
//   exitprocess N  ends through ExitProcess(N)
//   sleep MS       sleeps, then returns 0
//   crash          dies of SIGSEGV
//   box TEXT       shows a message box and returns its answer
// anything else returns 0. When CEPROC_ECHO names a host file, the program
// first writes three lines to it: OwnCommandLine(), GetCommandLineW() and
// OwnProgramPath() (UTF-8).
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/text.h"

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  if (const char* echo = getenv("CEPROC_ECHO")) {
    std::ofstream f(echo, std::ios::binary | std::ios::trunc);
    f << ce::ToUtf8(ce::OwnCommandLine()) << "\n"
      << ce::ToUtf8(GetCommandLineW()) << "\n"
      << ce::ToUtf8(ce::OwnProgramPath()) << "\n";
  }
  std::string line = ce::ToUtf8(cmdLine);
  size_t b = line.find_first_not_of(' ');
  line = b == std::string::npos ? std::string() : line.substr(b);
  size_t sp = line.find(' ');
  std::string verb = line.substr(0, sp);
  std::string arg = sp == std::string::npos ? std::string() : line.substr(sp + 1);
  if (verb == "exit") return static_cast<int>(std::strtoul(arg.c_str(), nullptr, 10));
  if (verb == "exitprocess") ExitProcess(static_cast<UINT>(std::strtoul(arg.c_str(), nullptr, 10)));
  if (verb == "sleep") {
    usleep(static_cast<useconds_t>(std::strtoul(arg.c_str(), nullptr, 10)) * 1000);
    return 0;
  }
  if (verb == "crash") {
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
  }
  if (verb == "box") {
    std::u16string text = ce::FromUtf8(arg);
    return MessageBoxW(nullptr, text.c_str(), u"Test program", MB_YESNO | MB_ICONQUESTION);
  }
  return 0;
}

CE_DEVICE_PROGRAM(WinMain)
