// A device program that drives the security agent's interface as the
// imaging task does: an owner window, ACredantIF, its library, then the
// requests named on the command line ("1 3": backup start, restore start).
// Appends one line per request to "\CredantProbe.txt":
//   request 1 ok=0 result=0 ms=20000 errors=Timeout waiting for Credant Request
// (ms: device time the request took). Exit code 0, or 2 when the library
// is not available.
#include <string>

#include "app/CredantIF.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/text.h"
#include "ce/time.h"
#include "core/Log.h"
#include "ui/Mfc.h"

namespace {

void Append(const std::string& line) {
  HANDLE file = CreateFileW(u"\\CredantProbe.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
    (void)WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int WinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  std::string errors;
  SetLogReportSink([&errors](int, DWORD, const CString& text) { errors += ce::ToUtf8(text.str()) + ";"; });
  CWnd owner;
  const RECT rect{0, 0, 100, 100};
  if (!owner.CreateEx(0, nullptr, u"CredantProbe", WS_OVERLAPPED, rect, nullptr, 0)) return 3;
  ACredantIF agent(&owner);
  if (!agent.LoadLibrary()) return 2;
  for (const char16_t* p = commandLine; p && *p; ++p) {
    if (*p < u'1' || *p > u'4') continue;
    errors.clear();
    const int64_t start = ce::DeviceNowMs();
    bool ok = false;
    switch (*p) {
      case u'1': ok = agent.NotifyBackupStart(); break;
      case u'2': ok = agent.NotifyBackupEnd(); break;
      case u'3': ok = agent.NotifyRestoreStart(); break;
      default: ok = agent.NotifyRestoreEnd(); break;
    }
    Append("request " + std::string(1, static_cast<char>(*p)) + " ok=" + (ok ? "1" : "0") +
           " result=" + std::to_string(agent.GetLastResult()) +
           " ms=" + std::to_string(ce::DeviceNowMs() - start) + " errors=" + errors);
  }
  SetLogReportSink(nullptr);
  return 0;
}
CE_DEVICE_PROGRAM(WinMain)
