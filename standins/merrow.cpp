// Merrow: the battery-level program outside the product
// ("\Windows\Merrow.exe", with a version resource). One instance runs: a
// second start ends at once. It owns a top-level window (class
// "MerrowWindow") and runs a message loop:
//   - at its start (with any command line: bare, or ` "/StartUp"` from its
//     Startup shortcut) and on the registered message
//     "QuilmoMerrowForceCheck" it reads its settings and the battery; when
//     the charge is below the threshold and automatic backups are on, it
//     asks for a backup by starting "QuilmoStart.exe" (bare name) with
//     "/runbackupapp /args MerrowAutoBackup", once per fall below the
//     threshold (a check at or above it arms it again);
//   - "QuilmoMerrowUpdateSettings" reads the settings again;
//   - "QuilmoMerrowQuit" ends it (exit code 0).
// Settings, the product's Settings\Merrow key: dwBatteryLifeThreshold
// (default 30), bAutoBackup (default off). Every message and decision goes
// to "\Windows\Merrow.log", each line after the device's local time.
#include <string>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/system.h"
#include "ce/text.h"
#include "ce/window.h"
#include "standins/kit/StandinKit.h"

namespace {

constexpr const char16_t* kClass = u"MerrowWindow";
constexpr const char16_t* kLog = u"\\Windows\\Merrow.log";
constexpr const char16_t* kBackupCommand = u"/runbackupapp /args MerrowAutoBackup";

struct Settings {
  DWORD threshold = 30;
  bool autoBackup = false;
};

struct State {
  UINT quit = 0, updateSettings = 0, forceCheck = 0;
  Settings settings;
  bool askedBelow = false;  // a backup was asked for since the charge fell below
} g;

void Log(const std::string& text) { standin::AppendToDeviceFile(kLog, standin::LocalTimeText() + " " + text + "\n"); }

void ReadSettings() {
  const std::u16string key = std::u16string(standin::kProductSettings) + u"\\Merrow";
  g.settings.threshold = standin::ReadDword(key, u"dwBatteryLifeThreshold").value_or(30);
  g.settings.autoBackup = standin::ReadDword(key, u"bAutoBackup").value_or(0) != 0;
  Log("settings: threshold " + std::to_string(g.settings.threshold) + "%, auto backup " +
      (g.settings.autoBackup ? "on" : "off"));
}

void Check() {
  SYSTEM_POWER_STATUS_EX status{};
  if (!GetSystemPowerStatusEx(&status, TRUE)) {
    Log("check: the battery cannot be read (error " + std::to_string(GetLastError()) + ")");
    return;
  }
  const DWORD percent = status.BatteryLifePercent;
  std::string line = "check: battery " + std::to_string(percent) + "%, threshold " +
                     std::to_string(g.settings.threshold) + "%: ";
  if (percent >= g.settings.threshold) {
    g.askedBelow = false;
    Log(line + "no backup");
    return;
  }
  if (!g.settings.autoBackup) {
    Log(line + "below, auto backup off");
    return;
  }
  if (g.askedBelow) {
    Log(line + "below, backup asked for already");
    return;
  }
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(u"QuilmoStart.exe", kBackupCommand, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi)) {
    Log(line + "below, starting QuilmoStart.exe failed (error " + std::to_string(GetLastError()) + ")");
    return;
  }
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  g.askedBelow = true;
  Log(line + "below, started QuilmoStart.exe " + ce::ToUtf8(kBackupCommand));
}

LRESULT MerrowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g.quit) {
    Log("message QuilmoMerrowQuit: ending");
    DestroyWindow(hwnd);
    return 0;
  }
  if (msg == g.updateSettings) {
    Log("message QuilmoMerrowUpdateSettings");
    ReadSettings();
    return 0;
  }
  if (msg == g.forceCheck) {
    Log("message QuilmoMerrowForceCheck");
    Check();
    return 0;
  }
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR cmdLine, int) {
  Log("start \"" + ce::ToUtf8(cmdLine ? cmdLine : u"") + "\"");
  if (FindWindowW(kClass, nullptr)) {
    Log("already running: ending");
    return 0;
  }
  g.quit = RegisterWindowMessageW(u"QuilmoMerrowQuit");
  g.updateSettings = RegisterWindowMessageW(u"QuilmoMerrowUpdateSettings");
  g.forceCheck = RegisterWindowMessageW(u"QuilmoMerrowForceCheck");
  WNDCLASSW wc{};
  wc.lpfnWndProc = MerrowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClass;
  if (!RegisterClassW(&wc) || !CreateWindowExW(0, kClass, u"Merrow", 0, 0, 0, 0, 0, nullptr, nullptr, instance,
                                               nullptr)) {
    Log("no window (error " + std::to_string(GetLastError()) + "): ending");
    return 1;
  }
  ReadSettings();
  Check();
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) DispatchMessageW(&msg);
  return got < 0 ? 1 : 0;
}

CE_DEVICE_PROGRAM(WinMain)
