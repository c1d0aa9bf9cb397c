// The device maker's setup library "\Tools\CeSetup.dll", outside the
// product: it exports the install hooks under the plain names, records
// each call with its arguments as one line of "\Tools\CeSetupCalls.txt" and
// answers 0 (go on), or the answer a line "HOOK=N" of
// "\Tools\CeSetupAnswers.txt" gives for the hook (tests use it as a setup
// library that cancels or refuses).
//   Install_Init first=1 previous=0 folder=\Program Files\Maker
//   Install_Exit folder=\Program Files\Maker failed=0,0,0,0,0
#include <cstdlib>
#include <string>

#include "ce/file.h"
#include "ce/text.h"

namespace {

constexpr const WCHAR* kRecord = u"\\Tools\\CeSetupCalls.txt";
constexpr const WCHAR* kAnswers = u"\\Tools\\CeSetupAnswers.txt";

int Answer(const std::string& hook) {
  HANDLE file = CreateFileW(kAnswers, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  char buf[1024];
  DWORD got = 0;
  const bool read = ReadFile(file, buf, sizeof buf, &got, nullptr);
  CloseHandle(file);
  if (!read) return 0;
  const std::string text(buf, got);
  const size_t at = text.find(hook + "=");
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + hook.size() + 1);
}

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
  return Answer("Install_Init");
}

MAKER_EXPORT int Install_Exit(HWND, LPCWSTR installFolder, WORD failedDirs, WORD failedFiles, WORD failedRegKeys,
                              WORD failedRegValues, WORD failedShortcuts) {
  Record("Install_Exit folder=" + Text(installFolder) + " failed=" + std::to_string(failedDirs) + "," +
         std::to_string(failedFiles) + "," + std::to_string(failedRegKeys) + "," + std::to_string(failedRegValues) +
         "," + std::to_string(failedShortcuts));
  return Answer("Install_Exit");
}

MAKER_EXPORT int Uninstall_Init(HWND, LPCWSTR installFolder) {
  Record("Uninstall_Init folder=" + Text(installFolder));
  return Answer("Uninstall_Init");
}

MAKER_EXPORT int Uninstall_Exit(HWND) {
  Record("Uninstall_Exit");
  return Answer("Uninstall_Exit");
}
