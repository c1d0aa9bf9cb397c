// A writer killed inside the device.db transaction of a file call, or while
// it holds a file's guard with its share taken: the bookkeeping stays
// whole, nothing of the call's rows stands, and the dead writer's opens
// stop no one.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/file.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ChildProcess;
using quilmo::test::TestDevice;

constexpr const char* kActionEnv = "QUILMO_KILL_TEST_ACTION";
constexpr uint64_t kOldTime = 130000000000000000ull;  // a FILETIME in 2012
constexpr uint64_t kNewTime = kOldTime + 864000000000ull;

FILETIME Ft(uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }
uint64_t Ticks(const FILETIME& f) { return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime; }

HANDLE Open(const char16_t* path, DWORD access, DWORD share, DWORD disposition, DWORD attributes = 0) {
  return CreateFileW(path, access, share, nullptr, disposition, attributes, nullptr);
}

bool Write(HANDLE h, const std::string& bytes) {
  DWORD n = 0;
  return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
}

// What the child does; its kill point (kFilesKillEnv) ends it inside.
void ChildAction(const std::string& action) {
  if (action == "open") {
    Open(u"\\data.bin", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
  } else if (action == "times" || action == "close") {
    HANDLE h = Open(u"\\data.bin", GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(Write(h, "new"));
    FILETIME t = Ft(kNewTime);
    if (action == "times") SetFileTime(h, &t, &t, &t);
    CloseHandle(h);
  } else if (action == "share") {
    Open(u"\\data.bin", GENERIC_READ, 0, OPEN_EXISTING);
  } else if (action == "create") {
    Open(u"\\new.bin", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_SYSTEM);
  } else if (action == "delete") {
    DeleteFileW(u"\\data.bin");
  } else if (action == "move") {
    MoveFileW(u"\\data.bin", u"\\moved.bin");
  } else if (action == "replace") {
    // A restore's last step: a new file, its times, then in the old one's place.
    HANDLE h = Open(u"\\data.bin~new", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_SYSTEM);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    ASSERT_TRUE(Write(h, "new"));
    FILETIME t = Ft(kNewTime);
    ASSERT_TRUE(SetFileTime(h, &t, &t, &t));
    ASSERT_TRUE(CloseHandle(h));
    DeleteAndRenameFile(u"\\data.bin", u"\\data.bin~new");
  }
  FAIL() << "the kill point " << action << " was not reached: " << GetLastError();
}

TEST(FileKillChild, DISABLED_Run) {
  if (!quilmo::test::IsChildRun()) GTEST_SKIP() << "runs only as a child";
  ChildAction(getenv(kActionEnv));
}

// data.bin: "old", hidden, all three times kOldTime.
void PutOldFile() {
  HANDLE h = Open(u"\\data.bin", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(Write(h, "old"));
  FILETIME t = Ft(kOldTime);
  ASSERT_TRUE(SetFileTime(h, &t, &t, &t));
  ASSERT_TRUE(CloseHandle(h));
}

// The times of a file, opened exclusively: a dead writer's open is no
// conflict.
void ExpectTimes(const char16_t* path, uint64_t want) {
  HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  FILETIME c{}, a{}, w{};
  ASSERT_TRUE(GetFileTime(h, &c, &a, &w));
  EXPECT_EQ(Ticks(c), want);
  EXPECT_EQ(Ticks(a), want);
  EXPECT_EQ(Ticks(w), want);
  EXPECT_TRUE(CloseHandle(h));
}

int64_t Count(TestDevice& dev, const char* sql) {
  std::lock_guard<std::recursive_mutex> g(dev.device()->DbLock());
  ce::Stmt s(dev.device()->Db(), sql);
  return s.Step() ? s.Int(0) : -1;
}

std::string IntegrityOf(TestDevice& dev) {
  std::lock_guard<std::recursive_mutex> g(dev.device()->DbLock());
  ce::Stmt s(dev.device()->Db(), "PRAGMA integrity_check");
  return s.Step() ? s.Text(0) : "unreadable";
}

class FileKill : public ::testing::TestWithParam<const char*> {};

TEST_P(FileKill, MidTransactionLeavesTheBookkeepingWhole) {
  const std::string action = GetParam();
  TestDevice dev;
  PutOldFile();
  ChildProcess child =
      ChildProcess::RunTest("FileKillChild.DISABLED_Run", {{kActionEnv, action}, {ce::kFilesKillEnv, action}});
  ASSERT_TRUE(child.Started());
  const quilmo::test::ChildExit end = child.Wait(std::chrono::seconds(60));
  ASSERT_EQ(end.signal, SIGKILL) << end.Describe();

  EXPECT_EQ(IntegrityOf(dev), "ok");
  if (action == "open" || action == "times" || action == "close" || action == "share") {
    // The call's rows are rolled back: the attributes and times stand as
    // they were (the host file's bytes are the host's).
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    ExpectTimes(u"\\data.bin", kOldTime);
  } else if (action == "delete") {
    // The host file is gone; a file made in its place has its own row.
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin"), INVALID_FILE_ATTRIBUTES);
    HANDLE h = Open(u"\\data.bin", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  } else if (action == "create") {
    // The new file was named but its row rolled back: it reads as a file
    // without a row, and the dead writer's exclusive open stops no one.
    EXPECT_EQ(GetFileAttributesW(u"\\new.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    HANDLE h = Open(u"\\new.bin", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(DeleteFileW(u"\\new.bin")) << GetLastError();
    ExpectTimes(u"\\data.bin", kOldTime);
  } else if (action == "move") {
    // The host entry moved, its rows did not: the moved file reads as one
    // without a row, and moving it back does not take up the old row.
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\moved.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(MoveFileW(u"\\moved.bin", u"\\data.bin")) << GetLastError();
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(dev.ReadFile(u"\\data.bin"), "old");
  } else if (action == "replace") {
    // The new bytes took the old file's place, the rows did not move: the
    // file keeps the old one's attributes and times, and a file made again
    // under the new name gets a row of its own.
    EXPECT_EQ(dev.ReadFile(u"\\data.bin"), "new");
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    ExpectTimes(u"\\data.bin", kOldTime);
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin~new"), INVALID_FILE_ATTRIBUTES);
    HANDLE h = Open(u"\\data.bin~new", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(GetFileAttributesW(u"\\data.bin~new"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  }
  // No open of the dead writer is left once the file was opened again.
  EXPECT_EQ(Count(dev, "SELECT COUNT(*) FROM file_open"), 0);
  EXPECT_TRUE(DeleteFileW(u"\\data.bin")) << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(Points, FileKill, ::testing::Values("open", "times", "close", "delete", "move", "share", "create",
                                                                  "replace"));

}  // namespace
