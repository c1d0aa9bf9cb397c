// The starter's work run inside the test program on a scratch device: the
// resource library loaded, the log started, the recorder installed as the
// main program, no start delay and no hard reset pending.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "ce/msgbox.h"
#include "ce/text.h"
#include "ce/time.h"
#include "cesim/msgbox.h"
#include "core/Localizer.h"
#include "core/Log.h"
#include "core/ProductSettings.h"
#include "starter_fixture.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/ScopedState.h"

namespace startertest {

inline ce::Profile CardProfile() {
  ce::Profile p;
  p.cards.push_back(u"Storage Card");
  return p;
}

class StartTest : public ::testing::Test {
 protected:
  explicit StartTest(const ce::Profile& profile = ce::Profile())
      : dev_(profile), own_(u"\\Windows\\QuilmoStart.exe") {
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Windows");
    quilmo::test::LoadBuiltResourceLibrary();
    if (!GetLog().IsStarted()) GetLog().Open(false);
    InstallBuilt(dev_, "starter_recorder", kMainProgram);
    SetString(kSharedKey, u"csBackupEXEPath", kMainProgram);
    SetDword(kConfigKey, u"ScheduleDelayStartup", 0);
    SetDword(std::u16string(kSettingsKey) + u"\\Lissent", u"bHardReset", 0);
  }

  // Waits up to 10 s for n recorder lines; the lines.
  std::vector<std::string> WaitStarted(size_t n) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (StartedLines(dev_).size() < n && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return StartedLines(dev_);
  }
  // The lines after a short wait (for checks that nothing started).
  std::vector<std::string> Settled() const {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return StartedLines(dev_);
  }
  static std::string MainLine(const std::string& commandLine) {
    return ce::ToUtf8(kMainProgram) + "\t" + commandLine;
  }
  // "caption: text" of each box shown on the device.
  static std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (const auto& b : ce::ReadScreenLog()) out.push_back(ce::ToUtf8(b.caption) + ": " + ce::ToUtf8(b.text));
    return out;
  }
  static std::string ResBox(DWORD id) {
    CString text;
    EXPECT_TRUE(Localizer::LoadResStringRaw(id, text));
    return ce::ToUtf8(GetApplicationName().str()) + ": " + ce::ToUtf8(text.str());
  }
  static void SetLocal(int y, int mo, int d, int h, int mi, int s = 0) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    ASSERT_TRUE(SetLocalTime(&st));
  }

  quilmo::test::TestDevice dev_;
  quilmo::test::ScopedOwnProgram own_;
};

}  // namespace startertest
