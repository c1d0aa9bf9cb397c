// Credant's device-security library "CMGLIB.DLL", outside the product, as
// "\Windows\CMGLib.dll". Its entry CMG_Request answers each request as the
// device's profile says (credant_request_N = CODE [reply MS], default 3):
// the code at once and, with "reply MS", the request's reply message posted
// to the reply window MS milliseconds later on the device clock (a timer of
// the calling thread, so the caller's message handling delivers it). Each
// call is recorded as one line of "\Temp\CMGLib.txt":
//   request=3 size=24 window=0x40000002 message=0x8003 answer=0 reply=500
//
// Unlike the setup libraries, it carries no device API of its own: it uses
// the loading program's (its window and timer tables), so a program that
// loads it exports its symbols (ENABLE_EXPORTS). A program without them
// fails to load it, as a device without the agent would.
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "ce/file.h"
#include "ce/module.h"
#include "ce/window.h"
#include "cesim/device.h"
#include "formats/CredantRequestFormat.h"

namespace {

constexpr const WCHAR* kRecord = u"\\Temp\\CMGLib.txt";

struct PendingReply {
  HWND window;
  UINT message;
};

// Replies waiting for their timer, by timer id.
std::mutex g_lock;
std::map<UINT_PTR, PendingReply> g_pending;

void Record(const std::string& line) {
  (void)CreateDirectoryW(u"\\Temp", nullptr);  // usually there already
  HANDLE file = CreateFileW(kRecord, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
    (void)WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string Hex(uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(value));
  return text;
}

ce::CredantAnswer AnswerFor(DWORD request) {
  ce::Device* dev = ce::Device::Current();
  if (!dev || request < 1 || request > 4) return ce::CredantAnswer();
  (void)dev->ReloadProfile();  // another program may have changed it; else the copy read at start
  return dev->GetProfile().credantAnswers[request - 1];
}

void SendReply(HWND, UINT, UINT_PTR timer, DWORD) {
  PendingReply reply{};
  {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = g_pending.find(timer);
    if (it == g_pending.end()) return;
    reply = it->second;
    g_pending.erase(it);
  }
  KillTimer(nullptr, timer);
  // A reply window that is gone takes no reply, as on the device.
  (void)PostMessageW(reply.window, reply.message, 0, 0);
}

}  // namespace

#define CMGLIB_EXPORT extern "C" __attribute__((visibility("default")))

CMGLIB_EXPORT int CMG_Request(void* record, unsigned reserved, HWND window, unsigned message) {
  CredantRequestRecord request{};
  if (record) std::memcpy(&request, record, 16);  // the fields every request has
  if (record && request.size > 16 && request.size <= sizeof request)
    std::memcpy(&request, record, request.size);
  const ce::CredantAnswer answer = AnswerFor(request.request);
  std::string line = "request=" + std::to_string(request.request) + " size=" + std::to_string(request.size) +
                     " window=" + Hex(request.replyWindow) + " message=" + Hex(request.replyMessage) +
                     " reserved=" + std::to_string(reserved) + " zero=" +
                     (request.zero[0] == 0 && request.zero[1] == 0 ? "yes" : "no") + " answer=" +
                     std::to_string(answer.code);
  if (reinterpret_cast<uintptr_t>(window) != request.replyWindow || message != request.replyMessage)
    line += " arguments=differ";
  if (answer.replyMs) {
    const UINT_PTR timer = SetTimer(nullptr, 0, *answer.replyMs, &SendReply);
    if (timer) {
      std::lock_guard<std::mutex> guard(g_lock);
      g_pending[timer] = PendingReply{window, message};
      line += " reply=" + std::to_string(*answer.replyMs);
    } else {
      line += " reply=failed";
    }
  }
  Record(line);
  return answer.code;
}

// A library unloaded with replies still waiting takes its timers along.
CMGLIB_EXPORT BOOL DllMain(HANDLE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_DETACH) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const auto& [timer, reply] : g_pending) KillTimer(nullptr, timer);
    g_pending.clear();
  }
  return TRUE;
}
