#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ce/errors.h"
#include "ce/event.h"
#include "ce/process.h"
#include "ce/window.h"
#include "cesim/event.h"
#include "testkit/RunCommand.h"
#include "testkit/TestDevice.h"

namespace {

using quilmo::test::ChildProcess;

class EventTest : public ::testing::Test {
 protected:
  quilmo::test::TestDevice dev_;
};

TEST_F(EventTest, AutoResetEndsOneWaitAndManualResetStaysSetUntilReset) {
  HANDLE autoEv = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(autoEv && manual);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_TIMEOUT);  // taken by the first wait

  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

  // Another thread's SetEvent ends a wait without limit.
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(autoEv);
  });
  EXPECT_EQ(WaitForSingleObject(autoEv, INFINITE), WAIT_OBJECT_0);
  setter.join();
  EXPECT_TRUE(CloseHandle(autoEv));
  EXPECT_TRUE(CloseHandle(manual));
  EXPECT_FALSE(SetEvent(autoEv));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(EventTest, WaitAllTakesNothingUntilEveryEventIsSet) {
  HANDLE a = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  HANDLE b = CreateEventW(nullptr, FALSE, FALSE, u"Test/WaitAllB");
  HANDLE both[] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  // a is still set: the failed wait-all took nothing.
  ASSERT_TRUE(SetEvent(b));
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  // waitAll FALSE: the lowest signalled index.
  SetEvent(b);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  CloseHandle(a);
  CloseHandle(b);
}

TEST_F(EventTest, SameNameGivesTheSameEventAndOpenNeedsOne) {
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Test/Shared"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u""), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"Test/Shared");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  // Case does not matter; the later create's arguments are ignored.
  HANDLE second = CreateEventW(nullptr, FALSE, TRUE, u"test/SHARED");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
  HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Test/Shared");
  ASSERT_NE(opened, nullptr);
  ASSERT_TRUE(SetEvent(second));
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);  // manual-reset, as first made

  auto events = ce::ListNamedEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].name, u"Test/Shared");
  EXPECT_TRUE(events[0].manualReset);
  EXPECT_EQ(events[0].holders, 1);

  // The event lives while a handle does.
  CloseHandle(first);
  CloseHandle(second);
  EXPECT_EQ(ce::ListNamedEvents().size(), 1u);
  CloseHandle(opened);
  EXPECT_TRUE(ce::ListNamedEvents().empty());
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Test/Shared"), nullptr);
  HANDLE fresh = CreateEventW(nullptr, TRUE, FALSE, u"Test/Shared");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
  CloseHandle(fresh);
}

TEST_F(EventTest, AnotherProcessSetsANamedEventAndAnAutoResetOneEndsOneWait) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, u"Test/Cross");
  ASSERT_NE(ev, nullptr);
  auto child = ChildProcess::Fork([] {
    HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"Test/Cross");
    if (!h) _exit(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!SetEvent(h)) _exit(3);
  });
  EXPECT_EQ(WaitForSingleObject(ev, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(child.Wait().ExitedWith(ChildProcess::kReturnedCode));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);  // the wait took it

  // The message wait sees it too.
  auto again = ChildProcess::Fork([] {
    HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, u"Test/Cross");
    if (!h || !SetEvent(h)) _exit(2);
  });
  EXPECT_EQ(MsgWaitForMultipleObjects(1, &ev, FALSE, 5000, QS_ALLINPUT), WAIT_OBJECT_0);
  EXPECT_TRUE(again.Wait().ExitedWith(ChildProcess::kReturnedCode));
  CloseHandle(ev);
}

TEST_F(EventTest, AnEventGoesWithTheLastProcessThatHeldIt) {
  auto child = ChildProcess::Fork([] {
    // Ends without closing its handle.
    if (!CreateEventW(nullptr, TRUE, TRUE, u"Test/Orphan")) _exit(2);
  });
  ASSERT_TRUE(child.Wait().ExitedWith(ChildProcess::kReturnedCode));
  EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Test/Orphan"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(ce::ListNamedEvents().empty());
}

TEST_F(EventTest, TimedWaitOnAnUnsetEventTimesOutAndBadArgumentsFail) {
  HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, u"Test/Timeout");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(ev, 60), WAIT_TIMEOUT);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
  CloseHandle(ev);
  std::u16string longName(kMaxEventName + 1, u'x');
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, longName.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_FALSE(ResetEvent(GetCurrentProcess()));
}

}  // namespace
