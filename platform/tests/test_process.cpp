#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/process.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Entry {
  DWORD pid;
  DWORD parent;
  std::u16string exe;
};

std::vector<Entry> Walk(DWORD* lastError) {
  std::vector<Entry> out;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  EXPECT_NE(snap, INVALID_HANDLE_VALUE);
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof(pe);
  for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe)) {
    out.push_back({pe.th32ProcessID, pe.th32ParentProcessID, pe.szExeFile});
  }
  *lastError = GetLastError();
  EXPECT_TRUE(CloseToolhelp32Snapshot(snap));
  return out;
}

const Entry* FindPid(const std::vector<Entry>& list, DWORD pid) {
  for (const auto& e : list)
    if (e.pid == pid) return &e;
  return nullptr;
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");
    // Installed without the execute bit, as a copy onto the device leaves it.
    fs::path host = dev_.Host(u"\\Windows\\CeProcTest.exe");
    fs::create_directories(host.parent_path());
    fs::copy_file(CEPROC_TESTPROG, host, fs::copy_options::overwrite_existing);
    fs::permissions(host, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  }
  void TearDown() override {
    for (auto& pi : started_) {
      TerminateProcess(pi.hProcess, 0);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
    unsetenv("CEPROC_ECHO");
  }
  PROCESS_INFORMATION Start(const char16_t* cmdLine, const char16_t* image = u"\\Windows\\CeProcTest.exe") {
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW(image, cmdLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               nullptr, &pi))
        << GetLastError();
    started_.push_back(pi);
    return pi;
  }
  DWORD RunToEnd(const char16_t* cmdLine) {
    PROCESS_INFORMATION pi = Start(cmdLine);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
    DWORD code = 12345;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    return code;
  }

  quilmo::test::TestDevice dev_;
  std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(ProcessTest, RawCommandLineAndIdentityArriveUnchanged) {
  fs::path echo = dev_.dir() / "echo.txt";
  setenv("CEPROC_ECHO", echo.c_str(), 1);
  // Bare name, other letter case, no extension: found in \Windows, stored case reported.
  const char16_t* line = u"  \"-initial\"  \"two words\" \u00e9\\x";
  PROCESS_INFORMATION pi = Start(line, u"ceproctest");
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  std::ifstream f(echo, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  std::string utf8 = ce::ToUtf8(line);
  EXPECT_EQ(ss.str(), utf8 + "\n" + utf8 + "\n\\Windows\\CeProcTest.exe\n");
}

TEST_F(ProcessTest, EmptyCommandLineAndBareNameFromRoot) {
  fs::path echo = dev_.dir() / "echo.txt";
  setenv("CEPROC_ECHO", echo.c_str(), 1);
  fs::copy_file(CEPROC_TESTPROG, dev_.Host(u"\\Rooted.exe"));
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(u"ROOTED.EXE", nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             nullptr, &pi));
  started_.push_back(pi);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  std::ifstream f(echo, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  EXPECT_EQ(ss.str(), "\n\n\\Rooted.exe\n");
}

TEST_F(ProcessTest, StartFailures) {
  PROCESS_INFORMATION pi{};
  auto start = [&](const char16_t* image) {
    SetLastError(0);
    BOOL ok = CreateProcessW(image, u"", nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &pi);
    EXPECT_FALSE(ok);
    return GetLastError();
  };
  EXPECT_EQ(start(u"\\Windows\\Missing.exe"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(start(u"Missing"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(start(u"\\NoFolder\\x.exe"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  dev_.PutFile(u"\\Windows\\Text.exe", "just some text\n");
  EXPECT_EQ(start(u"\\Windows\\Text.exe"), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  dev_.PutFile(u"\\Windows\\Empty.exe", "");
  EXPECT_EQ(start(u"\\Windows\\Empty.exe"), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(start(u"\\Windows"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(start(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProcessTest, ExitCodesPassThrough) {
  EXPECT_EQ(RunToEnd(u"exit 0"), 0u);
  EXPECT_EQ(RunToEnd(u"exit 2"), 2u);
  // Wider than the host's 8-bit exit status: the program's own record wins.
  EXPECT_EQ(RunToEnd(u"exit 300"), 300u);
  EXPECT_EQ(RunToEnd(u"exitprocess 9"), 9u);
  EXPECT_EQ(RunToEnd(u"exitprocess 70000"), 70000u);
  EXPECT_EQ(RunToEnd(u"crash"), CE_EXIT_ABNORMAL);
}

TEST_F(ProcessTest, StillActiveThenTerminatedWithCode) {
  PROCESS_INFORMATION pi = Start(u"sleep 30000");
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(TerminateProcess(pi.hProcess, static_cast<UINT>(-1)));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0xFFFFFFFFu);
  // An ended process cannot be terminated again; its code stays.
  EXPECT_FALSE(TerminateProcess(pi.hProcess, 5));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0xFFFFFFFFu);
  // The thread handle is not a process handle.
  EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &code));
}

TEST_F(ProcessTest, WaitTimesOutThenSignals) {
  PROCESS_INFORMATION pi = Start(u"sleep 400");
  auto t0 = Clock::now();
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60), WAIT_TIMEOUT);
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(55));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 0u);
}

TEST_F(ProcessTest, WaitForMultipleAnyAndAll) {
  PROCESS_INFORMATION slow = Start(u"sleep 30000");
  PROCESS_INFORMATION fast = Start(u"exit 3");
  HANDLE both[] = {slow.hProcess, fast.hProcess};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 20000), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 100), WAIT_TIMEOUT);
  ASSERT_TRUE(TerminateProcess(slow.hProcess, 4));
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5000), WAIT_OBJECT_0);
  // Lowest signalled index wins.
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);

  HANDLE bad[] = {fast.hProcess, reinterpret_cast<HANDLE>(0x7777)};
  EXPECT_EQ(WaitForMultipleObjects(2, bad, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // This process never ends while it waits on itself.
  EXPECT_EQ(WaitForSingleObject(GetCurrentProcess(), 20), WAIT_TIMEOUT);
}

TEST_F(ProcessTest, ToolhelpListsResidentSelfAndStartedPrograms) {
  const quilmo::test::ScopedOwnProgram program(u"\\Windows\\QuilmoStart.exe", u"/run x");
  PROCESS_INFORMATION pi = Start(u"sleep 30000");
  DWORD err = 0;
  auto list = Walk(&err);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  std::vector<std::u16string> names;
  for (const auto& e : list) names.push_back(e.exe);
  for (const char16_t* resident : {u"NK.EXE", u"filesys.exe", u"device.exe", u"gwes.exe",
                                   u"services.exe", u"shell32.exe", u"connmgr.exe", u"repllog.exe"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), resident), names.end());
  }
  const Entry* child = FindPid(list, pi.dwProcessId);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->exe, u"CeProcTest.exe");
  EXPECT_EQ(child->parent, GetCurrentProcessId());
  const Entry* self = FindPid(list, GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->exe, u"QuilmoStart.exe");

  // Resident programs can be opened and waited on, never terminated.
  HANDLE nk = OpenProcess(PROCESS_ALL_ACCESS, FALSE, list[0].pid);
  ASSERT_NE(nk, nullptr);
  EXPECT_FALSE(TerminateProcess(nk, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(WaitForSingleObject(nk, 0), WAIT_TIMEOUT);
  CloseHandle(nk);

  ASSERT_TRUE(TerminateProcess(pi.hProcess, 1));
  list = Walk(&err);
  EXPECT_EQ(FindPid(list, pi.dwProcessId), nullptr);
  EXPECT_EQ(err, static_cast<DWORD>(ERROR_NO_MORE_FILES));

  PROCESSENTRY32W small{};
  small.dwSize = 8;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  EXPECT_FALSE(Process32FirstW(snap, &small));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseToolhelp32Snapshot(snap);
}

TEST(ProcessProfileTest, ResidentProgramsFromProfile) {
  ce::Profile p;
  p.residentPrograms = {u"NK.EXE", u"Hopper.exe"};
  quilmo::test::TestDevice dev(p);
  DWORD err = 0;
  auto list = Walk(&err);
  ASSERT_GE(list.size(), 3u);
  EXPECT_EQ(list[0].exe, u"NK.EXE");
  EXPECT_EQ(list[1].exe, u"Hopper.exe");
  EXPECT_EQ(list[1].parent, list[0].pid);
  EXPECT_NE(FindPid(list, GetCurrentProcessId()), nullptr);
}

TEST_F(ProcessTest, OpenProcessFindsLiveDeviceProcessesOnly) {
  PROCESS_INFORMATION pi = Start(u"sleep 30000");
  HANDLE h = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pi.dwProcessId);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(TerminateProcess(h, 77));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 77u);
  EXPECT_TRUE(CloseHandle(h));

  SetLastError(0);
  EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pi.dwProcessId), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A host process that is no device process (pid 1 is never one of ours).
  EXPECT_EQ(OpenProcess(PROCESS_ALL_ACCESS, FALSE, 1), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HANDLE self = OpenProcess(PROCESS_ALL_ACCESS, FALSE, GetCurrentProcessId());
  ASSERT_NE(self, nullptr);
  EXPECT_TRUE(GetExitCodeProcess(self, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  CloseHandle(self);
}

TEST_F(ProcessTest, EndAllDeviceProcessesSparesTheCaller) {
  PROCESS_INFORMATION a = Start(u"sleep 30000");
  PROCESS_INFORMATION b = Start(u"sleep 30000");
  ASSERT_TRUE(ce::EndAllDeviceProcesses(false));
  EXPECT_EQ(WaitForSingleObject(a.hProcess, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b.hProcess, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeProcess(a.hProcess, &code));
  EXPECT_EQ(code, CE_EXIT_ABNORMAL);
  DWORD err = 0;
  auto list = Walk(&err);
  EXPECT_EQ(FindPid(list, a.dwProcessId), nullptr);
  EXPECT_NE(FindPid(list, GetCurrentProcessId()), nullptr);
}

TEST(ProcessIdentityTest, ExitProcessRecordsAndEnds) {
  quilmo::test::TestDevice dev;
  EXPECT_EXIT(ExitProcess(6), ::testing::ExitedWithCode(6), "");
  EXPECT_EQ(std::u16string(GetCommandLineW()), ce::OwnCommandLine());
}

}  // namespace
