// CWnd: handle maps, message routing and the window wrappers.
#include <memory>
#include <unordered_map>
#include <vector>

#include "ce/dialog.h"
#include "ce/errors.h"
#include "ce/module.h"
#include "ce/text.h"
#include "mfc_internal.h"

namespace {

struct Maps {
  std::unordered_map<HWND, CWnd*> permanent;
  std::unordered_map<HWND, std::unique_ptr<CWnd>> temporary;
  // Temporaries replaced by a permanent object: still usable by whoever
  // holds them until the next idle clean-up.
  std::vector<std::unique_ptr<CWnd>> retired;
};
Maps& M() {
  static Maps m;
  return m;
}

// One message being handled by a CWnd (for Default()).
struct Frame {
  CWnd* wnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
  bool defaultCalled = false;
  bool notHandled = false;
  LRESULT defaultResult = 0;
  Frame* prev = nullptr;
};
thread_local Frame* t_frame = nullptr;
thread_local CWnd* t_pending = nullptr;

Frame* FrameOf(const CWnd* w) { return (t_frame != nullptr && t_frame->wnd == w) ? t_frame : nullptr; }

LRESULT FrameResult(const CWnd* w) {
  Frame* f = FrameOf(w);
  return (f != nullptr && f->defaultCalled) ? f->defaultResult : 0;
}

bool IsCtlColor(UINT msg) { return msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC; }

}  // namespace

CWnd*& WndAccess::Pending() { return t_pending; }

void WndAccess::Bind(CWnd* w, HWND h) {
  w->m_hWnd = h;
  auto temp = M().temporary.find(h);
  if (temp != M().temporary.end()) {
    M().retired.push_back(std::move(temp->second));
    M().temporary.erase(temp);
  }
  M().permanent[h] = w;
}

void WndAccess::Unbind(CWnd* w, bool restore) {
  HWND h = w->m_hWnd;
  if (h == nullptr) return;
  auto it = M().permanent.find(h);
  if (it != M().permanent.end() && it->second == w) M().permanent.erase(it);
  if (restore && w->m_pfnSuper != nullptr && IsWindow(h) &&
      reinterpret_cast<WNDPROC>(GetWindowLongPtrW(h, GWLP_WNDPROC)) == &AfxWndProc) {
    SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(w->m_pfnSuper));
  }
  w->m_hWnd = nullptr;
  w->m_pfnSuper = nullptr;
  w->m_dlgRouted = false;
}

LRESULT WndAccess::Dispatch(CWnd* w, HWND h, UINT msg, WPARAM wParam, LPARAM lParam, bool* notHandled) {
  Frame f{w, msg, wParam, lParam};
  f.prev = t_frame;
  t_frame = &f;
  LRESULT r = w->WindowProc(msg, wParam, lParam);
  t_frame = f.prev;
  if (notHandled != nullptr) *notHandled = f.notHandled;
  if (msg == WM_DESTROY) {
    auto it = M().permanent.find(h);
    if (it != M().permanent.end() && it->second == w) {
      CWinApp* app = AfxGetApp();
      bool wasMain = app != nullptr && app->m_pMainWnd == w;
      Unbind(w, true);
      if (wasMain) {
        app->m_pMainWnd = nullptr;
        PostQuitMessage(0);
      }
      w->PostNcDestroy();
    }
  }
  return r;
}

// ---- routing entry points ----

LRESULT AfxWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
  if (wnd == nullptr) {
    // Only a window being created takes the pending object (WM_CREATE is
    // its first message), never one that outlived its object.
    CWnd* pending = t_pending;
    if (msg != WM_CREATE || pending == nullptr || pending->m_hWnd != nullptr) {
      return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    t_pending = nullptr;
    WndAccess::Bind(pending, hwnd);
    wnd = pending;
  }
  return WndAccess::Dispatch(wnd, hwnd, msg, wParam, lParam, nullptr);
}

INT_PTR AfxDlgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
  if (wnd == nullptr) {
    // A dialog being made (WM_CREATE, WM_SETFONT, WM_INITDIALOG come first)
    // takes the pending object; a dialog that outlived its object does not.
    const bool creating = msg == WM_CREATE || msg == WM_SETFONT || msg == WM_INITDIALOG;
    CWnd* pending = t_pending;
    if (creating && pending != nullptr && pending->m_hWnd == nullptr) {
      t_pending = nullptr;
    } else if (msg == WM_INITDIALOG && lParam != 0) {
      pending = reinterpret_cast<CWnd*>(lParam);
      if (pending->m_hWnd != nullptr) return FALSE;
    } else {
      return FALSE;
    }
    WndAccess::Bind(pending, hwnd);
    WndAccess::SetDlgRouted(pending, true);
    wnd = pending;
  }
  bool notHandled = false;
  LRESULT r = WndAccess::Dispatch(wnd, hwnd, msg, wParam, lParam, &notHandled);
  if (notHandled) return FALSE;
  if (msg == WM_INITDIALOG || IsCtlColor(msg)) return r;
  if (IsWindow(hwnd)) SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, r);
  return TRUE;
}

namespace ui::detail {

bool RegisterAfxWndClass() {
  // Class tables belong to the current device: register whenever asked.
  WNDCLASSW wc{};
  wc.lpfnWndProc = &AfxWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kAfxWndClass;
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

namespace {
LRESULT MsgFilterHook(int code, WPARAM, LPARAM lParam) {
  if (code < 0 || lParam == 0) return 0;
  return CWnd::WalkPreTranslateTree(reinterpret_cast<MSG*>(lParam)) ? 1 : 0;
}
}  // namespace

void EnsureMsgFilterHook() {
  static HHOOK hook = SetWindowsHookExW(WH_MSGFILTER, &MsgFilterHook, nullptr, 0);
  (void)hook;
}

}  // namespace ui::detail

// ---- handle maps ----

CWnd::~CWnd() {
  if (m_temporary || m_hWnd == nullptr) return;
  HWND h = m_hWnd;
  bool bound = FromHandlePermanent(h) == this;
  WndAccess::Unbind(this, true);
  // The window must not outlive its object (its messages would reach a
  // dead object); unbound first so that they go to the default handling.
  if (bound && IsWindow(h)) ::DestroyWindow(h);
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  auto it = M().permanent.find(hwnd);
  return it == M().permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  if (CWnd* w = FromHandlePermanent(hwnd)) return w;
  auto& temp = M().temporary[hwnd];
  if (!temp) {
    temp = std::make_unique<CWnd>();
    temp->m_hWnd = hwnd;
    temp->m_temporary = true;
  }
  return temp.get();
}

void AfxDeleteTempObjects() {
  auto& temp = M().temporary;
  for (auto it = temp.begin(); it != temp.end();) {
    if (!IsWindow(it->first)) {
      it->second->m_hWnd = nullptr;
      it = temp.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& r : M().retired) r->m_hWnd = nullptr;
  M().retired.clear();
  ui::detail::DeleteGdiTemps();
}

BOOL CWnd::Attach(HWND hwnd) {
  if (hwnd == nullptr || m_hWnd != nullptr || FromHandlePermanent(hwnd) != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WndAccess::Bind(this, hwnd);
  return TRUE;
}

HWND CWnd::Detach() {
  HWND h = m_hWnd;
  WndAccess::Unbind(this, true);
  return h;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  if (!Attach(hwnd)) return FALSE;
  SetLastError(0);
  LONG_PTR old = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc));
  if (old == 0 && GetLastError() != 0) {
    WndAccess::Unbind(this, false);
    return FALSE;
  }
  m_pfnSuper = reinterpret_cast<WNDPROC>(old);
  if (m_pfnSuper == &AfxWndProc) m_pfnSuper = nullptr;  // a window of our own class
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (parent == nullptr) return FALSE;
  HWND h = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  return h != nullptr && SubclassWindow(h);
}

HWND CWnd::UnsubclassWindow() { return Detach(); }

BOOL CWnd::Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  LPVOID param) {
  return CreateEx(0, className, windowName, style, rect, parent, id, param);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                    CWnd* parent, UINT id, LPVOID param) {
  if (m_hWnd != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool own = className == nullptr ||
             (!IS_INTRESOURCE(className) && ce::EqualNoCase(std::u16string_view(className), kAfxWndClass));
  if (own) {
    ui::detail::RegisterAfxWndClass();
    className = kAfxWndClass;
  }
  int x = CW_USEDEFAULT, y = CW_USEDEFAULT, w = CW_USEDEFAULT, h = CW_USEDEFAULT;
  if (rect.left != CW_USEDEFAULT) {
    x = rect.left, y = rect.top, w = rect.right - rect.left, h = rect.bottom - rect.top;
  }
  HMENU menu = (style & WS_CHILD) != 0 ? reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)) : nullptr;
  CWnd* previous = t_pending;
  t_pending = own ? this : nullptr;
  HWND hwnd = CreateWindowExW(exStyle, className, windowName, style, x, y, w, h,
                              parent != nullptr ? parent->m_hWnd : nullptr, menu, AfxGetInstanceHandle(), param);
  if (t_pending == this) t_pending = previous;
  if (hwnd == nullptr) {
    if (m_hWnd != nullptr) WndAccess::Unbind(this, false);
    return FALSE;
  }
  if (own) {
    if (m_hWnd != hwnd) WndAccess::Bind(this, hwnd);
    return TRUE;
  }
  if (!SubclassWindow(hwnd)) {
    ::DestroyWindow(hwnd);
    return FALSE;
  }
  return TRUE;
}

BOOL CWnd::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  HWND h = m_hWnd;
  BOOL ok = ::DestroyWindow(h);
  // A routed window was unbound at WM_DESTROY (and the object may be gone:
  // look only at the map). One that is merely attached is unbound here.
  if (ok && FromHandlePermanent(h) == this) WndAccess::Unbind(this, false);
  return ok;
}

// ---- state ----

CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
void CWnd::GetDlgItem(int id, HWND* hwnd) const { *hwnd = ::GetDlgItem(m_hWnd, id); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetNextDlgTabItem(CWnd* control, BOOL previous) const {
  return FromHandle(::GetNextDlgTabItem(m_hWnd, control != nullptr ? control->m_hWnd : nullptr, previous));
}
void CWnd::SetWindowText(LPCWSTR text) { ::SetWindowTextW(m_hWnd, text); }
void CWnd::GetWindowText(CString& text) const {
  int len = ::GetWindowTextLengthW(m_hWnd);
  LPWSTR buf = text.GetBuffer(len);
  int got = ::GetWindowTextW(m_hWnd, buf, len + 1);
  text.ReleaseBuffer(got);
}
int CWnd::GetWindowText(LPWSTR text, int maxCount) const { return ::GetWindowTextW(m_hWnd, text, maxCount); }
int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}
void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
  MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}
BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(m_hWnd, insertAfter != nullptr ? insertAfter->m_hWnd : HWND_TOP, x, y, cx, cy, flags);
}
CWnd* CWnd::GetWindow(UINT command) const { return FromHandle(::GetWindow(m_hWnd, command)); }
BOOL CWnd::IsChild(const CWnd* wnd) const { return wnd != nullptr && ::IsChild(m_hWnd, wnd->m_hWnd); }
void CWnd::MapWindowPoints(CWnd* to, LPPOINT points, UINT count) const {
  ::MapWindowPoints(m_hWnd, to != nullptr ? to->m_hWnd : nullptr, points, count);
}
void CWnd::MapWindowPoints(CWnd* to, LPRECT rect) const { MapWindowPoints(to, reinterpret_cast<LPPOINT>(rect), 2); }
void CWnd::GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }
void CWnd::ScreenToClient(LPRECT rect) const {
  ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->left));
  ::ScreenToClient(m_hWnd, reinterpret_cast<LPPOINT>(&rect->right));
}
void CWnd::ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
void CWnd::ClientToScreen(LPRECT rect) const {
  ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(&rect->left));
  ::ClientToScreen(m_hWnd, reinterpret_cast<LPPOINT>(&rect->right));
}
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }
CWnd* CWnd::GetActiveWindow() { return FromHandle(::GetActiveWindow()); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }

static BOOL ModifyLong(HWND h, int index, DWORD remove, DWORD add, UINT flags) {
  DWORD style = static_cast<DWORD>(::GetWindowLongW(h, index));
  DWORD changed = (style & ~remove) | add;
  if (changed == style) return FALSE;
  ::SetWindowLongW(h, index, static_cast<LONG>(changed));
  if (flags != 0) ::SetWindowPos(h, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
  return TRUE;
}
BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) { return ModifyLong(m_hWnd, GWL_STYLE, remove, add, flags); }
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
  return ModifyLong(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}
LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageW(m_hWnd, msg, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ::PostMessageW(m_hWnd, msg, wParam, lParam);
}
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) { return ::SetTimer(m_hWnd, id, elapse, proc); }
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
void CWnd::Invalidate(BOOL erase) { ::InvalidateRect(m_hWnd, nullptr, erase); }
void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) { ::InvalidateRect(m_hWnd, rect, erase); }
void CWnd::ValidateRect(LPCRECT rect) { ::ValidateRect(m_hWnd, rect); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
void CWnd::BringWindowToTop() { ::BringWindowToTop(m_hWnd); }
void CWnd::SetFont(CFont* font, BOOL redraw) {
  ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font != nullptr ? font->m_hObject : nullptr),
                 static_cast<LPARAM>(redraw));
}
CFont* CWnd::GetFont() const {
  HFONT f = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  return f != nullptr ? CFont::FromHandle(f) : nullptr;
}

// ---- dialog items ----

LRESULT CWnd::SendDlgItemMessage(int id, UINT msg, WPARAM wParam, LPARAM lParam) const {
  return ::SendDlgItemMessageW(m_hWnd, id, msg, wParam, lParam);
}
int CWnd::GetDlgItemText(int id, CString& text) const {
  HWND h = ::GetDlgItem(m_hWnd, id);
  text.Empty();
  if (h == nullptr) return 0;
  int len = ::GetWindowTextLengthW(h);
  LPWSTR buf = text.GetBuffer(len);
  int got = ::GetWindowTextW(h, buf, len + 1);
  text.ReleaseBuffer(got);
  return got;
}
int CWnd::GetDlgItemText(int id, LPWSTR text, int maxCount) const {
  return static_cast<int>(::GetDlgItemTextW(m_hWnd, id, text, maxCount));
}
void CWnd::SetDlgItemText(int id, LPCWSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }
UINT CWnd::GetDlgItemInt(int id, BOOL* translated, BOOL isSigned) const {
  return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
}
void CWnd::SetDlgItemInt(int id, UINT value, BOOL isSigned) { ::SetDlgItemInt(m_hWnd, id, value, isSigned); }
UINT CWnd::IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
void CWnd::CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }
void CWnd::CheckRadioButton(int firstId, int lastId, int checkId) {
  ::CheckRadioButton(m_hWnd, firstId, lastId, checkId);
}
int CWnd::GetCheckedRadioButton(int firstId, int lastId) const {
  for (int id = firstId; id <= lastId; ++id) {
    if (::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED) return id;
  }
  return 0;
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  try {
    DoDataExchange(&dx);
  } catch (const CUserException&) {
    return FALSE;
  }
  return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

int CWnd::MessageBox(LPCWSTR text, LPCWSTR caption, UINT type) {
  std::u16string name;
  if (caption == nullptr) {
    name = ui::detail::AppName();
    caption = name.c_str();
  }
  return ::MessageBoxW(m_hWnd, text, caption, type);
}

// ---- routing ----

BOOL CWnd::WalkPreTranslateTree(MSG* msg) {
  if (msg == nullptr) return FALSE;
  for (HWND h = msg->hwnd; h != nullptr;) {
    CWnd* w = FromHandlePermanent(h);
    if (w != nullptr && w->PreTranslateMessage(msg)) return TRUE;
    if (!IsWindow(h) || (static_cast<DWORD>(::GetWindowLongW(h, GWL_STYLE)) & WS_CHILD) == 0) break;
    h = ::GetParent(h);
  }
  return FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CWnd::Default() {
  Frame* f = FrameOf(this);
  if (f == nullptr) return 0;
  f->defaultCalled = true;
  f->defaultResult = DefWindowProc(f->msg, f->wParam, f->lParam);
  return f->defaultResult;
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper != nullptr) return CallWindowProcW(m_pfnSuper, m_hWnd, msg, wParam, lParam);
  if (m_dlgRouted) {
    Frame* f = FrameOf(this);
    if (f != nullptr && f->msg == msg) {
      f->notHandled = true;  // the dialog manager's default runs after the dialog procedure
      return 0;
    }
    return DefDlgProcW(m_hWnd, msg, wParam, lParam);
  }
  return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // A control's own object hears its notifications, drawing requests and
  // colour questions before its parent (reflection): a true answer of its
  // OnChildNotify is the message's answer.
  auto ReflectToChild = [](CWnd* parent, HWND child, UINT m, WPARAM w, LPARAM l, LRESULT* result) {
    CWnd* from = child ? FromHandlePermanent(child) : nullptr;
    return from && from != parent && from->OnChildNotify(m, w, l, result);
  };
  switch (msg) {
    case WM_COMMAND: {
      LRESULT result = 0;
      if (lParam != 0 && ReflectToChild(this, reinterpret_cast<HWND>(lParam), msg, wParam, lParam, &result))
        return result;
      return OnCommand(wParam, lParam) ? 0 : Default();
    }
    case WM_DRAWITEM: {
      LRESULT result = 0;
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item && ReflectToChild(this, item->hwndItem, msg, wParam, lParam, &result)) return result;
      break;
    }
    case WM_NOTIFY: {
      LRESULT result = 0;
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      CWnd* from = hdr ? FromHandlePermanent(hdr->hwndFrom) : nullptr;
      if (from && from != this && from->OnChildNotify(msg, wParam, lParam, &result)) return result;
      return OnNotify(wParam, lParam, &result) ? result : Default();
    }
    case WM_TIMER:
      OnTimer(static_cast<UINT_PTR>(wParam));
      return FrameResult(this);
    case WM_SETTINGCHANGE:
      OnSettingChange(static_cast<UINT>(wParam), reinterpret_cast<LPCWSTR>(lParam));
      return FrameResult(this);
    case WM_PAINT:
      OnPaint();
      return FrameResult(this);
    case WM_HELP:
      return OnHelpInfo(reinterpret_cast<HELPINFO*>(lParam));
    case WM_ACTIVATE:
      OnActivate(LOWORD(wParam), FromHandle(reinterpret_cast<HWND>(lParam)), HIWORD(wParam) != 0);
      return FrameResult(this);
    case WM_SETFOCUS:
      OnSetFocus(FromHandle(reinterpret_cast<HWND>(wParam)));
      return FrameResult(this);
    case WM_KILLFOCUS:
      OnKillFocus(FromHandle(reinterpret_cast<HWND>(wParam)));
      return FrameResult(this);
    case WM_DESTROY:
      OnDestroy();
      return FrameResult(this);
    case WM_CREATE:
      return OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam));
    case WM_CLOSE:
      OnClose();
      return FrameResult(this);
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
      return FrameResult(this);
    case WM_INITDIALOG:
      return HandleInitDialog(wParam, lParam);
    default:
      break;
  }
  if (IsCtlColor(msg) || msg == WM_CTLCOLORSCROLLBAR) {
    LRESULT result = 0;
    if (ReflectToChild(this, reinterpret_cast<HWND>(lParam), msg, wParam, lParam, &result)) return result;
    CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(wParam));
    UINT kind = msg == WM_CTLCOLORSCROLLBAR ? CTLCOLOR_SCROLLBAR : msg - WM_CTLCOLORMSGBOX;
    return reinterpret_cast<LRESULT>(OnCtlColor(dc, FromHandle(reinterpret_cast<HWND>(lParam)), kind));
  }
  return DefWindowProc(msg, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM, LPARAM) { return FALSE; }
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) { return FALSE; }
BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return FALSE; }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnSettingChange(UINT, LPCWSTR) { Default(); }
void CWnd::OnPaint() {
  if (m_pfnSuper != nullptr || m_dlgRouted) {
    Default();
    return;
  }
  CPaintDC dc(this);
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
void CWnd::OnSetFocus(CWnd*) { Default(); }
void CWnd::OnKillFocus(CWnd*) { Default(); }
void CWnd::OnActivate(UINT, CWnd*, BOOL) { Default(); }
BOOL CWnd::OnHelpInfo(HELPINFO*) { return static_cast<BOOL>(Default()); }
void CWnd::OnDestroy() { Default(); }
int CWnd::OnCreate(LPCREATESTRUCTW) { return static_cast<int>(Default()); }
void CWnd::OnClose() { Default(); }
void CWnd::OnSize(UINT, int, int) { Default(); }
LRESULT CWnd::HandleInitDialog(WPARAM, LPARAM) { return Default(); }
void CWnd::PostNcDestroy() {}
