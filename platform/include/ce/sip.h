// The soft input panel (on-screen keyboard): one flags word per process
// with the panel's state, changed through the classic calls. There is no
// panel to draw; every call is recorded so that tests can see what a
// program asked for (cesim/sip.h).
#pragma once

#include <vector>

#include "ce/system.h"
#include "ce/types.h"

// ---- panel flags (SIPINFO::fdwFlags) ----
#define SIPF_OFF 0x00000000u
#define SIPF_ON 0x00000001u      // the panel is up
#define SIPF_DOCKED 0x00000002u
#define SIPF_LOCKED 0x00000004u
// The panel covers the whole work area below the title bar while docked.
#define SIPF_FULLSCREEN 0x00000100u

struct SIPINFO {
  DWORD cbSize;  // sizeof(SIPINFO)
  DWORD fdwFlags;
  RECT rcVisibleDesktop;  // work area not covered by the panel
  RECT rcSipRect;         // the panel's rectangle (empty while down)
  DWORD dwImDataSize;
  void* pvImData;
};

// SHSipPreference requests.
enum SIPSTATE {
  SIP_UP = 0,
  SIP_DOWN = 1,
  SIP_FORCEDOWN = 2,
  SIP_UNCHANGED = 3,
  SIP_INPUTDIALOG = 4,
};

// Fills the flags and rectangles; cbSize must be sizeof(SIPINFO) (else
// FALSE, ERROR_INVALID_PARAMETER).
BOOL SipGetInfo(SIPINFO* info);
// Takes the flags word from info (the rectangles are computed, not set).
BOOL SipSetInfo(SIPINFO* info);
// SIPF_ON raises the panel, SIPF_OFF lowers it; other values fail with
// ERROR_INVALID_PARAMETER.
BOOL SipShowIM(DWORD flags);
// The shell's request for a window: SIP_UP raises, SIP_DOWN and
// SIP_FORCEDOWN lower, SIP_UNCHANGED and SIP_INPUTDIALOG change nothing.
// An unknown request fails with ERROR_INVALID_PARAMETER.
BOOL SHSipPreference(HWND hwnd, SIPSTATE state);
