// A device program for the tests of the run's call counter and reset trap.
// Its command line is a list of steps, each made of counted calls only:
//   file NAME K    creates "\trap\NAME" (CREATE_ALWAYS) and writes K lines
//                  "NAME k" to it, one WriteFile each, then closes it
//   reg K          sets the values "v1".."vK" under HKLM\Trap (the key is
//                  created by the first run)
//   spawn STEPS    starts this program with STEPS (one word, '+' for
//                  blanks) and waits for it
//   loop NAME      creates "\trap\NAME" and writes lines to it until killed
//   after NAME     starts this program with "loop NAME" and goes on at once
// Steps run in order; a step it does not know ends it with exit code 2.
#include <sstream>
#include <string>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/text.h"

namespace {

HANDLE Create(const std::string& name) {
  std::u16string path = u"\\trap\\" + ce::FromUtf8(name);
  return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteLine(HANDLE h, const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

bool Lines(const std::string& name, int count) {
  HANDLE h = Create(name);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (int k = 1; k <= count && ok; ++k) ok = WriteLine(h, name + " " + std::to_string(k));
  return CloseHandle(h) && ok;
}

[[noreturn]] void Loop(const std::string& name) {
  HANDLE h = Create(name);
  for (int k = 1;; ++k) WriteLine(h, name + " " + std::to_string(k));
}

bool Values(int count) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Trap", 0, nullptr, 0, 0, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  bool ok = true;
  for (int k = 1; k <= count && ok; ++k) {
    const DWORD value = static_cast<DWORD>(k);
    std::u16string name = u"v" + ce::FromUtf8(std::to_string(k));
    ok = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return ok;
}

bool Start(const std::string& steps, bool wait) {
  std::string line = steps;
  for (char& c : line)
    if (c == '+') c = ' ';
  std::u16string cmd = ce::FromUtf8(line);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(ce::OwnProgramPath().c_str(), cmd.c_str(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      nullptr, &pi))
    return false;
  if (wait) WaitForSingleObject(pi.hProcess, 20000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR cmdLine, int) {
  std::istringstream words(ce::ToUtf8(cmdLine));
  for (std::string step; words >> step;) {
    std::string arg;
    int count = 0;
    bool ok = false;
    if (step == "file" && words >> arg >> count) {
      ok = Lines(arg, count);
    } else if (step == "reg" && words >> count) {
      ok = Values(count);
    } else if (step == "spawn" && words >> arg) {
      ok = Start(arg, true);
    } else if (step == "after" && words >> arg) {
      ok = Start("loop " + arg, false);
    } else if (step == "loop" && words >> arg) {
      Loop(arg);
    } else {
      return 2;
    }
    if (!ok) return 1;
  }
  return 0;
}

CE_DEVICE_PROGRAM(WinMain)
