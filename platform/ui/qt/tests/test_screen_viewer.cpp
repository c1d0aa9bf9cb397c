// The live viewer: what it shows follows the file, input goes to the device.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <filesystem>
#include <fstream>
#include <string>

#include "testkit/TestDevice.h"
#include "ui/qt/Screen.h"
#include "ui/qt/ScreenViewer.h"
// Device declarations after Qt: they are plain macros.
#include "ce/controls.h"
#include "ce/process.h"
#include "ce/window.h"
#include "cesim/process.h"

namespace fs = std::filesystem;

namespace {

LRESULT Quiet(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

void WriteScreen(const fs::path& file, int width, int height, const std::string& windows) {
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      << "<screen width=\"" << width << "\" height=\"" << height << "\" workTop=\"26\">" << windows
      << "</screen>";
}

std::string Window(HWND hwnd, const char* title) {
  return "<window hwnd=\"" + std::to_string(reinterpret_cast<uintptr_t>(hwnd)) + "\" title=\"" + title +
         "\" x=\"0\" y=\"26\" width=\"240\" height=\"100\"/>";
}

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(ui::qt::EnsureApplication(&error)) << error;
    ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");
    WNDCLASSW wc{};
    wc.lpfnWndProc = Quiet;
    wc.lpszClassName = u"ViewerSink";
    ASSERT_NE(RegisterClassW(&wc), 0);
    bottom_ = CreateWindowExW(0, u"ViewerSink", u"bottom", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    top_ = CreateWindowExW(0, u"ViewerSink", u"top", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(top_, nullptr);
  }
  void TearDown() override {
    DestroyWindow(bottom_);
    DestroyWindow(top_);
    UnregisterClassW(u"ViewerSink", nullptr);
  }
  // The next message queued for hwnd, if any.
  bool Next(HWND hwnd, MSG* m) { return PeekMessageW(m, hwnd, 0, 0, PM_REMOVE); }

  quilmo::test::TestDevice dev_;
  HWND bottom_ = nullptr, top_ = nullptr;
};

}  // namespace

TEST_F(ViewerTest, ClicksAndKeysGoToTheTopmostWindowInDevicePixels) {
  const fs::path file = dev_.dir() / "screen.xml";
  WriteScreen(file, 240, 320, Window(bottom_, "Bottom") + Window(top_, "Top"));
  ui::qt::ScreenViewer viewer(file, 2);
  EXPECT_EQ(viewer.Picture().size(), QSize(480, 640));
  EXPECT_TRUE(viewer.Problem().empty()) << viewer.Problem();

  const QPointF at(21, 41);  // device pixel (10, 20) at scale 2
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&viewer, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&viewer, &release);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QCoreApplication::sendEvent(&viewer, &enter);
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, QStringLiteral("A"));
  QCoreApplication::sendEvent(&viewer, &letter);
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
  QCoreApplication::sendEvent(&viewer, &back);

  MSG m;
  ASSERT_TRUE(Next(top_, &m));
  EXPECT_EQ(m.message, WM_LBUTTONDOWN);
  EXPECT_EQ(m.lParam, MAKELPARAM(10, 20));
  ASSERT_TRUE(Next(top_, &m));
  EXPECT_EQ(m.message, WM_LBUTTONUP);
  EXPECT_EQ(m.lParam, MAKELPARAM(10, 20));
  ASSERT_TRUE(Next(top_, &m));
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_RETURN));
  ASSERT_TRUE(Next(top_, &m));
  EXPECT_EQ(m.message, WM_CHAR);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(u'A'));
  ASSERT_TRUE(Next(top_, &m));
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_EQ(m.wParam, static_cast<WPARAM>(VK_BACK));
  EXPECT_FALSE(Next(top_, &m));  // one message per input, no stray characters
  EXPECT_FALSE(Next(bottom_, &m));
}

TEST_F(ViewerTest, FollowsTheFileAndPostsNothingWhenItIsGone) {
  const fs::path file = dev_.dir() / "screen.xml";
  ui::qt::ScreenViewer viewer(file, 1);
  EXPECT_TRUE(viewer.Picture().isNull());
  EXPECT_NE(viewer.Problem().find("shows nothing"), std::string::npos);

  WriteScreen(file, 240, 320, Window(top_, "Top"));
  EXPECT_TRUE(viewer.Refresh());
  EXPECT_FALSE(viewer.Refresh());  // unchanged
  EXPECT_EQ(viewer.size(), QSize(240, 320));
  // Rotated: the window follows the new size.
  WriteScreen(file, 320, 240, Window(top_, "Top"));
  EXPECT_TRUE(viewer.Refresh());
  EXPECT_EQ(viewer.Picture().size(), QSize(320, 240));
  EXPECT_EQ(viewer.size(), QSize(320, 240));

  // A file caught half-written shows the problem and takes no input.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << "<screen width=\"320\" heig";
  EXPECT_TRUE(viewer.Refresh());
  EXPECT_FALSE(viewer.Problem().empty());
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&viewer, &press);
  MSG m;
  EXPECT_FALSE(Next(top_, &m));

  fs::remove(file);
  EXPECT_TRUE(viewer.Refresh());
  EXPECT_TRUE(viewer.Picture().isNull());
}

TEST_F(ViewerTest, AFileLeftByAnEndedProgramIsStale) {
  // A process that has ended (reaped): its pid names no process now.
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  int status = 0;
  waitpid(child, &status, 0);

  const fs::path file = dev_.dir() / "screen.xml";
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      << "<screen width=\"240\" height=\"320\" pid=\"" << child << "\">" << Window(top_, "Top") << "</screen>";
  ui::qt::ScreenViewer viewer(file, 1);
  EXPECT_FALSE(viewer.Picture().isNull());
  EXPECT_NE(viewer.Problem().find("ended"), std::string::npos) << viewer.Problem();
  const QPointF at(5, 5);
  QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&viewer, &press);
  MSG m;
  EXPECT_FALSE(Next(top_, &m));

  // Written by a live process (this one), input goes through.
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      << "<screen width=\"240\" height=\"320\" pid=\"" << getpid() << "\">" << Window(top_, "Top") << "</screen>";
  EXPECT_TRUE(viewer.Refresh());
  EXPECT_TRUE(viewer.Problem().empty()) << viewer.Problem();
  QCoreApplication::sendEvent(&viewer, &press);
  EXPECT_TRUE(Next(top_, &m));
}

TEST_F(ViewerTest, ATapGoesToTheWindowUnderItAndKeysPassOverABubble) {
  const fs::path file = dev_.dir() / "screen.xml";
  // The bottom window fills the work area; a bubble (top) covers its upper part.
  const std::string bubble = "<window hwnd=\"" + std::to_string(reinterpret_cast<uintptr_t>(top_)) +
                             "\" class=\"SHNotificationBubble\" title=\"Restore\" x=\"0\" y=\"26\" width=\"240\""
                             " height=\"60\"/>";
  const std::string below = "<window hwnd=\"" + std::to_string(reinterpret_cast<uintptr_t>(bottom_)) +
                            "\" class=\"#32770\" title=\"Dialog\" x=\"0\" y=\"26\" width=\"240\" height=\"268\"/>";
  WriteScreen(file, 240, 320, below + bubble);
  ui::qt::ScreenViewer viewer(file, 1);
  auto tap = [&](int x, int y) {
    const QPointF at(x, y);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&viewer, &press);
  };
  tap(50, 40);   // on the bubble
  tap(50, 200);  // below it, on the dialog
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QCoreApplication::sendEvent(&viewer, &enter);

  MSG m;
  ASSERT_TRUE(Next(top_, &m));
  EXPECT_EQ(m.message, WM_LBUTTONDOWN);
  EXPECT_EQ(m.lParam, MAKELPARAM(50, 40));
  EXPECT_FALSE(Next(top_, &m));
  ASSERT_TRUE(Next(bottom_, &m));
  EXPECT_EQ(m.message, WM_LBUTTONDOWN);
  EXPECT_EQ(m.lParam, MAKELPARAM(50, 200));
  ASSERT_TRUE(Next(bottom_, &m));
  EXPECT_EQ(m.message, WM_KEYDOWN);
  EXPECT_FALSE(Next(bottom_, &m));
}
