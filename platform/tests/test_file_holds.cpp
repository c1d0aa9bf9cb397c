// Holds (rows of device.db's share table) against the opens that read no
// row: a reader's open of a file without holds does not read device.db, so
// what tells it that a hold exists must hold across processes, for rows
// older than that knowledge, and a share must end with its handle's close
// even after a fork.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ce/errors.h"
#include "ce/file.h"
#include "cesim/device.h"
#include "cesim/file.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ChildProcess;
using quilmo::test::TestDevice;

constexpr const char* kActionEnv = "QUILMO_HOLDS_TEST_ACTION";
constexpr DWORD kRW = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareRW = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE OpenReader(const char16_t* path) {
  return CreateFileW(path, GENERIC_READ, kShareRW, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The error of a reader's open; ERROR_SUCCESS when it opened.
DWORD ReaderError(const char16_t* path) {
  HANDLE h = OpenReader(path);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return ERROR_SUCCESS;
}

int64_t OnlyHoldId(TestDevice& dev) {
  std::lock_guard<std::recursive_mutex> g(dev.device()->DbLock());
  ce::Stmt s(dev.device()->Db(), "SELECT id FROM file_open");
  return s.Step() ? s.Int(0) : 0;
}

TEST(FileHoldsChild, DISABLED_Run) {
  if (!quilmo::test::IsChildRun()) GTEST_SKIP() << "runs only as a child";
  const std::string action = getenv(kActionEnv);
  if (action == "hold") {
    // A system hold outlives this process.
    ASSERT_NE(ce::HoldFileOpen(u"\\Docs\\held.txt", kRW, 0, true), 0) << GetLastError();
  } else if (action == "read") {
    EXPECT_EQ(ReaderError(u"\\Docs\\held.txt"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
}

ChildProcess RunChild(const std::string& action) {
  return ChildProcess::RunTest("FileHoldsChild.DISABLED_Run", {{kActionEnv, action}});
}

TEST(FileHolds, AnotherProcesssHoldStopsAReaderThatOpenedTheFileBefore) {
  TestDevice dev;
  dev.PutFile(u"\\Docs\\held.txt", "x");
  // Opened once without a hold: the folder is known, the file's holds too.
  ASSERT_EQ(ReaderError(u"\\Docs\\held.txt"), static_cast<DWORD>(ERROR_SUCCESS));
  ChildProcess child = RunChild("hold");
  ASSERT_TRUE(child.Started());
  const quilmo::test::ChildExit end = child.Wait(std::chrono::seconds(60));
  ASSERT_TRUE(end.ExitedWith(0)) << end.Describe();

  EXPECT_EQ(ReaderError(u"\\Docs\\held.txt"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReaderError(u"\\DOCS\\HELD.TXT"), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  const int64_t hold = OnlyHoldId(dev);
  ASSERT_NE(hold, 0);
  ASSERT_TRUE(ce::ReleaseHold(hold));
  EXPECT_EQ(ReaderError(u"\\Docs\\held.txt"), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(FileHolds, HoldsOlderThanTheirMarksStillStopReaders) {
  TestDevice dev;
  dev.PutFile(u"\\Docs\\held.txt", "x");
  ASSERT_NE(ce::HoldFileOpen(u"\\Docs\\held.txt", kRW, 0, true), 0) << GetLastError();
  // A device whose rows were written before any process kept marks: the
  // first process to need them makes them from the rows.
  std::error_code ec;
  ASSERT_TRUE(std::filesystem::remove(dev.dir() / "files.holds", ec)) << ec.message();
  ChildProcess child = RunChild("read");
  ASSERT_TRUE(child.Started());
  const quilmo::test::ChildExit end = child.Wait(std::chrono::seconds(60));
  EXPECT_TRUE(end.ExitedWith(0)) << end.Describe();
}

TEST(FileHolds, ShareEndsWithTheCloseOfAHandleAForkedChildCopied) {
  TestDevice dev;
  dev.PutFile(u"\\Docs\\mine.txt", "x");
  HANDLE h = CreateFileW(u"\\Docs\\mine.txt", kRW, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  // The child keeps its copy of the handle's descriptor until the gate closes.
  ChildProcess child = ChildProcess::Fork([&] {
    close(gate[1]);
    char c;
    if (read(gate[0], &c, 1) < 0) _exit(3);
  });
  close(gate[0]);
  ASSERT_TRUE(child.Started());
  EXPECT_TRUE(CloseHandle(h));
  HANDLE again = CreateFileW(u"\\Docs\\mine.txt", kRW, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(again, INVALID_HANDLE_VALUE) << GetLastError();
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
  close(gate[1]);
  EXPECT_TRUE(child.Wait(std::chrono::seconds(60)).ExitedWith(ChildProcess::kReturnedCode));
}

}  // namespace
