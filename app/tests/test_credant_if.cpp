// The security agent's interface driven directly with the agent library's
// stand-in ("\Windows\CMGLib.dll", answers from the device's profile): the
// library's load, the request record, answers at once, later replies,
// failures, the quit message, and (on a device whose clock a kernel runs)
// the wait that gives up after 80 sleeps of 250 ms.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/CredantIF.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/boot.h"
#include "dlg_fixture.h"

namespace fs = std::filesystem;

namespace {

fs::path BinFile(const char* name) { return fs::path(QUILMO_BIN_DIR) / name; }

class CredantTest : public dlgtest::DialogTest {
 protected:
  CredantTest() {
    dev_.MakeDir(u"\\Temp");
    const RECT rect{0, 0, 100, 100};
    EXPECT_TRUE(owner_.CreateEx(0, nullptr, u"Owner", WS_OVERLAPPED, rect, nullptr, 0));
  }

  void PutFile(const fs::path& from, std::u16string_view devicePath, bool program = false) {
    const fs::path to = dev_.Host(devicePath);
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    if (program) fs::permissions(to, fs::perms::owner_exec, fs::perm_options::add);
  }
  void InstallAgent() { PutFile(BinFile("CMGLib.dll"), u"\\Windows\\CMGLib.dll"); }
  // Sets the stand-in's answer to request (1 to 4).
  void Answer(int request, int code, std::optional<DWORD> replyMs = std::nullopt) {
    ASSERT_TRUE(dev_.device()->UpdateProfile(
        [&](ce::Profile& p) { p.credantAnswers[request - 1] = ce::CredantAnswer{code, replyMs}; }));
  }
  std::string Calls() const { return dev_.ReadFile(u"\\Temp\\CMGLib.txt"); }
  static std::string Hex(HWND window) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
    return text;
  }
  // Handles this thread's messages for ms of device time.
  static void Pump(DWORD ms) {
    const int64_t until = ce::DeviceNowMs() + ms;
    MSG msg;
    while (ce::DeviceNowMs() < until) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(10);
    }
  }

  CWnd owner_;
};

TEST_F(CredantTest, WithoutTheLibraryNothingIsLoadedOrLogged) {
  ACredantIF agent(&owner_);
  EXPECT_FALSE(agent.LoadLibrary());
  EXPECT_FALSE(agent.LoadFailed());
  EXPECT_EQ(LogText().find("ACredantIF"), std::string::npos) << LogText();
}

TEST_F(CredantTest, TheLibraryIsLoadedOnceAndItsEntryLookedUp) {
  InstallAgent();
  ACredantIF agent(&owner_);
  EXPECT_TRUE(agent.LoadLibrary());
  EXPECT_TRUE(agent.LoadLibrary());
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "L ACredantIF"), 3) << log;
  EXPECT_EQ(Count(log, "Credant DLL Exists"), 1);
  EXPECT_EQ(Count(log, "Credant library loaded"), 1);
  EXPECT_EQ(Count(log, "Retrieved CMG_Request funtion entry point"), 1);

  // The later answer stays the first one, even when the file went away.
  ASSERT_TRUE(fs::remove(dev_.Host(u"\\Windows\\CMGLib.dll")));
  EXPECT_TRUE(agent.LoadLibrary());
}

TEST_F(CredantTest, ALibraryThatDoesNotLoadOrLacksTheEntryIsNotAvailable) {
  dev_.PutFile(u"\\Windows\\CMGLib.dll", "not a library");
  {
    ACredantIF agent(&owner_);
    EXPECT_FALSE(agent.LoadLibrary());
    EXPECT_TRUE(agent.LoadFailed());
  }
  Dl_info info{};  // a loadable library without the entry: the compression library
  ASSERT_NE(dladdr(reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(&crc32)), &info), 0);
  PutFile(info.dli_fname, u"\\Windows\\CMGLib.dll");
  {
    ACredantIF agent(&owner_);
    EXPECT_FALSE(agent.LoadLibrary());
    EXPECT_TRUE(agent.LoadFailed());
    EXPECT_FALSE(agent.NotifyBackupStart());  // nothing to call
  }
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "E ACredantIF"), 3) << log;
  EXPECT_EQ(Count(log, "Error loading CMGLIB.DLL"), 1);
  EXPECT_EQ(Count(log, "Error retrieving CMG_Request entry point"), 1);
}

TEST_F(CredantTest, AnAnswerOfThreeIsDoneAtOnceAndEachRequestCarriesItsRecord) {
  InstallAgent();
  ACredantIF agent(&owner_);
  ASSERT_TRUE(agent.LoadLibrary());
  EXPECT_TRUE(agent.NotifyBackupStart());
  EXPECT_EQ(agent.GetLastResult(), 3);
  EXPECT_FALSE(agent.ReplyReceived());
  EXPECT_TRUE(agent.NotifyBackupEnd());
  EXPECT_TRUE(agent.NotifyRestoreStart());
  EXPECT_TRUE(agent.NotifyRestoreEnd());

  // One hidden reply window, a child of the owner, serves every request.
  const HWND reply = agent.GetSafeHwnd();
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(::GetParent(reply), owner_.GetSafeHwnd());
  EXPECT_FALSE(IsWindowVisible(reply));
  WCHAR name[64] = {};
  GetWindowTextW(reply, name, 64);
  EXPECT_EQ(std::u16string(name), u"PBWaitForCredant");
  const std::string w = Hex(reply);
  EXPECT_EQ(Calls(),
            "request=1 size=20 window=" + w + " message=0x8001 reserved=0 zero=yes answer=3\n"
            "request=2 size=20 window=" + w + " message=0x8002 reserved=0 zero=yes answer=3\n"
            "request=3 size=24 window=" + w + " message=0x8003 reserved=0 zero=yes answer=3\n"
            "request=4 size=24 window=" + w + " message=0x8004 reserved=0 zero=yes answer=3\n");
}

TEST_F(CredantTest, APendingRequestWaitsForItsReply) {
  InstallAgent();
  Answer(3, 0, 600);
  ACredantIF agent(&owner_);
  ASSERT_TRUE(agent.LoadLibrary());
  const int64_t start = ce::DeviceNowMs();
  EXPECT_TRUE(agent.NotifyRestoreStart());
  const int64_t took = ce::DeviceNowMs() - start;
  EXPECT_TRUE(agent.ReplyReceived());
  EXPECT_EQ(agent.GetLastResult(), 0);
  EXPECT_GE(took, 600);
  EXPECT_LT(took, 600 + 2 * 250 + 500);  // the sleep in which it arrived, and slack
  EXPECT_EQ(Count(LogText(), "E ACredantIF"), 0) << LogText();

  // The next request starts without the earlier reply.
  EXPECT_TRUE(agent.NotifyRestoreEnd());
  EXPECT_FALSE(agent.ReplyReceived());
}

TEST_F(CredantTest, AnyOtherAnswerIsAFailure) {
  InstallAgent();
  Answer(1, 1);
  Answer(2, -5);
  ACredantIF agent(&owner_);
  ASSERT_TRUE(agent.LoadLibrary());
  EXPECT_FALSE(agent.NotifyBackupStart());
  EXPECT_EQ(agent.GetLastResult(), 1);
  EXPECT_FALSE(agent.NotifyBackupEnd());
  EXPECT_EQ(agent.GetLastResult(), -5);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "E ACredantIF"), 2) << log;
  EXPECT_EQ(Count(log, "CMG_Request failed 1\r\n"), 1) << log;
  EXPECT_EQ(Count(log, "CMG_Request failed -5\r\n"), 1) << log;
}

TEST_F(CredantTest, AQuitMessageEndsTheWaitAndIsPostedAgain) {
  InstallAgent();
  Answer(1, 0);  // pending, and no reply ever comes
  ACredantIF agent(&owner_);
  ASSERT_TRUE(agent.LoadLibrary());
  PostQuitMessage(7);
  const int64_t start = ce::DeviceNowMs();
  EXPECT_FALSE(agent.NotifyBackupStart());
  EXPECT_LT(ce::DeviceNowMs() - start, 1000);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_EQ(Count(LogText(), "Timeout waiting for Credant Request"), 0);
}

TEST_F(CredantTest, WithoutAnOwnerWindowNoRequestIsSent) {
  InstallAgent();
  ACredantIF agent(nullptr);
  ASSERT_TRUE(agent.LoadLibrary());
  EXPECT_FALSE(agent.NotifyBackupStart());
  EXPECT_EQ(Count(LogText(), "Failed to create window to recv async result"), 1) << LogText();
  EXPECT_EQ(Calls(), "");
}

TEST_F(CredantTest, AReplyStillDueWhenTheInterfaceIsGoneReachesNoOne) {
  InstallAgent();
  Answer(2, 3, 200);  // done at once, and a reply after all
  {
    ACredantIF agent(&owner_);
    ASSERT_TRUE(agent.LoadLibrary());
    EXPECT_TRUE(agent.NotifyBackupEnd());
  }
  // The library is gone with its timer: handling messages later is safe.
  Pump(400);
  EXPECT_NE(Calls().find("answer=3 reply=200"), std::string::npos) << Calls();
}

TEST_F(CredantTest, TheImagingTaskTakesTheInterfaceFromTheFactory) {
  InstallAgent();
  std::unique_ptr<ASecurityAgentIF> agent = ACredantIF::MakeFactory()();
  ASSERT_NE(agent, nullptr);
  EXPECT_TRUE(agent->LoadLibrary());
}

// On a device whose clock a kernel runs, as the main program runs there.
class CredantKernelTest : public CredantTest {
 protected:
  CredantKernelTest() {
    InstallAgent();
    PutFile(BinFile("credant_probe"), u"\\Windows\\CredantProbe.exe", true);
    opt_.runTimeoutMs = 60000;
  }
  std::string Probe(std::u16string_view requests) {
    ce::BootReport rep;
    EXPECT_TRUE(ce::RunOnDevice(u"\\Windows\\CredantProbe.exe", requests, opt_, &rep));
    for (const auto& p : rep.started)
      if (p.program == u"\\Windows\\CredantProbe.exe") {
        EXPECT_EQ(p.exitCode.value_or(99), 0u);
      }
    return dev_.ReadFile(u"\\CredantProbe.txt");
  }
  ce::BootOptions opt_;
};

TEST_F(CredantKernelTest, ARequestWithoutReplyGivesUpAfterEightySleepsOfAQuarterSecond) {
  Answer(1, 0);
  Answer(4, 0, 5000);
  const auto hostStart = std::chrono::steady_clock::now();
  const std::string out = Probe(u"1 4");
  const auto hostTook = std::chrono::steady_clock::now() - hostStart;
  // Request 1: 80 sleeps of 250 ms of device time, then the time-out.
  const std::string timeout = "request 1 ok=0 result=0 ms=";
  const size_t at = out.find(timeout);
  ASSERT_NE(at, std::string::npos) << out;
  const long ms1 = std::stol(out.substr(at + timeout.size()));
  EXPECT_GE(ms1, 20000);
  EXPECT_LT(ms1, 20500);
  EXPECT_NE(out.find("errors=Timeout waiting for Credant Request;\n"), std::string::npos) << out;
  // Request 4: its reply after 5 s of device time.
  const std::string replied = "request 4 ok=1 result=0 ms=";
  const size_t at4 = out.find(replied);
  ASSERT_NE(at4, std::string::npos) << out;
  const long ms4 = std::stol(out.substr(at4 + replied.size()));
  EXPECT_GE(ms4, 5000);
  EXPECT_LE(ms4, 5300);
  // The kernel moved the clock: the waits took no host time to speak of.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(hostTook).count(), 15);
}

}  // namespace
