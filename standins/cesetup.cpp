// The device maker's setup library "\Tools\CeSetup.dll", outside the
// product: it exports the install hooks under the plain names, records
// each call with its arguments as one line of "\Tools\CeSetupCalls.txt" and
// answers 0 (go on).
//   Install_Init first=1 previous=0 folder=\Program Files\Maker
//   Install_Exit folder=\Program Files\Maker failed=0,0,0,0,0
#include <string>

#include "ce/file.h"
#include "ce/text.h"

namespace {

constexpr const WCHAR* kRecord = u"\\Tools\\CeSetupCalls.txt";

void Record(const std::string& line) {
  HANDLE file = CreateFileW(kRecord, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
    (void)WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string Text(LPCWSTR s) { return s ? ce::ToUtf8(s) : "(null)"; }

}  // namespace

#define MAKER_EXPORT extern "C" __attribute__((visibility("default")))

MAKER_EXPORT int Install_Init(HWND, BOOL firstCall, BOOL previouslyInstalled, LPCWSTR installFolder) {
  Record("Install_Init first=" + std::to_string(firstCall) + " previous=" + std::to_string(previouslyInstalled) +
         " folder=" + Text(installFolder));
  return 0;
}

MAKER_EXPORT int Install_Exit(HWND, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles, WORD failedRegKeys,
                              WORD failedRegValues, WORD failedShortcuts) {
  Record("Install_Exit folder=" + Text(installFolder) + " failed=" + std::to_string(failedDirs) + "," +
         std::to_string(failedFiles) + "," + std::to_string(failedRegKeys) + "," + std::to_string(failedRegValues) +
         "," + std::to_string(failedShortcuts));
  return 0;
}

MAKER_EXPORT int Uninstall_Init(HWND, LPCWSTR installFolder) {
  Record("Uninstall_Init folder=" + Text(installFolder));
  return 0;
}

MAKER_EXPORT int Uninstall_Exit(HWND) {
  Record("Uninstall_Exit");
  return 0;
}
