// Several device processes using the shared bookkeeping at once: nothing
// they write may be lost and no call may fail because another process wrote
// at the same moment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ce/device.h"
#include "ce/errors.h"
#include "ce/file.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "ce/registry.h"
#include "ce/text.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kRoleEnv = "QUILMO_STRESS_ROLE";
constexpr const char* kIndexEnv = "QUILMO_STRESS_INDEX";

// The work of each kind of child.
constexpr int kShareRounds = 100;  // exclusive opens of the counter file
constexpr int kMetaRounds = 300;   // attribute sets / time sets on one file
constexpr int kBoxRounds = 60;     // message boxes
constexpr int kProcRounds = 4;     // programs started and waited for
constexpr int kRegRounds = 60;     // registry values

const DWORD kAttrCycle[] = {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_ARCHIVE,
                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_TEMPORARY};
constexpr uint64_t kTimeBase = 130000000000000000ull;  // a FILETIME in 2012

FILETIME MetaTime(int round) {
  uint64_t t = kTimeBase + static_cast<uint64_t>(round) * 10000000;
  return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

std::u16string BoxText(int child, int round) {
  return ce::FromUtf8("[c" + std::to_string(child) + ":" + std::to_string(round) + "]");
}

std::u16string RegValueName(int child, int round) {
  return ce::FromUtf8("c" + std::to_string(child) + "v" + std::to_string(round));
}

// Waits for the parent's start signal so that every child runs at once.
void AwaitStart() {
  fs::path go = fs::path(getenv(ce::kDeviceEnv)) / "go";
  auto deadline = Clock::now() + std::chrono::seconds(10);
  while (!fs::exists(go) && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void ShareChild() {
  int violations = 0;
  for (int i = 0; i < kShareRounds; ++i) {
    HANDLE h;
    while ((h = CreateFileW(u"\\counter.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                            nullptr)) == INVALID_HANDLE_VALUE) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
      ++violations;
      usleep(200);
    }
    // Read, bump and write back: only correct while the open is exclusive.
    uint64_t value = 0;
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(h, &value, sizeof value, &n, nullptr));
    ASSERT_EQ(n, sizeof value);
    usleep(100);
    ++value;
    ASSERT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(WriteFile(h, &value, sizeof value, &n, nullptr));
    ASSERT_TRUE(CloseHandle(h)) << GetLastError();
  }
  printf("sharing violations seen: %d\n", violations);
}

// Sets attributes of "\meta.bin" while the times child sets its times: each
// must read back its own last write.
void AttrChild() {
  for (int i = 0; i < kMetaRounds; ++i) {
    DWORD want = kAttrCycle[i % 4];
    ASSERT_TRUE(SetFileAttributesW(u"\\meta.bin", want)) << GetLastError();
    ASSERT_EQ(GetFileAttributesW(u"\\meta.bin"), want) << "round " << i;
  }
}

void TimesChild() {
  HANDLE h = CreateFileW(u"\\meta.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  for (int i = 0; i < kMetaRounds; ++i) {
    FILETIME want = MetaTime(i), got{};
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &want)) << GetLastError();
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &got));
    ASSERT_EQ(got.dwLowDateTime, want.dwLowDateTime) << "round " << i;
    ASSERT_EQ(got.dwHighDateTime, want.dwHighDateTime) << "round " << i;
  }
  ASSERT_TRUE(CloseHandle(h)) << GetLastError();
}

void BoxChild(int index) {
  for (int i = 0; i < kBoxRounds; ++i) {
    std::u16string text = BoxText(index, i);
    ASSERT_EQ(MessageBoxW(nullptr, text.c_str(), u"Stress", MB_OKCANCEL), IDCANCEL) << "round " << i;
  }
}

void ProcChild(int index) {
  for (int i = 0; i < kProcRounds; ++i) {
    std::u16string cmd = ce::FromUtf8("exit " + std::to_string(index * 10 + i));
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(u"\\Windows\\CeProcTest.exe", cmd.c_str(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, &pi))
        << GetLastError();
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, static_cast<DWORD>(index * 10 + i));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
}

void RegChild(int index) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Stress", 0, nullptr, 0, 0, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (int i = 0; i < kRegRounds; ++i) {
    DWORD v = static_cast<DWORD>(index * 1000 + i);
    std::u16string name = RegValueName(index, i);
    ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v),
              ERROR_SUCCESS)
        << "round " << i;
  }
  RegCloseKey(key);
}

// The child: runs only when started by the test below.
TEST(DeviceConcurrencyChild, DISABLED_Run) {
  if (!quilmo::test::IsChildRun()) GTEST_SKIP() << "runs only as a child";
  const std::string r = getenv(kRoleEnv);
  const int index = atoi(getenv(kIndexEnv));
  AwaitStart();
  if (r == "share") ShareChild();
  else if (r == "attr") AttrChild();
  else if (r == "times") TimesChild();
  else if (r == "box") BoxChild(index);
  else if (r == "proc") ProcChild(index);
  else if (r == "reg") RegChild(index);
  else FAIL() << "unknown role " << r;
}

TEST(DeviceConcurrency, ProcessesSharingTheDeviceLoseNothing) {
  quilmo::test::TestDevice dev;
  dev.PutFile(u"\\counter.bin", std::string(8, '\0'));
  dev.PutFile(u"\\meta.bin", "meta");
  fs::path prog = dev.Host(u"\\Windows\\CeProcTest.exe");
  fs::create_directories(prog.parent_path());
  fs::copy_file(CEPROC_TESTPROG, prog, fs::copy_options::overwrite_existing);

  const std::vector<std::pair<std::string, int>> kids = {
      {"share", 0}, {"share", 1}, {"share", 2}, {"attr", 0}, {"times", 0}, {"box", 0},
      {"box", 1},   {"box", 2},   {"proc", 0},  {"proc", 1}, {"reg", 0},   {"reg", 1}};
  int boxChildren = 0, procChildren = 0, shareChildren = 0;
  for (const auto& [role, index] : kids) {
    boxChildren += role == "box";
    procChildren += role == "proc";
    shareChildren += role == "share";
  }
  // Every box is scripted to answer Cancel (default: OK).
  for (int c = 0; c < boxChildren; ++c)
    for (int i = 0; i < kBoxRounds; ++i) ASSERT_TRUE(ce::AddMessageBoxAnswer(BoxText(c, i), IDCANCEL));

  auto started = Clock::now();
  std::vector<quilmo::test::ChildProcess> children;
  for (const auto& [role, index] : kids) {
    children.push_back(quilmo::test::ChildProcess::RunTest(
        "DeviceConcurrencyChild.DISABLED_Run", {{kRoleEnv, role}, {kIndexEnv, std::to_string(index)}}));
    ASSERT_TRUE(children.back().Started());
  }
  std::ofstream(dev.dir() / "go").put('1');

  const auto deadline = Clock::now() + std::chrono::seconds(60);
  long violations = 0;
  for (size_t k = 0; k < children.size(); ++k) {
    const quilmo::test::ChildExit end = children[k].Wait(deadline);
    EXPECT_TRUE(end.ExitedWith(0)) << kids[k].first << " " << kids[k].second << ": " << end.Describe();
    const size_t at = end.output.find("sharing violations seen: ");
    if (at != std::string::npos) violations += atol(end.output.c_str() + at + 25);
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
  printf("%zu processes done in %lld ms; %ld sharing violations met and retried\n", kids.size(),
         static_cast<long long>(ms), violations);

  // Exclusive opens: every increment arrived, every open was released.
  std::string counter = dev.ReadFile(u"\\counter.bin");
  ASSERT_EQ(counter.size(), 8u);
  uint64_t value = 0;
  std::memcpy(&value, counter.data(), 8);
  EXPECT_EQ(value, static_cast<uint64_t>(shareChildren * kShareRounds));
  {
    std::lock_guard<std::recursive_mutex> g(dev.device()->DbLock());
    ce::Stmt s(dev.device()->Db(), "SELECT COUNT(*) FROM file_open");
    ASSERT_TRUE(s.Step());
    EXPECT_EQ(s.Int(0), 0);
  }

  // Attributes and times: both last writes stand.
  EXPECT_EQ(GetFileAttributesW(u"\\meta.bin"), kAttrCycle[(kMetaRounds - 1) % 4]);
  HANDLE h = CreateFileW(u"\\meta.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME wt{}, want = MetaTime(kMetaRounds - 1);
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &wt));
  EXPECT_EQ(wt.dwLowDateTime, want.dwLowDateTime);
  EXPECT_EQ(wt.dwHighDateTime, want.dwHighDateTime);
  CloseHandle(h);

  // Message boxes: each logged once with its scripted answer, script used up.
  std::map<std::u16string, int> boxes;
  for (const auto& e : ce::ReadScreenLog()) {
    ++boxes[e.text];
    EXPECT_EQ(e.answer, IDCANCEL) << ce::ToUtf8(e.text);
  }
  EXPECT_EQ(boxes.size(), static_cast<size_t>(boxChildren * kBoxRounds));
  for (int c = 0; c < boxChildren; ++c)
    for (int i = 0; i < kBoxRounds; ++i) EXPECT_EQ(boxes[BoxText(c, i)], 1) << c << ":" << i;
  EXPECT_EQ(ce::PendingMessageBoxAnswers(), 0u);

  // Process table: one row per program started, with its exit code.
  {
    std::lock_guard<std::recursive_mutex> g(dev.device()->DbLock());
    ce::Stmt s(dev.device()->Db(), "SELECT cmdline, exit_code FROM processes WHERE exe = 'CeProcTest.exe'");
    int rows = 0;
    while (s.Step()) {
      ++rows;
      std::string cmd = s.Text(0);
      ASSERT_EQ(cmd.rfind("exit ", 0), 0u) << cmd;
      EXPECT_FALSE(s.IsNull(1)) << cmd;
      EXPECT_EQ(s.Int(1), atoi(cmd.c_str() + 5)) << cmd;
    }
    EXPECT_EQ(rows, procChildren * kProcRounds);
  }

  // Registry: every value of every child.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Stress", 0, 0, &key), ERROR_SUCCESS);
  for (const auto& [role, index] : kids) {
    if (role != "reg") continue;
    for (int i = 0; i < kRegRounds; ++i) {
      DWORD v = 0, size = sizeof v, type = 0;
      std::u16string name = RegValueName(index, i);
      ASSERT_EQ(RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size),
                ERROR_SUCCESS)
          << ce::ToUtf8(name);
      EXPECT_EQ(v, static_cast<DWORD>(index * 1000 + i));
    }
  }
  RegCloseKey(key);
}

}  // namespace
