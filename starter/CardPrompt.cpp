#include "starter/CardPrompt.h"

#include "ce/controls.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/window.h"
#include "core/Localizer.h"
#include "starter/StarterFormat.h"
#include "ui/Loop.h"

namespace {

namespace fmt = StarterFormat;

// The window layer's built-in control classes.
constexpr WCHAR kStaticClass[] = u"STATIC";
constexpr WCHAR kButtonClass[] = u"BUTTON";
constexpr WCHAR kProgressClass[] = u"msctls_progress32";

// What the window procedure keeps while the prompt shows.
struct PromptState {
  int counter = fmt::kCardSeconds;
  HWND bar = nullptr;
  UINT otherInstanceMessage = 0;
  CardPromptOutcome outcome = CardPromptOutcome::kNone;
};

void Close(HWND hwnd, PromptState* state, CardPromptOutcome outcome) {
  state->outcome = outcome;
  DestroyWindow(hwnd);
}

LRESULT PromptProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<PromptState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!state) return DefWindowProcW(hwnd, msg, wParam, lParam);
  if (msg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  if (msg == WM_TIMER && wParam == static_cast<WPARAM>(fmt::kCardTimerId)) {
    --state->counter;
    SendMessageW(state->bar, PBM_SETPOS, static_cast<WPARAM>(state->counter), 0);
    if (state->counter <= 0) Close(hwnd, state, CardPromptOutcome::kTimedOut);
    return 0;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) == fmt::kCardCancelId) {
    Close(hwnd, state, CardPromptOutcome::kCancelled);
    return 0;
  }
  if (msg == WM_COMMAND && LOWORD(wParam) == fmt::kCardRetryId) {
    Close(hwnd, state, CardPromptOutcome::kRetry);
    return 0;
  }
  if (state->otherInstanceMessage != 0 && msg == state->otherInstanceMessage) {
    Close(hwnd, state, CardPromptOutcome::kOtherInstance);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND Child(HWND parent, LPCWSTR cls, LPCWSTR text, DWORD style, int x, int y, int w, int h, int id) {
  return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

CardPromptOutcome RunCardPrompt() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = PromptProc;
  wc.hInstance = instance;
  wc.lpszClassName = fmt::kCardWindowClass;
  // A retry comes back here with the class registered already.
  if (!RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return CardPromptOutcome::kNone;

  PromptState state;
  state.otherInstanceMessage = RegisterWindowMessageW(fmt::kOtherInstanceMessage);
  const CString caption = Localizer::LoadResString(fmt::kCardCaptionString);
  HWND hwnd = CreateWindowExW(0, fmt::kCardWindowClass, caption, WS_POPUP | WS_VISIBLE, fmt::kCardWindowX,
                              fmt::kCardWindowY, fmt::kCardWindowWidth, fmt::kCardWindowHeight, nullptr, nullptr,
                              instance, nullptr);
  if (!hwnd) return CardPromptOutcome::kNone;
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

  Child(hwnd, kStaticClass, Localizer::LoadResString(fmt::kCardTextString), SS_LEFT, fmt::kCardTextX, fmt::kCardTextY,
        fmt::kCardTextWidth, fmt::kCardTextHeight, fmt::kCardTextId);
  Child(hwnd, kButtonClass, Localizer::LoadResString(fmt::kCardCancelString), BS_PUSHBUTTON, fmt::kCardCancelX,
        fmt::kCardCancelY, fmt::kCardCancelWidth, fmt::kCardCancelHeight, fmt::kCardCancelId);
  Child(hwnd, kButtonClass, Localizer::LoadResString(fmt::kCardRetryString), BS_PUSHBUTTON, fmt::kCardRetryX,
        fmt::kCardRetryY, fmt::kCardRetryWidth, fmt::kCardRetryHeight, fmt::kCardRetryId);
  state.bar = Child(hwnd, kProgressClass, u"", 0, fmt::kCardBarX, fmt::kCardBarY, fmt::kCardBarWidth,
                    fmt::kCardBarHeight, fmt::kCardBarId);
  SendMessageW(state.bar, PBM_SETRANGE, 0, MAKELPARAM(0, fmt::kCardSeconds));
  SendMessageW(state.bar, PBM_SETPOS, static_cast<WPARAM>(fmt::kCardSeconds), 0);
  SetTimer(hwnd, fmt::kCardTimerId, fmt::kCardTimerMs, nullptr);

  ui::RunMessageLoop();
  if (IsWindow(hwnd)) {
    // Told to quit from outside: the prompt goes without a decision.
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
  }
  return state.outcome;
}
