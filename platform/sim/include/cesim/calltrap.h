// The call counter of a run and its reset trap: `cedev run --count-calls`
// counts the calls by which device programs change the device, and
// `cedev run --reset-after N[:KIND]` resets the device right after the Nth
// of them.
//
// What counts: a call made by a device program that the run (or a program
// it started, at any depth) started, that succeeded and changed the
// device's files, hives or processes. The kernel's own calls and those of
// programs running from before the run are not counted. By kind:
//   file     CreateFileW when it creates or truncates a file, WriteFile
//            (of at least one byte), SetEndOfFile, SetFileTime,
//            SetFileAttributesW, CreateDirectoryW, RemoveDirectoryW,
//            DeleteFileW, MoveFileW, CopyFileW;
//   reg      RegCreateKeyExW when it creates a key, RegSetValueExW,
//            RegDeleteValueW, RegDeleteKeyW, RegSaveKeyW, RegReplaceKeyW;
//   process  CreateProcessW.
// The count runs over the whole run: every program, every boot.
//
// The reset: the call that strikes completes, then its process requests a
// reset (cesim/power.h, kResetByTrap) and the device's processes are killed
// as by any reset; no process makes another counted call after the strike
// (a process that tries waits to be killed). The run then boots the device
// and goes on as after any reset. The trap strikes once per run.
//
// What a reset keeps: every call that completed is on the device's storage
// (a file's bytes are written through to the object store, and each
// registry call is its own committed transaction); what a program held in
// its memory is lost, and so are the last-write and last-access times an
// open handle had not stamped yet (they are stamped at CloseHandle and
// FlushFileBuffers).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ce {

enum class CallKind { kAny = -1, kFile = 0, kReg = 1, kProcess = 2 };

// "file", "reg", "process", "any".
const char* CallKindName(CallKind kind);
// Reads "file", "reg", "process" or "any"; false for anything else.
bool ParseCallKind(const std::string& text, CallKind* kind);

struct ResetAfter {
  int64_t n = 0;  // the call after which the device resets (1: the first)
  CallKind kind = CallKind::kAny;
};

struct CallCounts {
  int64_t file = 0, reg = 0, process = 0;
  int64_t Total() const { return file + reg + process; }
  int64_t Of(CallKind kind) const;
};

// Where the trap struck.
struct TrapStrike {
  int64_t n = 0;        // the count that struck (of the trap's kind)
  CallKind kind = CallKind::kAny;  // the trap's kind
  std::string call;     // "WriteFile"
  CallKind callKind = CallKind::kFile;
  uint32_t pid = 0;
  std::string program;  // device path
  std::string commandLine;
};

}  // namespace ce
