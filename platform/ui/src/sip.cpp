// The soft input panel's state and call record (see ce/sip.h).
#include "ce/sip.h"

#include <mutex>

#include "ce/errors.h"
#include "cesim/sip.h"

namespace {

constexpr LONG kPanelHeight = 80;  // pixels at scale 1

struct SipState {
  std::mutex m;
  DWORD flags = SIPF_DOCKED;
  std::vector<ce::SipCall> calls;
};

SipState& State() {
  static SipState s;
  return s;
}

void Record(ce::SipCall::Kind kind, DWORD value, DWORD flags) {
  State().calls.push_back({kind, value, flags});
}

}  // namespace

BOOL SipGetInfo(SIPINFO* info) {
  if (!info || info->cbSize != sizeof(SIPINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RECT work{0, ce::kTopBarHeight, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  std::lock_guard<std::mutex> g(State().m);
  const DWORD flags = State().flags;
  info->fdwFlags = flags;
  info->rcVisibleDesktop = work;
  info->rcSipRect = RECT{0, work.bottom, work.right, work.bottom};
  if (flags & SIPF_ON) {
    const LONG scale = work.right > work.bottom ? work.right / 320 : work.right / 240;
    LONG top = (flags & SIPF_FULLSCREEN) ? work.top : work.bottom - kPanelHeight * (scale ? scale : 1);
    if (top < work.top) top = work.top;
    info->rcSipRect.top = top;
    info->rcVisibleDesktop.bottom = top;
  }
  info->dwImDataSize = 0;
  info->pvImData = nullptr;
  return TRUE;
}

BOOL SipSetInfo(SIPINFO* info) {
  if (!info || info->cbSize != sizeof(SIPINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(State().m);
  State().flags = info->fdwFlags;
  Record(ce::SipCall::kSetInfo, info->fdwFlags, info->fdwFlags);
  return TRUE;
}

BOOL SipShowIM(DWORD flags) {
  if (flags != SIPF_ON && flags != SIPF_OFF) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> g(State().m);
  DWORD& f = State().flags;
  f = flags == SIPF_ON ? (f | SIPF_ON) : (f & ~SIPF_ON);
  Record(ce::SipCall::kShowIM, flags, f);
  return TRUE;
}

BOOL SHSipPreference(HWND, SIPSTATE state) {
  std::lock_guard<std::mutex> g(State().m);
  DWORD& f = State().flags;
  switch (state) {
    case SIP_UP:
      f |= SIPF_ON;
      break;
    case SIP_DOWN:
    case SIP_FORCEDOWN:
      f &= ~SIPF_ON;
      break;
    case SIP_UNCHANGED:
    case SIP_INPUTDIALOG:
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  Record(ce::SipCall::kPreference, static_cast<DWORD>(state), f);
  return TRUE;
}

namespace ce {

std::vector<SipCall> SipHistory() {
  std::lock_guard<std::mutex> g(State().m);
  return State().calls;
}

DWORD SipFlags() {
  std::lock_guard<std::mutex> g(State().m);
  return State().flags;
}

void ResetSip(DWORD flags) {
  std::lock_guard<std::mutex> g(State().m);
  State().flags = flags;
  State().calls.clear();
}

}  // namespace ce
