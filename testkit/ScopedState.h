// Process-wide settings a test changes for its own span: each guard puts
// the earlier setting back when it goes out of scope, so a test that ends
// at a failed assertion leaves nothing behind for the tests after it
// (header only).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/time.h"

namespace quilmo::test {

// The program path and command line this process reports as its own.
class ScopedOwnProgram {
 public:
  explicit ScopedOwnProgram(std::u16string_view programPath, std::u16string_view commandLine = u"")
      : path_(ce::OwnProgramPath()), commandLine_(ce::OwnCommandLine()) {
    ce::SetOwnProgramForTest(programPath, commandLine);
  }
  ~ScopedOwnProgram() { ce::SetOwnProgramForTest(path_, commandLine_); }
  ScopedOwnProgram(const ScopedOwnProgram&) = delete;
  ScopedOwnProgram& operator=(const ScopedOwnProgram&) = delete;

 private:
  std::u16string path_, commandLine_;
};

// Lets GetTickCount read `tick` now; afterwards the counter reads what it
// would have read had it never been moved (the counter follows the device
// clock, so the guard measures with it too). Lives within one device.
class ScopedTickBase {
 public:
  explicit ScopedTickBase(DWORD tick) : before_(GetTickCount()), sinceMs_(ce::DeviceNowMs()) {
    ce::SetTickBaseForTest(tick);
  }
  ~ScopedTickBase() { ce::SetTickBaseForTest(before_ + static_cast<DWORD>(ce::DeviceNowMs() - sinceMs_)); }
  ScopedTickBase(const ScopedTickBase&) = delete;
  ScopedTickBase& operator=(const ScopedTickBase&) = delete;
  // Moves the counter again within the span.
  void Set(DWORD tick) const { ce::SetTickBaseForTest(tick); }

 private:
  DWORD before_;
  int64_t sinceMs_;
};

// The service that answers message boxes.
class ScopedMessageBoxService {
 public:
  explicit ScopedMessageBoxService(ce::MessageBoxService service) : previous_(ce::GetMessageBoxService()) {
    ce::SetMessageBoxService(std::move(service));
  }
  ~ScopedMessageBoxService() { ce::SetMessageBoxService(std::move(previous_)); }
  ScopedMessageBoxService(const ScopedMessageBoxService&) = delete;
  ScopedMessageBoxService& operator=(const ScopedMessageBoxService&) = delete;

 private:
  ce::MessageBoxService previous_;
};

// One entry of this process's environment (value unset: removed).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(previous_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) const {
    if (value) setenv(name_.c_str(), value->c_str(), 1);
    else unsetenv(name_.c_str());
  }
  std::string name_;
  std::optional<std::string> previous_;
};

}  // namespace quilmo::test
