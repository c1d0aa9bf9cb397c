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

using MessageBoxService = std::function<int(const MessageBoxRequest&)>;

// Shows a box through the installed service (MessageBoxW fills a request
// and calls this); returns the button pressed. Every box shown goes into
// the device's screen log with its answer, whichever service answered it.
int ShowMessageBox(const MessageBoxRequest& request);
// Installs the service every MessageBoxW goes to; an empty function
// restores the headless service.
void SetMessageBoxService(MessageBoxService service);
// The installed service (empty: the headless one).
MessageBoxService GetMessageBoxService();
// The headless service (other services may delegate to it).
int HeadlessMessageBox(const MessageBoxRequest& request);

// The buttons of a style's box type, left to right (MB_OK for an unknown
// type), and the default button the DEFBUTTON bits pick (the first button
// when they name a button the box lacks).
std::vector<int> MessageBoxButtons(UINT style);
int DefaultMessageBoxAnswer(UINT style);

struct ScreenLogEntry {
  int64_t id = 0;
  int64_t timeMs = 0;  // device clock, milliseconds since 1970 UTC
  DWORD pid = 0;
  std::u16string program;  // device path of the program that showed it
  std::u16string caption;
  std::u16string text;
  UINT style = 0;
  int answer = 0;
};
// Every box of the current device, oldest first (empty without a device).
std::vector<ScreenLogEntry> ReadScreenLog();

// Adds a scripted answer to the current device. Boxes take the oldest
// entry whose answer is one of their buttons and whose match is empty or
// found in their text or caption; the entry is used up.
bool AddMessageBoxAnswer(std::u16string_view match, int answer);
// Scripted answers not used yet.
size_t PendingMessageBoxAnswers();

}  // namespace ce
