// The notification bubble: its HTML, its window, the sink's messages, the
// ways it goes away, automation, UI scripts and the stall of a headless
// loop that nobody answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/shell.h"
#include "ce/sound.h"
#include "ce/text.h"
#include "cesim/device.h"
#include "cesim/msgbox.h"
#include "cesim/notification.h"
#include "cesim/window.h"
#include "../../src/shell/bubble_html.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"
#include "ui/Loop.h"

namespace {

constexpr const char16_t* kHtml =
    u"<html><body><p>Your device was restored &amp; is ready.</p>"
    u"<p align=right><input type=button name='cmd:123' value='View report'>&nbsp;"
    u"<input type=\"button\" name=\"cmd:124\" value=\"Dismiss\"></p></body></html>";
const CLSID kClsid{0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

struct SinkLog {
  std::vector<std::string> lines;
  LRESULT notifyAnswer = 0;
  bool quitOnCommand = false;  // as a program whose work ends with the answer
};
SinkLog& Sink() {
  static SinkLog s;
  return s;
}

LRESULT SinkProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* n = reinterpret_cast<NMSHN*>(lParam);
    std::string line = "notify " + std::to_string(static_cast<int>(n->hdr.code)) + " id " +
                       std::to_string(n->hdr.idFrom) + " lParam " + std::to_string(n->lParam);
    if (n->hdr.code == SHNN_LINKSEL) line += " " + ce::ToUtf8(n->pszLink);
    if (n->hdr.code == SHNN_DISMISS) line += n->fTimeout ? " timeout" : "";
    Sink().lines.push_back(line);
    return Sink().notifyAnswer;
  }
  if (msg == WM_COMMAND) {
    Sink().lines.push_back("command " + std::to_string(LOWORD(wParam)));
    if (Sink().quitOnCommand) PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(h, msg, wParam, lParam);
}

class BubbleTest : public ::testing::Test {
 protected:
  BubbleTest() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = SinkProc;
    wc.lpszClassName = u"BubbleSink";
    RegisterClassW(&wc);  // fails harmlessly when already there
    Sink() = SinkLog{};
    sink_ = CreateWindowExW(0, u"BubbleSink", u"Sink", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  }
  ~BubbleTest() override {
    if (IsWindow(sink_)) DestroyWindow(sink_);
  }

  SHNOTIFICATIONDATA Data(DWORD id = 7, DWORD seconds = 0) const {
    SHNOTIFICATIONDATA d{};
    d.cbStruct = sizeof d;
    d.dwID = id;
    d.npPriority = SHNP_INFORM;
    d.csDuration = seconds;
    d.clsid = kClsid;
    d.hwndSink = sink_;
    d.pszHTML = kHtml;
    d.pszTitle = u"Quilmo Backup";
    d.lParam = 42;
    return d;
  }

  static std::vector<std::string> LogTexts() {
    std::vector<std::string> out;
    for (const auto& e : ce::ReadScreenLog())
      out.push_back("[" + ce::ToUtf8(e.caption) + "] " + ce::ToUtf8(e.text) + " =" + std::to_string(e.answer));
    return out;
  }

  quilmo::test::TestDevice dev_;
  HWND sink_ = nullptr;
};

TEST(BubbleHtml, TextIsPlainAndEachCommandInputIsAButton) {
  ce::BubbleContent c = ce::ParseBubbleHtml(kHtml);
  EXPECT_EQ(c.text, u"Your device was restored & is ready.");
  ASSERT_EQ(c.buttons.size(), 2u);
  EXPECT_EQ(c.buttons[0].name, u"cmd:123");
  EXPECT_EQ(c.buttons[0].label, u"View report");
  EXPECT_EQ(c.buttons[0].command, 123);
  EXPECT_EQ(c.buttons[1].label, u"Dismiss");
  EXPECT_EQ(c.buttons[1].command, 124);

  c = ce::ParseBubbleHtml(u"a<br>b &lt;x&gt; &#65;&#x42; <!-- c --> <b>d</b> <input type=button name=other value=X>"
                          u"<input type=button name='cmd:99999' value=Big> <unclosed");
  EXPECT_EQ(c.text, u"a\nb <x> AB d <unclosed");
  ASSERT_EQ(c.buttons.size(), 2u);
  EXPECT_FALSE(c.buttons[0].command.has_value());  // not a command
  EXPECT_FALSE(c.buttons[1].command.has_value());  // out of range
  EXPECT_EQ(ce::ParseBubbleHtml(u"").text, u"");
  EXPECT_EQ(ce::ParseBubbleHtml(u"&bogus; & <").text, u"&bogus; & <");
}

TEST_F(BubbleTest, AButtonTellsTheSinkThenSendsItsCommandAndEveryStepIsLogged) {
  SHNOTIFICATIONDATA d = Data();
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  EXPECT_EQ(SHNotificationAdd(&d), ERROR_ALREADY_EXISTS);

  auto bubbles = ce::OwnNotificationBubbles();
  ASSERT_EQ(bubbles.size(), 1u);
  HWND bubble = bubbles[0].hwnd;
  ce::ModelWindow w;
  ASSERT_TRUE(ce::DescribeWindow(bubble, &w));
  EXPECT_EQ(w.className, kNotificationBubbleClass);
  EXPECT_TRUE(w.visible);
  EXPECT_EQ(GetParent(bubble), sink_);
  std::vector<std::u16string> shown;
  for (HWND c : w.children) {
    ce::ModelWindow cw;
    ASSERT_TRUE(ce::DescribeWindow(c, &cw));
    shown.push_back(cw.className + u":" + cw.text);
  }
  EXPECT_EQ(shown, (std::vector<std::u16string>{u"STATIC:Quilmo Backup", u"STATIC:Your device was restored & is ready.",
                                                u"BUTTON:View report", u"BUTTON:Dismiss"}));

  // The sink's answer does not keep the command from it.
  Sink().notifyAnswer = 1;
  ASSERT_TRUE(ce::PressNotificationButton(123));
  EXPECT_EQ(Sink().lines, (std::vector<std::string>{"notify -1000 id 7 lParam 42 cmd:123", "command 123"}));
  EXPECT_FALSE(ce::PressNotificationButton(125));

  ASSERT_EQ(SHNotificationRemove(&kClsid, 7), ERROR_SUCCESS);
  EXPECT_FALSE(IsWindow(bubble));
  EXPECT_TRUE(ce::OwnNotificationBubbles().empty());
  EXPECT_EQ(SHNotificationRemove(&kClsid, 7), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(LogTexts(),
            (std::vector<std::string>{
                "[Quilmo Backup] notification 7 shown: Your device was restored & is ready. [View report] [Dismiss] =0",
                "[Quilmo Backup] notification 7 button \"View report\" (cmd:123) pressed; the sink answered 1 =123",
                "[Quilmo Backup] notification 7 removed =0"}));
}

TEST_F(BubbleTest, ATapOnItsButtonPressesIt) {
  SHNOTIFICATIONDATA d = Data();
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  HWND bubble = ce::OwnNotificationBubbles().at(0).hwnd;
  HWND button = GetDlgItem(bubble, 124);
  ASSERT_NE(button, nullptr);
  RECT r;
  ASSERT_TRUE(GetWindowRect(button, &r));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(bubble, WM_LBUTTONDOWN, 0, at);
  PostMessageW(bubble, WM_LBUTTONUP, 0, at);
  ui::PumpMessages();
  EXPECT_EQ(Sink().lines, (std::vector<std::string>{"notify -1000 id 7 lParam 42 cmd:124", "command 124"}));
}

TEST_F(BubbleTest, ItGoesWithItsSinkAndWhenItsTimeRunsOutOnTheDeviceClock) {
  SHNOTIFICATIONDATA d = Data(1);
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  HWND bubble = ce::OwnNotificationBubbles().at(0).hwnd;
  ASSERT_TRUE(DestroyWindow(sink_));
  EXPECT_FALSE(IsWindow(bubble));
  EXPECT_TRUE(ce::OwnNotificationBubbles().empty());
  EXPECT_EQ(LogTexts().back(), "[Quilmo Backup] notification 1 gone: its sink window was destroyed =0");

  sink_ = CreateWindowExW(0, u"BubbleSink", u"Sink", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  d = Data(2, 30);
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  ce::Device* dev = ce::Device::Current();
  dev->SetClockOffsetMs(dev->ClockOffsetMs() + 29000);
  ui::PumpMessages();
  EXPECT_EQ(ce::OwnNotificationBubbles().size(), 1u);
  dev->SetClockOffsetMs(dev->ClockOffsetMs() + 1500);
  ui::PumpMessages();
  EXPECT_TRUE(ce::OwnNotificationBubbles().empty());
  EXPECT_EQ(Sink().lines, (std::vector<std::string>{"notify -1001 id 2 lParam 42 timeout"}));
  EXPECT_EQ(LogTexts().back(), "[Quilmo Backup] notification 2 gone: its 30 s ran out =0");
}

TEST_F(BubbleTest, UpdateChangesTheTextAndBadRecordsAreRefused) {
  SHNOTIFICATIONDATA d = Data();
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  d.pszHTML = u"Done.<input type=button name='cmd:5' value=OK>";
  ASSERT_EQ(SHNotificationUpdate(SHNUM_HTML, &d), ERROR_SUCCESS);
  auto b = ce::OwnNotificationBubbles().at(0);
  EXPECT_EQ(b.text, u"Done.");
  ASSERT_EQ(b.buttons.size(), 1u);
  EXPECT_EQ(b.buttons[0].first, 5);

  SHNOTIFICATIONDATA bad = Data(9);
  bad.cbStruct = 4;
  EXPECT_EQ(SHNotificationAdd(&bad), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SHNotificationAdd(nullptr), ERROR_INVALID_PARAMETER);
  bad = Data(9);
  bad.pszHTML = nullptr;
  EXPECT_EQ(SHNotificationAdd(&bad), ERROR_INVALID_PARAMETER);
  bad = Data(9);
  bad.hwndSink = reinterpret_cast<HWND>(static_cast<intptr_t>(0x7777));
  EXPECT_EQ(SHNotificationAdd(&bad), ERROR_INVALID_WINDOW_HANDLE);
  bad = Data(9);
  EXPECT_EQ(SHNotificationUpdate(SHNUM_HTML, &bad), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(ce::OwnNotificationBubbles().size(), 1u);
}

TEST_F(BubbleTest, AutomationAndTheScriptStepAnswerTheBubble) {
  std::vector<ui::test::ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript("bubble 123\n", &steps, &error)) << error;
  EXPECT_FALSE(ui::test::ParseScript("bubble\n", &steps, &error));
  EXPECT_FALSE(ui::test::ParseScript("bubble x\n", &steps, &error));
  ASSERT_TRUE(ui::test::ParseScript("bubble 123\n", &steps, &error));

  ui::test::Automation a;
  ui::test::AddScriptSteps(a, steps);
  SHNOTIFICATIONDATA d = Data();
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  // The sink's loop: it ends the program once told.
  Sink().quitOnCommand = true;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  EXPECT_TRUE(a.Done());
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(Sink().lines, (std::vector<std::string>{"notify -1000 id 7 lParam 42 cmd:123", "command 123"}));
}

TEST_F(BubbleTest, AHeadlessLoopWithABubbleNobodyAnswersStallsAndSaysWhy) {
  std::vector<std::string> stalls;
  ui::SetStallHandler([&](const std::string& what) { stalls.push_back(what); });
  SHNOTIFICATIONDATA d = Data();
  ASSERT_EQ(SHNotificationAdd(&d), ERROR_SUCCESS);
  MSG m;
  int dispatched = 0;
  while (GetMessageW(&m, nullptr, 0, 0) && ++dispatched < 1000) DispatchMessageW(&m);
  ui::SetStallHandler({});
  ASSERT_EQ(stalls.size(), 1u);
  EXPECT_NE(stalls[0].find("a notification bubble waits for an answer"), std::string::npos) << stalls[0];
  EXPECT_TRUE(Sink().lines.empty());
}

TEST_F(BubbleTest, PlaySoundIsRecordedInTheScreenLog) {
  EXPECT_TRUE(PlaySoundW(u"\\Windows\\notify.wav", nullptr, SND_FILENAME | SND_ASYNC));
  EXPECT_TRUE(PlaySoundW(nullptr, nullptr, 0));
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"[sound] \\Windows\\notify.wav =0"}));
}

}  // namespace
