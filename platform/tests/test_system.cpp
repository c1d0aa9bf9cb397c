#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ce/errors.h"
#include "ce/system.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

using quilmo::test::TestDevice;

namespace {
ce::Profile CustomProfile() {
  ce::Profile p;
  p.screenWidth = 480;
  p.screenHeight = 640;
  p.platform = u"Smartphone";
  p.versionMajor = 4;
  p.versionMinor = 21;
  p.buildNumber = 999;
  p.oemInfo = u"Acme X1 \u00e9dition";
  return p;
}
}  // namespace

TEST(System, IdentityComesFromTheProfile) {
  TestDevice dev(CustomProfile());
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 640);
  EXPECT_EQ(GetSystemMetrics(9999), 0);

  OSVERSIONINFOW vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExW(&vi));
  EXPECT_EQ(vi.dwMajorVersion, 4u);
  EXPECT_EQ(vi.dwMinorVersion, 21u);
  EXPECT_EQ(vi.dwBuildNumber, 999u);
  EXPECT_EQ(vi.dwPlatformId, VER_PLATFORM_WIN32_CE);
  vi.dwOSVersionInfoSize = 275;
  EXPECT_FALSE(GetVersionExW(&vi));

  WCHAR buf[260];
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof buf, buf, 0));
  EXPECT_EQ(std::u16string(buf), u"Smartphone");
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETOEMINFO, sizeof buf, buf, 0));
  EXPECT_EQ(std::u16string(buf), u"Acme X1 \u00e9dition");
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 20, buf, 0));  // 10 characters + terminator = 22 bytes
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  RECT r{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0));
  EXPECT_EQ(r.top, 26);
  EXPECT_EQ(r.right, 480);
  EXPECT_EQ(r.bottom, 640);
  EXPECT_FALSE(SystemParametersInfoW(12345, 0, buf, 0));
}

TEST(System, PowerStatesAndResetRequests) {
  TestDevice dev;
  EXPECT_TRUE(SetSystemPowerState(u"on", POWER_STATE_ON, POWER_FORCE));
  EXPECT_TRUE(SetSystemPowerState(nullptr, POWER_STATE_ON, POWER_FORCE));
  EXPECT_FALSE(SetSystemPowerState(u"warp", 0, POWER_FORCE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SetSystemPowerState(nullptr, 0, 0));

  WCHAR name[260];
  DWORD flags = 0;
  ASSERT_TRUE(SetSystemPowerState(u"Suspend", 0, 0));
  ASSERT_TRUE(GetSystemPowerState(name, 260, &flags));
  EXPECT_EQ(std::u16string(name), u"suspend");
  EXPECT_EQ(flags, POWER_STATE_SUSPEND);

  ASSERT_TRUE(SetSystemPowerState(u"on", POWER_STATE_ON, POWER_FORCE));
  EXPECT_EQ(ce::PendingResetRequests(), 0);
  // A reset ends every device process, the caller too: it is asked in a
  // child (this test program never joined the device's process table).
  quilmo::test::ChildProcess child =
      quilmo::test::ChildProcess::Fork([] { SetSystemPowerState(nullptr, POWER_STATE_RESET, POWER_FORCE); });
  const quilmo::test::ChildExit end = child.Wait();
  EXPECT_TRUE(end.exited && end.code != quilmo::test::ChildProcess::kReturnedCode) << end.Describe();
  EXPECT_EQ(ce::PendingResetRequests(), 1);
  ASSERT_TRUE(GetSystemPowerState(name, 260, &flags));
  EXPECT_EQ(flags, POWER_STATE_ON);  // the reset itself is carried out by the boot emulation
  EXPECT_FALSE(GetSystemPowerState(name, 2, &flags));
}

TEST(System, DebugOutputAndInputEventsAreRecorded) {
  TestDevice dev;
  OutputDebugStringW(u"Invalid KEY expected VS_VERSION_INFO\n");
  OutputDebugStringW(u"caf\u00e9");
  std::ifstream in(dev.dir() / "debug.log", std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "Invalid KEY expected VS_VERSION_INFO\ncaf\xc3\xa9\n");

  keybd_event(1, 0, KEYEVENTF_SILENT, 0);
  keybd_event(1, 0, KEYEVENTF_SILENT | KEYEVENTF_KEYUP, 0);
  SystemIdleTimerReset();
  auto events = ce::RecordedInputEvents();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[1].kind, "key");
  EXPECT_EQ(events[1].vk, 1);
  EXPECT_EQ(events[1].flags, KEYEVENTF_SILENT | KEYEVENTF_KEYUP);
  EXPECT_EQ(events[2].kind, "idle");

  MEMORYSTATUS ms{};
  GlobalMemoryStatus(&ms);
  EXPECT_EQ(ms.dwLength, 32u);
  EXPECT_LE(ms.dwAvailPhys, ms.dwTotalPhys);
}

TEST(System, ErrorTexts) {
  WCHAR buf[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 2, 0, buf, 256,
                           nullptr);
  EXPECT_EQ(std::u16string(buf), u"The system cannot find the file specified.\r\n");
  EXPECT_EQ(n, 44u);
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK, nullptr, 32, 0, buf, 256, nullptr);
  EXPECT_EQ(buf[ce::SystemErrorText(32).size()], 0);
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 4242, 0, buf, 256, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 2, 0, buf, 10, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  WCHAR* text = nullptr;
  n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, 183, 0,
                     reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text, n), u"Cannot create a file when that file already exists.\r\n");
  EXPECT_EQ(LocalFree(text), nullptr);

  // every number the device layer raises has a text
  for (DWORD code : {0, 2, 3, 5, 18, 32, 80, 87, 112, 122, 183, 259, 1460}) {
    EXPECT_FALSE(ce::SystemErrorText(code).empty()) << code;
  }
}

TEST(System, LocalMemoryGrowsAndZeroFills) {
  auto* p = static_cast<BYTE*>(LocalAlloc(LPTR, 8));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(LocalSize(p), 8u);
  p[7] = 0xAB;
  p = static_cast<BYTE*>(LocalReAlloc(p, 4096, LMEM_MOVEABLE | LMEM_ZEROINIT));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[7], 0xAB);
  EXPECT_EQ(p[4095], 0);
  EXPECT_EQ(LocalSize(p), 4096u);
  LocalFree(p);
}
