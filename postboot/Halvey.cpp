#include "postboot/Halvey.h"

#include "ce/gdi.h"
#include "ce/module.h"
#include "ce/msgbox.h"
#include "ce/notify.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/time.h"
#include "core/DeployOptions.h"
#include "core/DeployOptionsFormat.h"
#include "core/ProductSettings.h"
#include "core/Resources.h"
#include "core/System.h"
#include "engine/HalveyIF.h"
#include "postboot/HalveyCommandLine.h"
#include "postboot/HalveyFormat.h"
#include "postboot/HalveyMessage.h"
#include "scheduling/Notify.h"

namespace {

const WCHAR kSupportText[] =
    u"The program's resources could not be loaded. Please contact Quilmo support to repair the installation.";

DWORD g_NextBubbleId = 0;

CString ResString(UINT id) {
  CString text;
  // A string that is missing leaves its button without a label.
  LookupResString(id, text);
  return text;
}

// The resource library from the program's folder when it is there, else
// by the device's search; the custom library beside the program joins it.
bool LoadHalveyResources() {
  const CString folder = System::GetProgramPath(false);
  const CString name = GetApplicationDLLName();
  const CString own = folder + name;
  const CString library = System::FileExists(own) ? own : name;
  if (!InitResources(library, nullptr, nullptr)) return false;
  const CString custom = folder + GetCustomResourceDllName();
  // A custom library that does not load leaves the texts of the main one.
  if (System::FileExists(custom)) AddResourceLibrary(custom);
  return true;
}

// The popup runs once: its Startup shortcut goes, unless kiosk mode wants
// it at every start.
void DeleteOwnShortcut() {
  AHalveyIF popup;
  if (popup.ShortcutExists()) popup.DeleteShortcut();
}

int RunMessageLoop() {
  MSG msg{};
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return 0;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

HalveyWindowState& GetHalveyWindowState() {
  static HalveyWindowState state;
  return state;
}

LRESULT HalveyWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
    case WM_ACTIVATE:
    case WM_SETTINGCHANGE:
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case halvey::kCommandViewReport:
          // A viewer that does not start shows nothing; the popup closes.
          StartOmbric(GetHalveyWindowState().reportFile);
          DestroyWindow(hwnd);
          return 0;
        case halvey::kCommandDismiss:
          DestroyWindow(hwnd);
          return 0;
        case halvey::kCommandOk:
          SendMessageW(hwnd, WM_ACTIVATE, 0, 0);
          DestroyWindow(hwnd);
          return 0;
        default:
          break;
      }
      break;
    case WM_NOTIFY: {
      auto* nm = reinterpret_cast<NMSHN*>(lParam);
      if (nm && nm->hdr.code == static_cast<UINT>(halvey::kBubbleLinkSelected)) {
        nm->dwReturn = halvey::kBubbleAnswer;
        return 1;
      }
      // A bubble whose time ran out leaves nothing to answer: the popup
      // ends rather than wait hidden until the next reset.
      if (nm && nm->hdr.code == SHNN_DISMISS) DestroyWindow(hwnd);
      break;
    }
    case WM_TIMER:
      if (wParam == halvey::kTurnOffTimer) {
        KillTimer(hwnd, halvey::kTurnOffTimer);
        SetSystemPowerState(nullptr, POWER_STATE_SUSPEND, POWER_FORCE);
        return 0;
      }
      break;
    case WM_DESTROY: {
      HalveyWindowState& state = GetHalveyWindowState();
      if (state.icon) DestroyIcon(state.icon);
      state.icon = nullptr;
      PostQuitMessage(0);
      return 0;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND CreateHalveyWindow(HINSTANCE instance) {
  if (!FindWindowW(halvey::kWindowClass, halvey::kWindowTitle)) {
    WNDCLASSW wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = HalveyWndProc;
    wc.hInstance = instance;
    wc.hIcon = GetHalveyWindowState().icon;
    wc.lpszClassName = halvey::kWindowClass;
    // A class that is there already (a second window in this process)
    // serves as well; CreateWindowExW tells.
    RegisterClassW(&wc);
  }
  HWND hwnd = CreateWindowExW(0, halvey::kWindowClass, halvey::kWindowTitle, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (hwnd) UpdateWindow(hwnd);
  return hwnd;
}

HalveyBubble MakeHalveyBubble(const CString& html, HWND sink, HICON icon, const CString& title) {
  HalveyBubble bubble;
  bubble.id = g_NextBubbleId++;
  bubble.priority = halvey::kBubblePriority;
  bubble.durationSeconds = halvey::kBubbleDurationSeconds;
  bubble.flags = halvey::kBubbleFlags;
  bubble.icon = icon;
  bubble.sink = sink;
  bubble.html = html;
  bubble.title = title;
  return bubble;
}

bool StartOmbric(const CString& reportFile) {
  const CString args = u"\"" + reportFile + u"\"";
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(GetOmbricExeName(), args, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
    return false;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

DWORD DeployIntervalMs(int hours, int minutes) {
  const unsigned long long h = hours > 0 ? static_cast<unsigned long long>(hours) : 0;
  const unsigned long long m = minutes > 0 ? static_cast<unsigned long long>(minutes) : 0;
  const unsigned long long ms = h * 3600000ull + m * 60000ull;
  // INFINITE is no interval: the longest finite wait stands in for more.
  return ms >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(ms);
}

bool DeployRestart() {
  if (!GetKioskModeEnabled()) return false;
  const CString path = System::GetProgramPath(true);
  const CString folder = path.Left(path.ReverseFind(u'\\') + 1);
  ADeployOptions options(folder + deploy::kFileName);
  const DWORD interval = DeployIntervalMs(options.GetHoursBetween(), options.GetMinutesBetween());
  const CString mainProgram = folder + halvey::kMainProgramName;
  // None registered is the usual case.
  AUserNotification::RemoveScheduledApp(mainProgram, u"", CNT_TIME, 0);
  Sleep(interval);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(mainProgram, nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi))
    return false;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

int RunHalvey(LPCWSTR commandLine) {
  WaitForReadyEvents();
  Sleep(halvey::kSettleMs);

  const CString line(commandLine ? commandLine : u"");
  const HalveyCommandLine words(line);
  HalveyWindowState& state = GetHalveyWindowState();
  state.reportFile = words.GetReportFile();

  HINSTANCE instance = GetModuleHandleW(nullptr);
  state.icon = LoadIconW(instance, MAKEINTRESOURCE(halvey::kIconId));
  HWND hwnd = CreateHalveyWindow(instance);
  if (!hwnd) return 0;

  const bool kiosk = GetKioskModeEnabled();
  if (!kiosk) DeleteOwnShortcut();

  if (!LoadHalveyResources()) {
    MessageBoxW(nullptr, kSupportText, halvey::kWindowTitle, MB_OK | MB_ICONERROR);
    return 0;
  }
  const CString title = GetApplicationName();

  if (words.IsRestore()) {
    // A main program that does not start again shows nothing, and a
    // registration the device refuses leaves only the end-of-restore start
    // out: neither has anyone to tell.
    DeployRestart();
    CeRunAppAtEvent(const_cast<WCHAR*>(halvey::kRunAfterRestore), halvey::kRestoreEndEvent);
  }

  const CString message = ReadHalveyMessage(words.GetMessageFile());
  const CString html =
      HalveyNotificationHtml(message, ResString(halvey::kStrViewReportButton), ResString(halvey::kStrDismissButton));
  UnloadResourceLibraries(true);

  if (kiosk) return 0;
  if (words.IsTurnOff()) SetTimer(hwnd, halvey::kTurnOffTimer, halvey::kTurnOffDelayMs, nullptr);
  // Without a bubble nothing can end the popup but the turn-off timer.
  if (!AddHalveyBubble(MakeHalveyBubble(html, hwnd, state.icon, title)) && !words.IsTurnOff()) {
    DestroyWindow(hwnd);
    return 0;
  }
  return RunMessageLoop();
}
