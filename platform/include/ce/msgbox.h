// Message boxes. MessageBoxW hands every box to one replaceable service.
// The default service is headless: it records the box in the device's
// screen log (device.db table `screen_log`) and answers from the device's
// script (table `msgbox_answers`) or else with the default button.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ce/types.h"

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ABORTRETRYIGNORE 0x00000002u
#define MB_YESNOCANCEL 0x00000003u
#define MB_YESNO 0x00000004u
#define MB_RETRYCANCEL 0x00000005u
#define MB_TYPEMASK 0x0000000Fu
#define MB_ICONHAND 0x00000010u
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020u
#define MB_ICONEXCLAMATION 0x00000030u
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION 0x00000040u
#define MB_ICONASTERISK MB_ICONINFORMATION
#define MB_ICONMASK 0x000000F0u
#define MB_DEFBUTTON1 0x00000000u
#define MB_DEFBUTTON2 0x00000100u
#define MB_DEFBUTTON3 0x00000200u
#define MB_DEFBUTTON4 0x00000300u
#define MB_DEFMASK 0x00000F00u
#define MB_APPLMODAL 0x00000000u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// Shows a box and returns the button pressed (0 when the box could not be
// shown). Null text or caption are shown as empty.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);

namespace ce {

struct MessageBoxRequest {
  HWND owner = nullptr;
  std::u16string text;
  std::u16string caption;
  UINT style = MB_OK;
  DWORD stringId = 0;  // the resource string the text came from, 0 for none
};

// Shows a box through the device's message-box service (MessageBoxW fills
// a request and calls this); returns the button pressed. Every box shown
// goes into the device's screen log with its answer, whichever service
// answered it. The service, the screen log and scripted answers are the
// simulator's: cesim/msgbox.h.
int ShowMessageBox(const MessageBoxRequest& request);

}  // namespace ce
