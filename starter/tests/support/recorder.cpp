// A device program that records each start: it appends one line to
// "\temp\started.txt" (UTF-8): its own path, a tab and its raw command line.
// Exits 0.
#include <string>

#include "ce/file.h"
#include "ce/module.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"

int WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  WCHAR path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::string line = ce::ToUtf8(path) + "\t" + ce::ToUtf8(commandLine ? commandLine : u"") + "\n";
  // Recorders started together take turns at the file.
  HANDLE f = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && f == INVALID_HANDLE_VALUE; ++attempt) {
    f = CreateFileW(u"\\temp\\started.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) Sleep(20);
  }
  if (f == INVALID_HANDLE_VALUE) return 1;
  SetFilePointer(f, 0, nullptr, FILE_END);
  DWORD written = 0;
  const bool ok = WriteFile(f, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(f);
  return ok && written == line.size() ? 0 : 1;
}

CE_DEVICE_PROGRAM(WinMain)
