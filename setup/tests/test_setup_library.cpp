// The setup libraries loaded in this process through the device's
// LoadLibraryW and GetProcAddress: their exports, the hooks' quick paths,
// and Tarsel's chain when the product's library is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/module.h"
#include "ce/notify.h"
#include "ce/registry.h"
#include "setup/SetupHooks.h"
#include "testkit/TestDevice.h"


namespace {

namespace fs = std::filesystem;
namespace hooks = SetupHooks;
using quilmo::test::TestDevice;

std::string HostFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void PutBuilt(const TestDevice& dev, const char* built, std::u16string_view devicePath) {
  dev.PutFile(devicePath, HostFile(fs::path(QUILMO_BIN_DIR) / built));
}

bool Exists(const std::u16string& path) { return GetFileAttributesW(path.c_str()) != 0xFFFFFFFFu; }

TEST(SetupLibrary, ExportsThePlainAndThePrefixedHooks) {
  TestDevice dev;
  PutBuilt(dev, "QuilmoCESetup.dll", u"\\Windows\\QuilmoCESetup.dll");
  HMODULE lib = LoadLibraryW(u"\\Windows\\QuilmoCESetup.dll");
  ASSERT_NE(lib, nullptr) << GetLastError();
  for (const char* name : {hooks::kInstallInit, hooks::kInstallExit, hooks::kUninstallInit, hooks::kUninstallExit,
                           hooks::kQuilmoInstallInit, hooks::kQuilmoInstallExit, hooks::kQuilmoUninstallInit,
                           hooks::kQuilmoUninstallExit})
    EXPECT_NE(GetProcAddress(lib, name), nullptr) << name;

  // Failures met by the installer ask for the undo at once: nothing seeded.
  auto exit = reinterpret_cast<hooks::InstallExitFn>(GetProcAddress(lib, hooks::kQuilmoInstallExit));
  ASSERT_NE(exit, nullptr);
  EXPECT_EQ(exit(nullptr, u"\\Program Files\\Quilmo Backup", 0, 0, 0, 0, 1), hooks::kInstallExitUninstall);
  EXPECT_EQ(exit(nullptr, u"\\Program Files\\Quilmo Backup", 1, 0, 0, 0, 0), hooks::kInstallExitUninstall);
  HKEY key = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Quilmo Software\\Shared", 0, KEY_READ, &key),
            ERROR_SUCCESS);

  // The last removal step deletes the starter and the resource library.
  dev.PutFile(u"\\Windows\\QuilmoStart.exe", "starter");
  dev.PutFile(u"\\Windows\\QuilmoRes.dll", "library");
  dev.PutFile(u"\\Windows\\QuilmoResVGA.dll", "candidate");
  auto last = reinterpret_cast<hooks::UninstallExitFn>(GetProcAddress(lib, hooks::kUninstallExit));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last(nullptr), hooks::kUninstallExitDone);
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoStart.exe"));
  EXPECT_FALSE(Exists(u"\\Windows\\QuilmoRes.dll"));
  EXPECT_TRUE(Exists(u"\\Windows\\QuilmoResVGA.dll"));
  EXPECT_TRUE(FreeLibrary(lib));
}

TEST(Tarsel, WithoutTheProductsLibraryOnlyTheMakersActs) {
  TestDevice dev;
  PutBuilt(dev, "Tarsel.dll", u"\\Windows\\Tarsel.dll");
  HMODULE lib = LoadLibraryW(u"\\Windows\\Tarsel.dll");
  ASSERT_NE(lib, nullptr) << GetLastError();
  auto init = reinterpret_cast<hooks::InstallInitFn>(GetProcAddress(lib, hooks::kInstallInit));
  auto exit = reinterpret_cast<hooks::InstallExitFn>(GetProcAddress(lib, hooks::kInstallExit));
  auto uninit = reinterpret_cast<hooks::UninstallInitFn>(GetProcAddress(lib, hooks::kUninstallInit));
  auto unexit = reinterpret_cast<hooks::UninstallExitFn>(GetProcAddress(lib, hooks::kUninstallExit));
  ASSERT_TRUE(init && exit && uninit && unexit);

  // Neither library there: every hook goes on.
  EXPECT_EQ(init(nullptr, TRUE, FALSE, u"\\Program Files\\Maker"), hooks::kInstallInitContinue);
  EXPECT_EQ(exit(nullptr, u"\\Program Files\\Maker", 0, 0, 0, 0, 0), hooks::kInstallExitDone);
  EXPECT_EQ(uninit(nullptr, u"\\Program Files\\Maker"), hooks::kUninstallInitContinue);
  EXPECT_EQ(unexit(nullptr), hooks::kUninstallExitDone);
  const std::string debug = HostFile(dev.dir() / "debug.log");
  EXPECT_NE(debug.find("Tarsel: could not load \\Windows\\QuilmoCESetup.dll"), std::string::npos) << debug;
  EXPECT_NE(debug.find("Tarsel: could not load \\Tools\\CeSetup.dll"), std::string::npos) << debug;

  // The maker's library alone: its install hooks get the arguments, and a
  // failure count still reaches it when the product's library is missing.
  dev.MakeDir(u"\\Tools");
  PutBuilt(dev, "CeSetup.dll", u"\\Tools\\CeSetup.dll");
  EXPECT_EQ(init(nullptr, TRUE, TRUE, u"\\Program Files\\Maker"), hooks::kInstallInitContinue);
  EXPECT_EQ(exit(nullptr, u"\\Program Files\\Maker", 0, 2, 0, 0, 0), hooks::kInstallExitDone);
  EXPECT_EQ(uninit(nullptr, u"\\Program Files\\Maker"), hooks::kUninstallInitContinue);
  EXPECT_EQ(dev.ReadFile(u"\\Tools\\CeSetupCalls.txt"),
            "Install_Init first=1 previous=1 folder=\\Program Files\\Maker\n"
            "Install_Exit folder=\\Program Files\\Maker failed=0,2,0,0,0\n");
  EXPECT_TRUE(FreeLibrary(lib));
}

HANDLE RegisterTimed(LPCWSTR application) {
  CE_NOTIFICATION_TRIGGER trigger{};
  trigger.dwSize = CE_NOTIFICATION_TRIGGER_SIZE;
  trigger.dwType = CNT_TIME;
  trigger.lpszApplication = const_cast<WCHAR*>(application);
  trigger.lpszArguments = const_cast<WCHAR*>(u"ScheduledBackup");
  trigger.stStartTime = SYSTEMTIME{2030, 1, 2, 1, 12, 0, 0, 0};
  trigger.stEndTime = trigger.stStartTime;
  return CeSetUserNotificationEx(nullptr, &trigger, nullptr);
}

std::vector<HANDLE> Handles() {
  DWORD needed = 0;
  CeGetUserNotificationHandles(nullptr, 0, &needed);
  std::vector<HANDLE> handles(needed);
  if (needed) CeGetUserNotificationHandles(handles.data(), needed, &needed);
  return handles;
}

TEST(SetupLibrary, RemovalClearsTheProductsNotificationsOnly) {
  TestDevice dev;
  PutBuilt(dev, "QuilmoCESetup.dll", u"\\Windows\\QuilmoCESetup.dll");
  ASSERT_NE(RegisterTimed(u"\\Windows\\QuilmoStart.exe"), nullptr);
  ASSERT_NE(RegisterTimed(u"\\Windows\\QuilmoWakeUpService.exe"), nullptr);
  HANDLE other = RegisterTimed(u"\\Windows\\Calendar.exe");
  ASSERT_NE(other, nullptr);
  ASSERT_NE(RegisterTimed(u"\\Windows\\quilmostart.exe"), nullptr);  // another case: not the product's
  HMODULE lib = LoadLibraryW(u"\\Windows\\QuilmoCESetup.dll");
  ASSERT_NE(lib, nullptr);
  auto init = reinterpret_cast<hooks::UninstallInitFn>(GetProcAddress(lib, hooks::kQuilmoUninstallInit));
  ASSERT_NE(init, nullptr);
  EXPECT_EQ(init(nullptr, u"\\Program Files\\Quilmo Backup"), hooks::kUninstallInitContinue);
  const std::vector<HANDLE> left = Handles();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0], other);
  FreeLibrary(lib);
}

}  // namespace
