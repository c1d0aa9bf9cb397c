// The simulator's side of message boxes: the replaceable service every box
// goes to (the headless one records it in the device's screen log and
// answers from the device's script), the screen log and the script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ce/msgbox.h"
#include "ce/types.h"

namespace ce {

using MessageBoxService = std::function<int(const MessageBoxRequest&)>;

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

// Adds a line that is no message box to the screen log (sounds, the
// notification bubble): shown now by this program, style 0. False when it
// cannot be written (or without a device).
bool AddScreenLogEntry(std::u16string_view caption, std::u16string_view text, int answer = 0);

// Adds a scripted answer to the current device. Boxes take the oldest
// entry whose answer is one of their buttons and whose match is empty or
// found in their text or caption; the entry is used up.
bool AddMessageBoxAnswer(std::u16string_view match, int answer);
// Scripted answers not used yet.
size_t PendingMessageBoxAnswers();

}  // namespace ce
