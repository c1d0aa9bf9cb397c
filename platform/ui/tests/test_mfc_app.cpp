// The application object: command-line splitting, AfxWinMain's exit code,
// the main frame, message boxes and the wait cursor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/msgbox.h"
#include "mfc_test_support.h"

namespace {

using namespace mfctest;

struct Seen {
  std::u16string param;
  bool flag;
  bool last;
  bool operator==(const Seen& o) const { return param == o.param && flag == o.flag && last == o.last; }
};

class RecordingInfo : public CCommandLineInfo {
 public:
  std::vector<Seen> seen;
  void ParseParam(const WCHAR* param, BOOL flag, BOOL last) override {
    seen.push_back({param, flag != FALSE, last != FALSE});
    CCommandLineInfo::ParseParam(param, flag, last);
  }
};

class App : public CWinApp {
 public:
  App() : CWinApp(u"Test App") {}
  int postQuit = -1;
  BOOL initResult = TRUE;
  int exitOverride = -1;
  bool makeFrame = false;
  RecordingInfo info;
  BOOL InitInstance() override {
    ParseCommandLine(info);
    if (makeFrame) {
      auto* frame = new CFrameWnd;
      if (!frame->LoadFrame(4321, WS_OVERLAPPED)) return FALSE;
      m_pMainWnd = frame;
      CString title;
      frame->GetWindowText(title);
      frameTitle = title.str();
      frame->PostMessage(WM_CLOSE);  // closing the main window ends the loop
    }
    if (postQuit >= 0) PostQuitMessage(postQuit);
    return initResult;
  }
  int ExitInstance() override { return exitOverride >= 0 ? exitOverride : CWinApp::ExitInstance(); }
  std::u16string frameTitle;
};

int Main(const char16_t* cmd) {
  std::u16string line = cmd;
  return AfxWinMain(nullptr, nullptr, line.data(), SW_SHOWNORMAL);
}

TEST(MfcCommandLine, BlanksSplitQuotesGroupAndFlagsLoseTheirMark) {
  std::u16string line = u"  /restore \"\\My Documents\\a b.qbk\" -Silent x\"y z\"w \"\" /";
  CWinApp* previous = AfxGetApp();
  (void)previous;
  quilmo::test::TestDevice device;
  App app;
  app.m_lpCmdLine = line.data();
  app.ParseCommandLine(app.info);
  std::vector<Seen> want{{u"restore", true, false},
                         {u"\\My Documents\\a b.qbk", false, false},
                         {u"Silent", true, false},
                         {u"xy zw", false, false},
                         {u"", false, false},
                         {u"", true, true}};
  EXPECT_EQ(app.info.seen, want);
  EXPECT_EQ(app.info.m_strFileName.str(), u"\\My Documents\\a b.qbk");
  EXPECT_EQ(app.info.m_nShellCommand, CCommandLineInfo::FileOpen);

  // Empty and blank lines give no parameter; an unclosed quote runs to the end.
  EXPECT_TRUE(ui::SplitCommandLine(u"").empty());
  EXPECT_TRUE(ui::SplitCommandLine(u" \t ").empty());
  auto p = ui::SplitCommandLine(u"a \"b  c");
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[1].text, u"b  c");
  // A quoted flag is still a flag (the mark is looked at after unquoting).
  p = ui::SplitCommandLine(u"\"-x y\"");
  ASSERT_EQ(p.size(), 1u);
  EXPECT_TRUE(p[0].flag);
  EXPECT_EQ(p[0].text, u"x y");
}

TEST(MfcApp, ExitCodeComesFromTheQuitMessageOrExitInstance) {
  quilmo::test::TestDevice device;
  {
    App app;
    app.postQuit = 5;
    EXPECT_EQ(Main(u"/a b"), 5);
    EXPECT_EQ(app.info.seen.size(), 2u);
    EXPECT_EQ(std::u16string(app.m_pszAppName), u"Test App");
  }
  {
    App app;
    app.initResult = FALSE;
    EXPECT_EQ(Main(u""), 0);  // no loop ran: no quit code
  }
  {
    App app;
    app.initResult = FALSE;
    app.exitOverride = 9;
    EXPECT_EQ(Main(u""), 9);
  }
  {
    App app;
    app.makeFrame = true;
    EXPECT_EQ(Main(u""), 0);
    EXPECT_EQ(app.frameTitle, u"Test App");  // no frame string: the app's name
    EXPECT_EQ(app.m_pMainWnd, nullptr);       // cleared when the frame went
  }
  {
    // InitInstance fails after making its frame: AfxWinMain destroys it (the
    // frame deletes itself on the way).
    App app;
    app.makeFrame = true;
    app.initResult = FALSE;
    app.exitOverride = 4;
    EXPECT_EQ(Main(u""), 4);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

TEST(MfcApp, FrameTitleFromItsStringAndBoxesCarryTheAppName) {
  quilmo::test::TestDevice device;
  ResourceModule res{device, {}, {{4321, u"Framed\nextra"}, {700, u"Loaded text"}}};
  App app;
  app.makeFrame = true;
  EXPECT_EQ(Main(u""), 0);
  EXPECT_EQ(app.frameTitle, u"Framed");

  std::vector<ce::MessageBoxRequest> boxes;
  ce::SetMessageBoxService([&](const ce::MessageBoxRequest& r) {
    boxes.push_back(r);
    return IDNO;
  });
  EXPECT_EQ(AfxMessageBox(u"plain", MB_YESNO), IDNO);
  EXPECT_EQ(AfxMessageBox(700, MB_OK), IDNO);
  ce::SetMessageBoxService(nullptr);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, u"Test App");
  EXPECT_EQ(boxes[0].stringId, 0u);
  EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(boxes[1].text, u"Loaded text");
  EXPECT_EQ(boxes[1].stringId, 700u);
}

TEST(MfcApp, WaitCursorNests) {
  EXPECT_FALSE(ui::IsWaitCursor());
  {
    CWaitCursor outer;
    {
      CWaitCursor inner;
      EXPECT_TRUE(ui::IsWaitCursor());
    }
    EXPECT_TRUE(ui::IsWaitCursor());
  }
  EXPECT_FALSE(ui::IsWaitCursor());
}

}  // namespace
