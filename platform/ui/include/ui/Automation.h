// Driving dialogs and message boxes without a person: the steps of a test
// (ui::test::Automation) or of a UI script file (QUILMO_UI_SCRIPT).
//
// An Automation installs itself as the idle driver, the stall handler and
// the message-box service for its lifetime and puts back the previous
// ones when it ends. Its steps run in order, one per idle call of a loop:
//   OnDialog(id, action)  waits until a visible dialog made from template id
//                         is the active window of this process, then runs
//                         the action on it;
//   InDialog(action)      runs the action on the dialog the last OnDialog
//                         matched (fails when it is gone);
//   Do(fn)                runs fn (a check, a screenshot ...);
//   AdvanceClock(ms)      moves the device clock ms forward, stopping at
//                         each timer due on the way so it fires;
//   AnswerBubble(command)  waits until a notification bubble of this
//                         process has the button of that command, then
//                         presses it (the sink hears WM_NOTIFY, then
//                         WM_COMMAND command);
//   ExpectBox(stringId, answer) / ExpectBoxText(part, answer)
//                         the next message box must come from that
//                         resource string / contain that text; it gets
//                         `answer`.
// Failures (recorded, never a hang):
//   - a step whose action fails (control missing or disabled, wrong text);
//     the step is used up;
//   - a message box that is not the current step's: answered with its
//     default button;
//   - a dialog still active when every step is used: cancelled
//     (WM_COMMAND IDCANCEL, then EndDialog);
//   - a step that waits for more than an hour of device time while the
//     clock keeps jumping to timers: used up, the active dialog cancelled;
//   - a stall (the loop has nothing to do and no timer): the layer ends the
//     innermost modal loop with IDCANCEL.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ce/menu.h"
#include "ce/msgbox.h"
#include "ce/system.h"
#include "ce/types.h"

namespace ui {

// 3 when a UI script failed a step or left steps unused (the program's
// exit code then), else 0. Without a failed step, names the first step not
// reached on stderr (once).
int ScriptExitCode();

namespace test {

// A dialog as the user sees it. Actions act like input: they notify the
// parent as the control would. An action that cannot be done reports the
// reason to the sink (the Automation's failure list) and returns false.
class Dialog {
 public:
  using Sink = std::function<void(const std::string&)>;
  explicit Dialog(HWND hwnd, Sink sink = {});

  HWND Hwnd() const { return hwnd_; }
  // The template the dialog was made from (0: none).
  int TemplateId() const;
  // Null when the dialog has no control `id` (no failure recorded).
  HWND FindControl(int id) const;

  std::u16string Text(int id) const;
  // Sets the text as typing would (the parent gets EN_CHANGE).
  bool SetText(int id, std::u16string_view text);
  // A click: the parent gets BN_CLICKED; IDOK/IDCANCEL without such a
  // button go to the dialog as WM_COMMAND. Disabled or hidden: failure.
  bool Click(int id);
  // Brings a check box or radio button to state (BST_*) as clicks would.
  bool SetCheck(int id, int state);
  // Selects item `index` of a combo or list box and notifies the parent.
  bool Select(int id, int index);
  bool Focus(int id);
  // A tap on the middle of control `id` (a press and a lift, as the screen
  // sends them): a notifying static says STN_CLICKED, a button clicks.
  // Disabled or hidden: failure.
  bool TapControl(int id);
  // List views, as a person taps them: the row is scrolled into view and
  // tapped (the parent hears LVN_ITEMCHANGED and NM_CLICK); DoubleTap adds
  // NM_DBLCLK and LVN_ITEMACTIVATE; Activate taps the row, then presses
  // Return on it (LVN_ITEMACTIVATE). Row by index or by its label text.
  bool TapItem(int id, int index);
  bool DoubleTapItem(int id, int index);
  bool ActivateItem(int id, int index);
  // The index of the first row whose label is text (-1, failure recorded).
  int FindItem(int id, std::u16string_view text);
  // A list view's cell text (empty when missing).
  std::u16string ItemText(int id, int row, int column) const;
  // Posts WM_KEYDOWN of a virtual key to the dialog (as the screen does).
  bool Key(UINT vk);

  // Tree views: an item is named by the path of its texts from the top
  // level, separated by '/' ("Files/My Documents"). Closed branches on the
  // way are opened as a user opens them (a tap on the expand button), so
  // children added when a branch opens are found. TreeCheck taps the
  // item's state icon, TreeExpand opens it, TreeSelect taps its label.
  bool TreeCheck(int id, std::u16string_view path);
  bool TreeExpand(int id, std::u16string_view path);
  bool TreeSelect(int id, std::u16string_view path);
  // The item's state image index (1 unchecked, 2 checked, 3 partial, 0
  // none); -1 (no failure recorded) when the tree or the item is missing.
  // Opens nothing.
  int TreeState(int id, std::u16string_view path) const;
  // Menus, tabs and pickers (the dialog's top-level window's menu bar and
  // tab strip):
  // Picks command `command` as a person would: taps the menu bar's button,
  // then the submenus on the way, then the item. A missing or disabled item
  // is a failure (the menus are closed again).
  bool PickMenu(int command);
  // Taps tab `index` of the dialog's tab strip (the owner may refuse).
  bool ChooseTab(int index);
  // Sets the date (hasDate) and/or hour and minute (hasTime) of picker id,
  // keeping the other fields, and notifies the parent DTN_DATETIMECHANGE.
  bool SetDateTime(int id, const SYSTEMTIME& value, bool hasDate, bool hasTime);
  // The items of the menu bar's button `button` (MenuText form); false
  // without a bar or button.
  bool MenuOf(int button, std::string* text) const;

  bool IsVisible(int id) const;
  bool IsEnabled(int id) const;
  // Screen rectangle (all zero when the control is missing).
  RECT Rect(int id) const;

 private:
  HWND Control(int id, const char* action, bool mustBeUsable);
  bool Fail(const std::string& reason);
  HWND hwnd_;
  Sink sink_;
};

// A menu as one line: commands "ID:TEXT", separators "-", submenus
// ">TEXT{...}" with their items; entries joined by '|'. A disabled entry
// ends with "(off)", a checked one with "(on)".
std::string MenuText(HMENU menu);

// One message box seen while an Automation was installed.
struct ShownBox {
  ce::MessageBoxRequest request;
  int answer = 0;
  bool expected = false;  // answered by an ExpectBox/ExpectBoxText step
};

class Automation {
 public:
  using DialogAction = std::function<void(Dialog&)>;

  Automation();
  ~Automation();
  Automation(const Automation&) = delete;
  Automation& operator=(const Automation&) = delete;

  Automation& OnDialog(int templateId, DialogAction action = {});
  Automation& InDialog(DialogAction action);
  Automation& Do(std::function<void(Automation&)> fn);
  Automation& ExpectBox(DWORD stringId, int answer);
  Automation& ExpectBoxText(std::u16string textPart, int answer);
  Automation& AdvanceClock(int64_t ms);
  Automation& AnswerBubble(int command);
  // Names the step added last in failure texts ("line 4"); default
  // "step N (what)".
  Automation& Label(std::string label);

  // Told the count of used steps each time it grows, before the action of
  // the step just used runs (a script's progress across resets).
  Automation& OnProgress(std::function<void(size_t used)> fn);

  // Records a failure of the running step (for Do functions).
  void Fail(const std::string& reason);
  // Told of every failure as it is recorded (script mode prints them).
  void OnFailure(std::function<void(const std::string&)> fn);
  // After the first failure: drop the remaining steps and cancel every
  // dialog that becomes idle (script mode).
  void SetStopOnFailure(bool stop);

  const std::vector<std::string>& Failures() const;
  const std::vector<ShownBox>& Boxes() const;
  // Every step used.
  bool Done() const;
  // Labels of the steps not used yet.
  std::vector<std::string> Remaining() const;

  struct State;  // shared with the installed hooks

 private:
  std::shared_ptr<State> s_;
};

// ---- UI script files ----------------------------------------------------
// One step per line; blank lines and lines starting with '#' are skipped.
// Words are separated by blanks; a word in double quotes may hold blanks
// (\" and \\ inside). Numbers are decimal or 0x hex.
//   dialog ID               wait for dialog ID to be active (the current dialog)
//   set ID TEXT             type TEXT into control ID of the current dialog
//   click ID | focus ID | key VK | check ID 0|1|2 | select ID INDEX
//   tap ID                  press and lift on the middle of control ID (a link)
//   box STRINGID ANSWER     the next box comes from that string
//   boxtext "PART" ANSWER   the next box contains PART
//                           ANSWER: ok cancel yes no abort retry ignore or a number
//   advance MS              move the device clock
//   bubble COMMAND          press the button of that command on the notification bubble
//   expect-text ID "TEXT" | expect-visible ID 0|1 | expect-enabled ID 0|1
//   list-tap ID ROW | list-dbltap ID ROW | list-activate ID ROW
//                           ROW: an index, or "=LABEL" for the first row with that label
//   expect-item ID ROW COLUMN "TEXT"  a list view's cell shows TEXT
//   screenshot NAME         writes DIR/NAME.screen.xml (NAME: letters, digits, - _ .)
//   card insert|remove NAME a storage card arrives or goes ("Storage Card")
//   tree-check ID "PATH"    tap the state icon of a tree view's item (PATH: texts joined by '/')
//   tree-expand ID "PATH" | tree-select ID "PATH"   open the item's branch / tap its label
//   expect-tree ID "PATH" STATE   STATE: unchecked checked partial none or the state image index
//   menu COMMAND            pick that command from the menu bar (taps the button and submenus)
//   tab INDEX               tap tab INDEX of the dialog's tab strip
//   datetime ID VALUE       set picker ID: "YYYY-MM-DD", "HH:MM" or "YYYY-MM-DD HH:MM"
//   expect-menu BUTTON TEXT the menu of bar button BUTTON reads TEXT (MenuText form)
//   program NAME            the steps up to the next 'program' line drive the
//                           next start of the program file NAME (case ignored,
//                           "Halvey.exe"); see ui/ScriptScope.h. A script with
//                           'program' lines begins with one.
struct ScriptStep {
  enum class Kind {
    Dialog, Set, Click, Check, Select, Focus, Key, Box, BoxText, Advance,
    ExpectText, ExpectVisible, ExpectEnabled, Screenshot, Card, Bubble,
    TreeCheck, TreeExpand, TreeSelect, ExpectTree,
    Menu, Tab, DateTime, ExpectMenu,
    ListTap, ListDoubleTap, ListActivate, ExpectItem, Tap,
    Program  // starts a section (ui/ScriptScope.h); no step of its own
  };
  Kind kind = Kind::Dialog;
  int line = 0;
  int64_t id = 0;     // template, control or string id; VK; ms for advance; bubble command
  int64_t value = 0;  // check state, index, answer, expected 0/1, card: 1 insert, tree state
  // set/expect-text text, boxtext part, screenshot name, card name, tree path,
  // program name, expect-menu text, row label
  std::u16string text;
  SYSTEMTIME time{};  // datetime: the value; value bit 1 date given, bit 2 time given
  int64_t column = 0;   // expect-item column
  std::u16string expected;  // expect-item text
};

// Parses a script; false with "line N: reason" in *error.
bool ParseScript(std::string_view text, std::vector<ScriptStep>* steps, std::string* error);
// Adds the steps to an Automation, labelled "line N".
void AddScriptSteps(Automation& a, const std::vector<ScriptStep>& steps);

}  // namespace test
}  // namespace ui
