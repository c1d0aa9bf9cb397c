// A stand-in for the battery program in the scheduling tests: the built
// "closable" program installed as "\Windows\Merrow.exe", quitting on the
// registered message the product broadcasts.
#pragma once

#include <gtest/gtest.h>

#include "ce/process.h"
#include "ce/time.h"
#include "ce/window.h"
#include "testkit/Closable.h"

namespace schedtest {

class MerrowStandIn {
 public:
  explicit MerrowStandIn(const quilmo::test::TestDevice& dev) {
    quilmo::test::InstallClosable(dev, u"\\Windows\\Merrow.exe");
  }
  ~MerrowStandIn() {
    if (process_) {
      if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
  }
  // Starts it and waits until its window is up (so a broadcast reaches it).
  void Start() {
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(u"\\Windows\\Merrow.exe", u"class=MerrowStandIn quit-on=QuilmoMerrowQuit", nullptr,
                               nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi));
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    for (int i = 0; i < 500 && !FindWindowW(u"MerrowStandIn", nullptr); ++i) Sleep(10);
    ASSERT_NE(FindWindowW(u"MerrowStandIn", nullptr), nullptr);
  }
  // Waits for it to end; its exit code (3: it was told to quit).
  DWORD WaitForEnd() {
    if (!process_ || WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return code;
  }

 private:
  HANDLE process_ = nullptr;
};

}  // namespace schedtest
