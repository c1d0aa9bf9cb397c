// Windows and messages, in this process and across device processes (the
// closable stand-in plays the other program).
#include <gtest/gtest.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ce/errors.h"
#include "ce/process.h"
#include "ce/time.h"
#include "ce/window.h"
#include "cesim/process.h"
#include "cesim/window.h"
#include "testkit/Closable.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Seen {
  HWND hwnd;
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Seen> g_seen;
std::u16string g_createTitle;

LRESULT RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_seen.push_back({hwnd, msg, wParam, lParam});
  if (msg == WM_CREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    g_createTitle = cs->lpszName ? cs->lpszName : u"";
    if (g_createTitle == u"refuse") return -1;
  }
  if (msg == WM_USER + 2) return static_cast<LRESULT>(wParam + 1000);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int Count(UINT msg, HWND hwnd = nullptr) {
  int n = 0;
  for (const auto& s : g_seen)
    if (s.msg == msg && (!hwnd || s.hwnd == hwnd)) ++n;
  return n;
}

double ThreadCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_seen.clear();
    ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");
    WNDCLASSW wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = u"TestSink";
    ASSERT_NE(RegisterClassW(&wc), 0);
  }
  void TearDown() override {
    for (auto& pi : started_) {
      TerminateProcess(pi.hProcess, 0);
      CloseHandle(pi.hProcess);
      CloseHandle(pi.hThread);
    }
  }

  HWND Sink(const char16_t* title = u"sink", DWORD style = 0, HWND parent = nullptr) {
    return CreateWindowExW(0, u"TestSink", title, style, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
  }
  // Installs the stand-in at \Windows\<name> and starts it.
  PROCESS_INFORMATION Start(const std::u16string& name, const std::u16string& args) {
    quilmo::test::InstallClosable(dev_, u"\\Windows\\" + name);
    PROCESS_INFORMATION pi{};
    EXPECT_TRUE(CreateProcessW((u"\\Windows\\" + name).c_str(), args.c_str(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, nullptr, &pi))
        << GetLastError();
    started_.push_back(pi);
    return pi;
  }
  // Waits for a top-level window with that title.
  HWND WaitForWindow(const char16_t* title, int ms = 10000) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      if (HWND h = FindWindowW(nullptr, title)) return h;
      Sleep(5);
    }
    return nullptr;
  }
  // Pumps this process's messages until done() or the time is up.
  bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left <= 0) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    }
    return true;
  }
  DWORD ExitCodeAfter(HANDLE process, DWORD ms = 10000) {
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return 0xDEAD;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
  }

  quilmo::test::TestDevice dev_;
  std::vector<PROCESS_INFORMATION> started_;
};

TEST_F(WindowTest, CreateFindTextEnumAndDestroy) {
  HWND top = Sink(u"Main Window", WS_VISIBLE);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(g_createTitle, u"Main Window");
  HWND child = Sink(u"kid", WS_CHILD, top);
  HWND owned = Sink(u"popup", WS_POPUP, top);
  ASSERT_TRUE(child && owned);
  EXPECT_EQ(GetParent(child), top);
  EXPECT_TRUE(IsWindowVisible(top));
  EXPECT_FALSE(IsWindowVisible(child));

  EXPECT_EQ(FindWindowW(u"testsink", u"MAIN WINDOW"), top);  // both ignore case
  EXPECT_EQ(FindWindowW(nullptr, u"kid"), nullptr);          // child windows are not searched
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  std::vector<HWND> listed;
  EXPECT_TRUE(EnumWindows([](HWND h, LPARAM p) {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
  }, reinterpret_cast<LPARAM>(&listed)));
  EXPECT_EQ(listed, (std::vector<HWND>{owned, top}));  // newest first, no child

  WCHAR text[8];
  EXPECT_EQ(GetWindowTextW(top, text, 8), 7);  // cut to the buffer
  EXPECT_EQ(std::u16string(text), u"Main Wi");
  EXPECT_TRUE(SetWindowTextW(top, u"Renamed"));
  EXPECT_EQ(Count(WM_SETTEXT, top), 1);
  EXPECT_EQ(GetWindowTextLengthW(top), 7);
  WCHAR cls[32];
  EXPECT_EQ(GetClassNameW(top, cls, 32), 8);
  EXPECT_EQ(std::u16string(cls), u"TestSink");

  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(top, &pid), GetCurrentProcessId());
  EXPECT_EQ(pid, GetCurrentProcessId());

  // WM_CLOSE through DefWindowProc destroys the window with its children
  // and owned windows; the loop is not told to quit.
  g_seen.clear();
  EXPECT_EQ(SendMessageW(top, WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_EQ(Count(WM_DESTROY), 3);
  ASSERT_FALSE(g_seen.empty());
  EXPECT_EQ(g_seen.front().hwnd, top);  // the parent hears of it first
  MSG m;
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));
  EXPECT_FALSE(DestroyWindow(top));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

  // WM_CREATE answering -1 fails the creation.
  EXPECT_EQ(Sink(u"refuse"), nullptr);
  EXPECT_EQ(FindWindowW(nullptr, u"refuse"), nullptr);
  EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"x", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
  WNDCLASSW again{};
  again.lpfnWndProc = RecordingProc;
  again.lpszClassName = u"TESTSINK";
  EXPECT_EQ(RegisterClassW(&again), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
}

TEST_F(WindowTest, QueueOrderFiltersQuitAndErrors) {
  HWND a = Sink(u"a");
  HWND b = Sink(u"b");
  ASSERT_TRUE(PostMessageW(a, WM_USER + 7, 1, 0));
  ASSERT_TRUE(PostMessageW(b, WM_USER + 8, 2, 0));
  ASSERT_TRUE(PostMessageW(nullptr, WM_APP, 3, 0));  // a thread message
  ASSERT_TRUE(PostMessageW(a, WM_COMMAND, 4, 0));

  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_USER + 7);
  ASSERT_TRUE(PeekMessageW(&m, b, 0, 0, PM_REMOVE));  // window filter
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessageW(&m, HWND_THREAD_MESSAGES, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.message, WM_APP);
  EXPECT_EQ(m.hwnd, nullptr);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_COMMAND, WM_COMMAND, PM_REMOVE));  // range filter
  EXPECT_EQ(m.wParam, 4u);
  ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
  EXPECT_EQ(m.message, WM_USER + 7);
  EXPECT_EQ(DispatchMessageW(&m), 0);
  EXPECT_EQ(Count(WM_USER + 7, a), 1);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));

  PostQuitMessage(42);
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(GetMessageW(&m, nullptr, 0, 0), FALSE);
  EXPECT_EQ(m.wParam, 42u);
  EXPECT_FALSE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));

  // Keyboard translation posts the character.
  MSG key{a, WM_KEYDOWN, 'Q', 0, 0, {0, 0}};
  EXPECT_TRUE(TranslateMessage(&key));
  ASSERT_TRUE(PeekMessageW(&m, a, WM_CHAR, WM_CHAR, PM_REMOVE));
  EXPECT_EQ(m.wParam, static_cast<WPARAM>('q'));

  HWND gone = a;
  ASSERT_TRUE(DestroyWindow(a));
  EXPECT_FALSE(PostMessageW(gone, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_EQ(GetMessageW(&m, gone, 0, 0), -1);
  EXPECT_FALSE(GetWindowThreadProcessId(gone, nullptr));
}

TEST_F(WindowTest, TimersOnTheMessageLoop) {
  HWND w = Sink();
  static int procCalls = 0;
  procCalls = 0;
  ASSERT_EQ(SetTimer(w, 7, 30, nullptr), 7u);
  UINT_PTR free = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ++procCalls; });
  ASSERT_NE(free, 0u);
  auto start = Clock::now();
  int windowTimers = 0;
  MSG m;
  while (windowTimers < 3 || procCalls < 2) {
    ASSERT_EQ(GetMessageW(&m, nullptr, 0, 0), TRUE);
    ASSERT_EQ(m.message, WM_TIMER);
    if (m.hwnd == w) {
      EXPECT_EQ(m.wParam, 7u);
      ++windowTimers;
    }
    DispatchMessageW(&m);
    ASSERT_LT(Clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(85));
  EXPECT_EQ(Count(WM_TIMER, w), 3);
  EXPECT_TRUE(KillTimer(w, 7));
  EXPECT_TRUE(KillTimer(nullptr, free));
  EXPECT_FALSE(KillTimer(w, 7));
  // A forged WM_TIMER never calls an unknown procedure.
  MSG forged{nullptr, WM_TIMER, 1, 0x1234, 0, {0, 0}};
  EXPECT_EQ(DispatchMessageW(&forged), 0);
}

// Counts the looks of a waiting GetMessageW: it runs the idle handler each
// time it finds nothing, just before it sleeps. The first look is told to
// `asleep`.
class LookCounter {
 public:
  LookCounter() {
    ce::SetIdleHandler([this] {
      if (looks_++ == 0) asleep_.set_value();
      return ce::IdleResult::kWait;
    });
  }
  ~LookCounter() { ce::SetIdleHandler(nullptr); }
  LookCounter(const LookCounter&) = delete;
  LookCounter& operator=(const LookCounter&) = delete;
  int Looks() const { return looks_; }
  void AwaitFirstLook() { asleep_.get_future().wait(); }

 private:
  std::atomic<int> looks_{0};
  std::promise<void> asleep_;
};

TEST_F(WindowTest, GetMessageSleepsUntilAPostArrivesAndWakesOnIt) {
  HWND w = Sink();
  LookCounter counter;
  // The post comes a while after the waiter went to sleep: a waiter that
  // is not woken by it finds it only at its next periodic look, most of a
  // second later.
  Clock::time_point posted;
  std::thread poster([&] {
    counter.AwaitFirstLook();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    posted = Clock::now();
    PostMessageW(w, WM_USER + 1, 5, 0);
  });
  MSG m;
  double cpu0 = ThreadCpuMs();
  const BOOL got = GetMessageW(&m, nullptr, 0, 0);
  const auto returned = Clock::now();
  double cpu = ThreadCpuMs() - cpu0;
  poster.join();
  ASSERT_EQ(got, TRUE);
  EXPECT_EQ(m.message, WM_USER + 1);
  EXPECT_EQ(m.wParam, 5u);
  // Slept: no look of its own while nothing came (a second one only if the
  // poster was held up past the periodic look), and no CPU spent.
  EXPECT_LE(counter.Looks(), 2);
  EXPECT_LT(cpu, 60.0) << "GetMessageW used " << cpu << " ms of CPU while it waited";
  // Woken by the post: the margin leaves a loaded machine half a second.
  EXPECT_LT(returned - posted, std::chrono::milliseconds(500))
      << "returned " << std::chrono::duration_cast<std::chrono::milliseconds>(returned - posted).count()
      << " ms after the post";
}

TEST_F(WindowTest, RegisteredMessagesAreDeviceWide) {
  UINT a = RegisterWindowMessageW(u"QuilmoMerrowQuit");
  EXPECT_GE(a, WM_REGISTERED_FIRST);
  EXPECT_EQ(RegisterWindowMessageW(u"quilmomerrowquit"), a);
  UINT b = RegisterWindowMessageW(u"QuilmoLissentQuit");
  EXPECT_NE(b, a);
  EXPECT_GE(b, WM_REGISTERED_FIRST);
  EXPECT_EQ(RegisterWindowMessageW(u""), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Another process registers the same name and gets the same id: a
  // broadcast of the id from here ends both stand-ins that wait for it.
  // One registers before this process asks for "QuilmoCorvaneQuit", one
  // after.
  auto first = Start(u"Corvane1.exe", u"title=c1 quit-on=QuilmoCorvaneQuit");
  ASSERT_TRUE(WaitForWindow(u"c1"));
  UINT corvane = RegisterWindowMessageW(u"QUILMOCORVANEQUIT");
  auto second = Start(u"Corvane2.exe", u"title=c2 quit-on=QuilmoCorvaneQuit");
  auto bystander = Start(u"Bystander.exe", u"title=by quit-on=Other");
  ASSERT_TRUE(WaitForWindow(u"c2"));
  ASSERT_TRUE(WaitForWindow(u"by"));
  HWND own = Sink(u"own");

  ASSERT_TRUE(PostMessageW(HWND_BROADCAST, corvane, 0, 0));
  EXPECT_EQ(ExitCodeAfter(first.hProcess), 3u);
  EXPECT_EQ(ExitCodeAfter(second.hProcess), 3u);
  EXPECT_EQ(WaitForSingleObject(bystander.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE));  // this process's window got it too
  EXPECT_EQ(m.hwnd, own);
  EXPECT_EQ(m.message, corvane);
}

TEST_F(WindowTest, MessagesBetweenTwoProcesses) {
  auto pi = Start(u"Peer.exe", u"title=peer");
  HWND peer = WaitForWindow(u"peer");
  ASSERT_NE(peer, nullptr);
  DWORD pid = 0;
  EXPECT_EQ(GetWindowThreadProcessId(peer, &pid), pi.dwProcessId);
  EXPECT_EQ(pid, pi.dwProcessId);
  WCHAR cls[32];
  ASSERT_GT(GetClassNameW(peer, cls, 32), 0);
  EXPECT_EQ(std::u16string(cls), u"QuilmoClosable");

  // Posted both ways.
  HWND own = Sink(u"own");
  auto t0 = Clock::now();
  ASSERT_TRUE(PostMessageW(peer, WM_USER, 41, reinterpret_cast<LPARAM>(own)));
  ASSERT_TRUE(PumpUntil([] { return Count(WM_USER + 1) == 1; }));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(500));  // woken at once, not polled
  EXPECT_EQ(g_seen.back().wParam, 42u);

  // Sent: the answer comes back; a nested send from the peer to us is run
  // while we wait.
  EXPECT_EQ(SendMessageW(peer, WM_USER + 2, 21, 0), 42);
  EXPECT_EQ(SendMessageW(peer, WM_USER + 3, 5, reinterpret_cast<LPARAM>(own)), 1006);
  ULONG_PTR result = 0;
  EXPECT_TRUE(SendMessageTimeoutW(peer, WM_USER + 2, 4, 0, SMTO_NORMAL, 5000, &result));
  EXPECT_EQ(result, 8u);

  // Another process's title is read from the table and can be set.
  WCHAR title[16];
  EXPECT_EQ(GetWindowTextW(peer, title, 16), 4);
  EXPECT_TRUE(SetWindowTextW(peer, u"renamed"));
  EXPECT_EQ(FindWindowW(u"quilmoclosable", u"RENAMED"), peer);
  EXPECT_FALSE(DestroyWindow(peer));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // A peer that does not run its loop: the timed send gives up.
  ASSERT_EQ(kill(static_cast<pid_t>(pi.dwProcessId), SIGSTOP), 0);
  t0 = Clock::now();
  EXPECT_FALSE(SendMessageTimeoutW(peer, WM_USER + 2, 1, 0, SMTO_NORMAL, 200, &result));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_LT(Clock::now() - t0, std::chrono::milliseconds(1500));
  kill(static_cast<pid_t>(pi.dwProcessId), SIGCONT);
  EXPECT_EQ(SendMessageW(peer, WM_USER + 2, 3, 0), 6);  // the abandoned send left no trace

  // WM_CLOSE from here ends it with exit code 0.
  ASSERT_TRUE(PostMessageW(peer, WM_CLOSE, 0, 0));
  EXPECT_EQ(ExitCodeAfter(pi.hProcess), 0u);
  EXPECT_FALSE(IsWindow(peer));
}

TEST_F(WindowTest, EndedProcessesLeaveNoWindowsOrMessages) {
  auto stubborn = Start(u"Stubborn.exe", u"ignore title=stubborn");
  auto windowless = Start(u"Quiet.exe", u"nowindow");
  HWND h = WaitForWindow(u"stubborn");
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(PostMessageW(h, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForSingleObject(stubborn.hProcess, 300), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(IsWindow(h));
  // Park messages in its queue, then end it from outside.
  ASSERT_TRUE(SendMessageW(h, WM_NULL, 0, 0) == 0);
  kill(static_cast<pid_t>(stubborn.dwProcessId), SIGSTOP);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(PostMessageW(h, WM_USER + 9, i, 0));
  ASSERT_TRUE(TerminateProcess(stubborn.hProcess, 0xFFFFFFFFu));
  EXPECT_EQ(ExitCodeAfter(stubborn.hProcess), 0xFFFFFFFFu);
  EXPECT_FALSE(IsWindow(h));
  EXPECT_FALSE(PostMessageW(h, WM_USER, 0, 0));
  bool listed = false;
  for (const auto& w : ce::ListWindows()) listed |= w.hwnd == h;
  EXPECT_FALSE(listed);
  EXPECT_EQ(ce::PurgeEndedWindowOwners(), 0);  // already purged by the lookups
  for (const auto& f : fs::directory_iterator(dev_.dir() / "msgq"))
    EXPECT_NE(f.path().filename().string().rfind(std::to_string(stubborn.dwProcessId) + "-", 0), 0u);
  EXPECT_EQ(WaitForSingleObject(windowless.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace

namespace {

TEST(CommonControls, InitializationChecksItsRecordOnly) {
  InitCommonControls();
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  EXPECT_TRUE(InitCommonControlsEx(&icc));
  icc.dwSize = 4;
  SetLastError(0);
  EXPECT_FALSE(InitCommonControlsEx(&icc));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(InitCommonControlsEx(nullptr));
}

}  // namespace
