#include "app/CredantIF.h"

#include <cstring>
#include <memory>

#include "ce/errors.h"
#include "ce/time.h"
#include "ce/window.h"
#include "core/Log.h"
#include "core/System.h"

namespace {

constexpr const WCHAR* kClass = u"ACredantIF";

#define CLOG(text) Log(0, text, kClass, __LINE__)
#define CERROR(code, text) LogError(code, text, kClass, __LINE__)

bool RegisterReplyClass() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = AfxGetInstanceHandle();
  wc.lpszClassName = ACredantIF::kReplyWindowClass;
  // A class registered earlier in this process serves as well.
  return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

ACredantIF::ACredantIF(CWnd* owner) : m_pOwner(owner) {}

ACredantIF::~ACredantIF() {
  if (m_hWnd) DestroyWindow();
  if (m_hLibrary) FreeLibrary(m_hLibrary);
}

bool ACredantIF::LoadLibrary() {
  if (m_bLoaded) return m_bAvailable;
  m_bLoaded = true;
  if (!System::FileExists(credant::kLibraryPath)) return false;
  CLOG(u"Credant DLL Exists");
  m_hLibrary = LoadLibraryW(credant::kLibraryName);
  if (!m_hLibrary) {
    m_bLoadFailed = true;
    CERROR(GetLastError(), u"Error loading CMGLIB.DLL");
    return false;
  }
  CLOG(u"Credant library loaded");
  FARPROC entry = GetProcAddress(m_hLibrary, credant::kRequestEntry);
  if (!entry) {
    m_bLoadFailed = true;
    CERROR(GetLastError(), u"Error retrieving CMG_Request entry point");
    FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    return false;
  }
  m_pRequest = reinterpret_cast<credant::RequestEntry>(entry);
  CLOG(u"Retrieved CMG_Request funtion entry point");
  m_bAvailable = true;
  return true;
}

bool ACredantIF::NotifyBackupStart() { return Notify(credant::kBackupStart); }
bool ACredantIF::NotifyBackupEnd() { return Notify(credant::kBackupEnd); }
bool ACredantIF::NotifyRestoreStart() { return Notify(credant::kRestoreStart); }
bool ACredantIF::NotifyRestoreEnd() { return Notify(credant::kRestoreEnd); }

bool ACredantIF::CreateReplyWindow() {
  if (m_bWindowCreated) return true;
  const RECT none{0, 0, 0, 0};
  if (!m_pOwner || !m_pOwner->m_hWnd || !RegisterReplyClass() ||
      !Create(kReplyWindowClass, kReplyWindowName, WS_CHILD, none, m_pOwner, 0)) {
    CERROR(GetLastError(), u"Failed to create window to recv async result");
    return false;
  }
  m_bWindowCreated = true;
  return true;
}

bool ACredantIF::Notify(DWORD request) {
  if (!m_pRequest) {
    // Only an available agent is told anything.
    CERROR(0, u"CMG_Request failed");
    return false;
  }
  if (!CreateReplyWindow()) return false;

  m_bReplyReceived = false;
  CredantRequestRecord record;
  std::memset(&record, 0, sizeof record);
  record.size = request <= credant::kBackupEnd ? credant::kBackupRecordSize : credant::kRestoreRecordSize;
  record.request = request;
  // Window handles of the device are 32-bit values.
  record.replyWindow = static_cast<DWORD>(reinterpret_cast<uintptr_t>(m_hWnd));
  record.replyMessage = credant::ReplyMessage(request);
  m_nLastResult = m_pRequest(&record, 0, m_hWnd, record.replyMessage);

  if (m_nLastResult == credant::kDoneAtOnce) return true;
  if (m_nLastResult != credant::kPending) {
    CERROR(static_cast<DWORD>(m_nLastResult), u"CMG_Request failed");
    return false;
  }
  return WaitForReply();
}

bool ACredantIF::PumpMessages() {
  MSG msg;
  while (!m_bReplyReceived && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

bool ACredantIF::WaitForReply() {
  for (int sleeps = 0;; ++sleeps) {
    if (!PumpMessages()) return false;
    if (m_bReplyReceived) return true;
    if (sleeps == kWaitSleeps) break;
    Sleep(kWaitSleepMs);
  }
  CERROR(0, u"Timeout waiting for Credant Request");
  return false;
}

LRESULT ACredantIF::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= credant::kFirstReplyMessage && msg <= credant::kLastReplyMessage) {
    m_bReplyReceived = true;
    return 0;
  }
  return CWnd::WindowProc(msg, wParam, lParam);
}

SecurityAgentFactory ACredantIF::MakeFactory() {
  return []() -> std::unique_ptr<ASecurityAgentIF> { return std::make_unique<ACredantIF>(AfxGetMainWnd()); };
}
