// The notification bubble (ce/shell.h): a top-level window of the adding
// process, owned by the sink window so that it goes with it, drawn by the
// screen like any window (a title line, the HTML as plain text, one push
// button per command), and recorded in the screen log.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/text.h"
#include "cesim/msgbox.h"
#include "cesim/notification.h"
#include "shell/bubble_html.h"

namespace ce {
namespace {

constexpr UINT_PTR kExpireTimer = 1;
constexpr int kTitleId = 0xFFF0;
constexpr int kTextId = 0xFFF1;
constexpr int kMargin = 4;
constexpr int kLineHeight = 14;
constexpr int kCharWidth = 7;
constexpr int kButtonHeight = 20;
constexpr int kButtonMinWidth = 48;

struct Bubble {
  CLSID clsid{};
  DWORD id = 0;
  HWND hwnd = nullptr;
  HWND sink = nullptr;
  LPARAM lParam = 0;
  DWORD duration = 0;  // seconds, 0: stays
  std::u16string title;
  BubbleContent content;
  const char* goneBy = nullptr;  // set when the bubble is taken down on purpose
};

struct Registry {
  std::recursive_mutex m;
  std::vector<std::shared_ptr<Bubble>> bubbles;  // oldest first
};
Registry& Bubbles() {
  static Registry* r = new Registry;
  return *r;
}

std::shared_ptr<Bubble> Find(const CLSID& clsid, DWORD id) {
  Registry& r = Bubbles();
  std::lock_guard<std::recursive_mutex> g(r.m);
  for (const auto& b : r.bubbles)
    if (b->id == id && IsEqualGUID(b->clsid, clsid)) return b;
  return nullptr;
}

std::shared_ptr<Bubble> FindByWindow(HWND hwnd) {
  Registry& r = Bubbles();
  std::lock_guard<std::recursive_mutex> g(r.m);
  for (const auto& b : r.bubbles)
    if (b->hwnd == hwnd) return b;
  return nullptr;
}

void Forget(const std::shared_ptr<Bubble>& b) {
  Registry& r = Bubbles();
  std::lock_guard<std::recursive_mutex> g(r.m);
  std::erase(r.bubbles, b);
}

std::u16string Num(uint64_t n) { return FromUtf8(std::to_string(n)); }

void Log(const Bubble& b, const std::u16string& what, int answer = 0) {
  // A line that cannot be written leaves the bubble working.
  AddScreenLogEntry(b.title, u"notification " + Num(b.id) + u" " + what, answer);
}

std::u16string ShownText(const Bubble& b) {
  std::u16string s = u"shown: " + b.content.text;
  for (const BubbleButton& k : b.content.buttons) s += u" [" + k.label + u"]";
  return s;
}

// Lines the text takes in a column `chars` characters wide.
int LineCount(const std::u16string& text, int chars) {
  chars = std::max(1, chars);
  int lines = 0;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(u'\n', start);
    size_t len = (end == std::u16string::npos ? text.size() : end) - start;
    lines += std::max<int>(1, static_cast<int>((len + chars - 1) / chars));
    if (end == std::u16string::npos) break;
    start = end + 1;
  }
  return lines;
}

void DestroyChildren(HWND hwnd) {
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(hwnd, GW_CHILD)) {
    if (!DestroyWindow(c)) break;
  }
}

// Lays the bubble out below the top bar, across the screen: the title,
// the text, then the buttons in one row.
void Layout(Bubble& b) {
  const int s = GetDisplayScale();
  RECT work{0, 0, 240 * s, 320 * s};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);  // a failure keeps the default
  const int width = work.right - work.left;
  const int inner = width - 2 * kMargin * s;
  DestroyChildren(b.hwnd);
  int y = kMargin * s;
  CreateWindowExW(0, u"STATIC", b.title.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, kMargin * s, y, inner,
                  kLineHeight * s, b.hwnd, reinterpret_cast<HMENU>(static_cast<intptr_t>(kTitleId)), nullptr,
                  nullptr);
  y += (kLineHeight + kMargin) * s;
  const int textHeight = LineCount(b.content.text, inner / (kCharWidth * s)) * kLineHeight * s;
  CreateWindowExW(0, u"STATIC", b.content.text.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFT, kMargin * s, y, inner,
                  textHeight, b.hwnd, reinterpret_cast<HMENU>(static_cast<intptr_t>(kTextId)), nullptr, nullptr);
  y += textHeight + kMargin * s;
  int x = kMargin * s;
  bool any = false;
  for (const BubbleButton& k : b.content.buttons) {
    if (!k.command) continue;
    const int w = std::max<int>(kButtonMinWidth, static_cast<int>(k.label.size()) * kCharWidth + 2 * kMargin) * s;
    CreateWindowExW(0, u"BUTTON", k.label.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, x, y, w,
                    kButtonHeight * s, b.hwnd, reinterpret_cast<HMENU>(static_cast<intptr_t>(*k.command)), nullptr,
                    nullptr);
    x += w + kMargin * s;
    any = true;
  }
  if (any) y += (kButtonHeight + kMargin) * s;
  SetWindowPos(b.hwnd, nullptr, work.left, work.top, width, y, SWP_NOZORDER | SWP_NOACTIVATE);
}

void StartTimer(const Bubble& b) {
  KillTimer(b.hwnd, kExpireTimer);  // none running is fine
  if (b.duration) SetTimer(b.hwnd, kExpireTimer, b.duration * 1000u, nullptr);
}

// Tells the sink, and returns its answer (0 without a sink).
LRESULT Notify(const Bubble& b, UINT code, LPCWSTR link, BOOL timeout) {
  if (!b.sink || !IsWindow(b.sink)) return 0;
  NMSHN n{};
  n.hdr.hwndFrom = b.hwnd;
  n.hdr.idFrom = b.id;
  n.hdr.code = code;
  n.lParam = b.lParam;
  if (code == SHNN_LINKSEL) n.pszLink = link;
  else n.fTimeout = timeout;
  return SendMessageW(b.sink, WM_NOTIFY, static_cast<WPARAM>(b.id), reinterpret_cast<LPARAM>(&n));
}

bool Press(const std::shared_ptr<Bubble>& b, int command) {
  auto k = std::find_if(b->content.buttons.begin(), b->content.buttons.end(),
                        [&](const BubbleButton& x) { return x.command && *x.command == command; });
  if (k == b->content.buttons.end()) return false;
  const BubbleButton button = *k;  // the sink may change or remove the bubble
  const LRESULT answer = Notify(*b, SHNN_LINKSEL, button.name.c_str(), FALSE);
  Log(*b, u"button \"" + button.label + u"\" (" + button.name + u") pressed; the sink answered " +
               FromUtf8(std::to_string(static_cast<long long>(answer))),
      command);
  if (b->sink && IsWindow(b->sink))
    SendMessageW(b->sink, WM_COMMAND, MAKEWPARAM(command, 0), reinterpret_cast<LPARAM>(b->hwnd));
  return true;
}

void TakeDown(const std::shared_ptr<Bubble>& b, const char* why) {
  b->goneBy = why;
  DestroyWindow(b->hwnd);  // logs and forgets it (WM_DESTROY)
}

LRESULT BubbleProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED && lParam) {
        if (auto b = FindByWindow(hwnd)) Press(b, LOWORD(wParam));
      }
      return 0;
    case WM_TIMER:
      if (wParam == kExpireTimer) {
        if (auto b = FindByWindow(hwnd)) {
          KillTimer(hwnd, kExpireTimer);
          Notify(*b, SHNN_DISMISS, nullptr, TRUE);
          TakeDown(b, "expired");
        }
      }
      return 0;
    case WM_DESTROY:
      if (auto b = FindByWindow(hwnd)) {
        const char* why = b->goneBy;
        if (!why) Log(*b, u"gone: its sink window was destroyed");
        else if (std::strcmp(why, "expired") == 0)
          Log(*b, u"gone: its " + Num(b->duration) + u" s ran out");
        else
          Log(*b, u"removed");
        Forget(b);
      }
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

bool EnsureClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = BubbleProc;
  wc.lpszClassName = kNotificationBubbleClass;
  if (RegisterClassW(&wc)) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool ValidRecord(const SHNOTIFICATIONDATA* data) {
  return data && data->cbStruct == sizeof(SHNOTIFICATIONDATA);
}

}  // namespace

std::vector<NotificationBubble> OwnNotificationBubbles() {
  std::vector<NotificationBubble> out;
  Registry& r = Bubbles();
  std::lock_guard<std::recursive_mutex> g(r.m);
  for (const auto& b : r.bubbles) {
    NotificationBubble n;
    n.hwnd = b->hwnd;
    n.clsid = b->clsid;
    n.id = b->id;
    n.sink = b->sink;
    n.title = b->title;
    n.text = b->content.text;
    for (const BubbleButton& k : b->content.buttons)
      if (k.command) n.buttons.push_back({*k.command, k.label});
    out.push_back(std::move(n));
  }
  return out;
}

bool PressNotificationButton(int command) {
  std::shared_ptr<Bubble> found;
  {
    Registry& r = Bubbles();
    std::lock_guard<std::recursive_mutex> g(r.m);
    for (auto it = r.bubbles.rbegin(); it != r.bubbles.rend() && !found; ++it) {
      for (const BubbleButton& k : (*it)->content.buttons)
        if (k.command && *k.command == command) found = *it;
    }
  }
  return found && Press(found, command);
}

}  // namespace ce

LRESULT SHNotificationAdd(SHNOTIFICATIONDATA* data) {
  using namespace ce;
  if (!ValidRecord(data) || !data->pszHTML) return ERROR_INVALID_PARAMETER;
  if (data->hwndSink) {
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(data->hwndSink, &pid) || pid != GetCurrentProcessId())
      return ERROR_INVALID_WINDOW_HANDLE;
  }
  if (Find(data->clsid, data->dwID)) return ERROR_ALREADY_EXISTS;
  if (!EnsureClass()) return GetLastError() ? static_cast<LRESULT>(GetLastError()) : ERROR_NOT_READY;
  auto b = std::make_shared<Bubble>();
  b->clsid = data->clsid;
  b->id = data->dwID;
  b->sink = data->hwndSink;
  b->lParam = data->lParam;
  b->duration = data->csDuration;
  b->title = data->pszTitle ? data->pszTitle : u"";
  b->content = ParseBubbleHtml(data->pszHTML);
  // Owned by the sink's top-level window: it goes when that goes.
  b->hwnd = CreateWindowExW(0, kNotificationBubbleClass, b->title.c_str(), WS_POPUP | WS_BORDER, 0, 0, 0, 0,
                            data->hwndSink, nullptr, nullptr, nullptr);
  if (!b->hwnd) return GetLastError() ? static_cast<LRESULT>(GetLastError()) : ERROR_NOT_READY;
  {
    Registry& r = Bubbles();
    std::lock_guard<std::recursive_mutex> g(r.m);
    r.bubbles.push_back(b);
  }
  Layout(*b);
  Log(*b, ShownText(*b));
  if (data->npPriority != SHNP_ICONIC && !(data->grfFlags & SHNF_STRAIGHTTOTRAY)) ShowWindow(b->hwnd, SW_SHOWNA);
  StartTimer(*b);
  return ERROR_SUCCESS;
}

LRESULT SHNotificationUpdate(DWORD mask, SHNOTIFICATIONDATA* data) {
  using namespace ce;
  if (!ValidRecord(data)) return ERROR_INVALID_PARAMETER;
  auto b = Find(data->clsid, data->dwID);
  if (!b) return ERROR_FILE_NOT_FOUND;
  if ((mask & SHNUM_HTML) && data->pszHTML) b->content = ParseBubbleHtml(data->pszHTML);
  if ((mask & SHNUM_TITLE) && data->pszTitle) {
    b->title = data->pszTitle;
    SetWindowTextW(b->hwnd, b->title.c_str());
  }
  if (mask & (SHNUM_HTML | SHNUM_TITLE)) {
    Layout(*b);
    Log(*b, u"updated, " + ShownText(*b));
  }
  if (mask & SHNUM_DURATION) {
    b->duration = data->csDuration;
    StartTimer(*b);
  }
  return ERROR_SUCCESS;
}

LRESULT SHNotificationRemove(const CLSID* clsid, DWORD id) {
  using namespace ce;
  if (!clsid) return ERROR_INVALID_PARAMETER;
  auto b = Find(*clsid, id);
  if (!b) return ERROR_FILE_NOT_FOUND;
  TakeDown(b, "removed");
  return ERROR_SUCCESS;
}
