// Shared set-up of the dialog tests: a scratch device (240 x 320 unless
// told otherwise), the program's global state with its log started, the
// built resource library as the dialogs' template and string source, and
// an input panel in its default state.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "ce/sip.h"
#include "ce/window.h"
#include "cesim/device.h"
#include "cesim/sip.h"
#include "core/RegistrySettings.h"
#include "core/Resources.h"
#include "engine/Global.h"
#include "testkit/ResourceLibrary.h"
#include "testkit/TestDevice.h"
#include "ui/Mfc.h"

namespace dlgtest {

inline ce::Profile ScreenProfile(int width, int height) {
  ce::Profile p;
  p.screenWidth = width;
  p.screenHeight = height;
  return p;
}

class DialogTest : public ::testing::Test {
 protected:
  explicit DialogTest(int width = 240, int height = 320) : dev_(ScreenProfile(width, height)) {
    global_.g_Log.Open(false);
    quilmo::test::LoadBuiltResourceLibrary();
    AfxSetResourceHandle(GetMainResourceLibrary());
    ce::ResetSip();
  }
  ~DialogTest() override {
    AfxSetResourceHandle(nullptr);
    UnloadResourceLibraries(true);
  }

  // Turns the screen: swaps the profile's width and height and tells the
  // window as the device does.
  void Rotate(HWND window) {
    ce::Profile p = dev_.device()->GetProfile();
    std::swap(p.screenWidth, p.screenHeight);
    ASSERT_TRUE(dev_.device()->SaveProfile(p));
    SendMessageW(window, WM_SETTINGCHANGE, 0, 0);
  }

  static void SetConfigDWORD(LPCWSTR name, DWORD value) {
    ABackupRegistrySettings config(kConfigKeyKind);
    ASSERT_TRUE(config.WriteDWORD(name, value));
  }

  // The log text collected so far (the log buffers until flushed).
  std::string LogText() const { return global_.g_Log.GetBuffer(); }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  quilmo::test::TestDevice dev_;
  AGlobal global_;
};

}  // namespace dlgtest
