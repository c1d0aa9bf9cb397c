// MessageBoxW and the headless message-box service.
#include "ce/msgbox.h"

#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <optional>

#include "ce/errors.h"
#include "ce/process.h"
#include "cesim/device.h"
#include "cesim/msgbox.h"
#include "process/process_table.h"

namespace ce {
namespace {

struct ServiceSlot {
  std::mutex lock;
  MessageBoxService service;
};

ServiceSlot& Slot() {
  static ServiceSlot* s = new ServiceSlot;
  return *s;
}

// Boxes the headless service logged on this thread (a service that hands
// a box on to it must not get it logged twice).
thread_local uint64_t t_headlessLogged = 0;

// Adds a box shown at device time shownMs and its answer to the screen
// log, in one write transaction with beforeLog (which may change the
// answer; its false writes nothing).
template <class BeforeLog>
bool LogBox(Device* d, const MessageBoxRequest& r, int64_t shownMs, int* answer, BeforeLog beforeLog) {
  return d->Transaction([&] {
    if (!beforeLog()) return false;
    Stmt s(d->Db(),
           "INSERT INTO screen_log(time_ms, pid, program, caption, text, style, answer)"
           " VALUES(?, ?, ?, ?, ?, ?, ?)");
    return s.Bind(1, shownMs)
        .Bind(2, static_cast<int64_t>(getpid()))
        .Bind(3, std::u16string_view(OwnProgramPath()))
        .Bind(4, std::u16string_view(r.caption))
        .Bind(5, std::u16string_view(r.text))
        .Bind(6, static_cast<int64_t>(r.style))
        .Bind(7, *answer)
        .Run();
  });
}

Device* CurrentDevice() {
  DWORD saved = GetLastError();
  Device* d = Device::Current();
  SetLastError(saved);
  return d;
}

// Takes the first scripted answer fitting the box into *answer (left alone
// when none fits); runs inside the transaction that logs the box. False
// when the answer could not be used up.
bool TakeScriptedAnswer(Device* d, const MessageBoxRequest& r, const std::vector<int>& buttons,
                        int* answer) {
  Stmt s(d->Db(), "SELECT id, match, answer FROM msgbox_answers ORDER BY id");
  int rc;
  while ((rc = sqlite3_step(s.raw())) == SQLITE_ROW) {
    int scripted = static_cast<int>(s.Int(2));
    if (std::find(buttons.begin(), buttons.end(), scripted) == buttons.end()) continue;
    std::u16string match = s.IsNull(1) ? std::u16string() : s.Text16(1);
    if (!match.empty() && r.text.find(match) == std::u16string::npos &&
        r.caption.find(match) == std::u16string::npos) {
      continue;
    }
    int64_t id = s.Int(0);
    s.Reset();
    Stmt del(d->Db(), "DELETE FROM msgbox_answers WHERE id = ?");
    if (!del.Bind(1, id).Run()) return false;
    *answer = scripted;
    return true;
  }
  return rc == SQLITE_DONE;
}

}  // namespace

std::vector<int> MessageBoxButtons(UINT style) {
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

int DefaultMessageBoxAnswer(UINT style) {
  std::vector<int> buttons = MessageBoxButtons(style);
  size_t index = (style & MB_DEFMASK) >> 8;
  return index < buttons.size() ? buttons[index] : buttons[0];
}

void SetMessageBoxService(MessageBoxService service) {
  ServiceSlot& slot = Slot();
  std::lock_guard<std::mutex> g(slot.lock);
  slot.service = std::move(service);
}

MessageBoxService GetMessageBoxService() {
  ServiceSlot& slot = Slot();
  std::lock_guard<std::mutex> g(slot.lock);
  return slot.service;
}

int HeadlessMessageBox(const MessageBoxRequest& r) {
  int answer = DefaultMessageBoxAnswer(r.style);
  Device* d = CurrentDevice();
  if (!d || !proc::EnsureTables(d)) return answer;
  std::vector<int> buttons = MessageBoxButtons(r.style);
  // Script lookup, answer use and the log line in one write transaction.
  bool logged = LogBox(d, r, proc::DeviceNowMs(d), &answer,
                       [&] { return TakeScriptedAnswer(d, r, buttons, &answer); });
  if (!logged) {  // the box could not be shown: nothing logged, no answer used
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  ++t_headlessLogged;
  return answer;
}

std::vector<ScreenLogEntry> ReadScreenLog() {
  std::vector<ScreenLogEntry> log;
  Device* d = CurrentDevice();
  if (!d || !proc::EnsureTables(d)) return log;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(),
         "SELECT id, time_ms, pid, program, caption, text, style, answer FROM screen_log"
         " ORDER BY id");
  while (s.Step()) {
    ScreenLogEntry e;
    e.id = s.Int(0);
    e.timeMs = s.Int(1);
    e.pid = static_cast<DWORD>(s.Int(2));
    e.program = s.Text16(3);
    e.caption = s.Text16(4);
    e.text = s.Text16(5);
    e.style = static_cast<UINT>(s.Int(6));
    e.answer = static_cast<int>(s.Int(7));
    log.push_back(std::move(e));
  }
  return log;
}

bool AddScreenLogEntry(std::u16string_view caption, std::u16string_view text, int answer) {
  Device* d = CurrentDevice();
  if (!d || !proc::EnsureTables(d)) return false;
  MessageBoxRequest r;
  r.caption = caption;
  r.text = text;
  return LogBox(d, r, proc::DeviceNowMs(d), &answer, [] { return true; });
}

bool AddMessageBoxAnswer(std::u16string_view match, int answer) {
  Device* d = CurrentDevice();
  if (!d || !proc::EnsureTables(d)) return false;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "INSERT INTO msgbox_answers(match, answer) VALUES(?, ?)");
  if (match.empty()) s.BindNull(1);
  else s.Bind(1, match);
  return s.Bind(2, answer).Run();
}

size_t PendingMessageBoxAnswers() {
  Device* d = CurrentDevice();
  if (!d || !proc::EnsureTables(d)) return 0;
  std::lock_guard<std::recursive_mutex> g(d->DbLock());
  Stmt s(d->Db(), "SELECT COUNT(*) FROM msgbox_answers");
  return s.Step() ? static_cast<size_t>(s.Int(0)) : 0;
}

}  // namespace ce

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  ce::MessageBoxRequest r;
  r.owner = owner;
  r.text = text ? text : u"";
  r.caption = caption ? caption : u"";
  r.style = style;
  return ce::ShowMessageBox(r);
}

int ce::ShowMessageBox(const MessageBoxRequest& r) {
  MessageBoxService service;
  {
    ServiceSlot& slot = Slot();
    std::lock_guard<std::mutex> g(slot.lock);
    service = slot.service;
  }
  if (!service) return HeadlessMessageBox(r);
  ce::Device* d = ce::CurrentDevice();
  const int64_t shownMs = d ? ce::proc::DeviceNowMs(d) : 0;
  const uint64_t loggedBefore = ce::t_headlessLogged;
  int answer = service(r);
  // Every box shown goes into the screen log, whoever answered it (a window
  // on the screen, a UI script). A box that was not shown (0) is not logged;
  // a log line that cannot be written does not take back the answer.
  if (d && answer != 0 && ce::t_headlessLogged == loggedBefore && ce::proc::EnsureTables(d))
    ce::LogBox(d, r, shownMs, &answer, [] { return true; });
  return answer;
}
