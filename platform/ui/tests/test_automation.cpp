// Automation driving real dialogs of the window layer: typed text, clicks,
// boxes expected and unexpected, stalls, the device clock and timers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/msgbox.h"
#include "ce/time.h"
#include "ce/window.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "auto_test_dialog.h"

namespace {

using ui::test::Automation;
using ui::test::Dialog;
using namespace autotest;

class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override { g_seen = &seen; }
  void TearDown() override { g_seen = nullptr; }
  INT_PTR Run() { return RunSmallDialog(); }
  quilmo::test::TestDevice device;
  Seen seen;
};

std::string Joined(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + "\n";
  return s;
}

TEST_F(AutomationTest, StepsTypeClickAndEndTheDialog) {
  Automation a;
  RECT editRect{};
  a.OnDialog(kTemplate, [&](Dialog& d) {
    EXPECT_EQ(d.TemplateId(), kTemplate);
    EXPECT_TRUE(d.SetText(kEdit, u"secret1"));
    EXPECT_EQ(d.Text(kEdit), u"secret1");
    EXPECT_TRUE(d.SetCheck(kCheck, BST_CHECKED));
    EXPECT_TRUE(d.SetCheck(kCheck, BST_CHECKED));  // already: no click
    EXPECT_TRUE(d.Select(kCombo, 1));
    EXPECT_FALSE(d.Select(kCombo, 2));  // no such item: recorded
    EXPECT_TRUE(d.IsVisible(kEdit));
    EXPECT_FALSE(d.IsEnabled(kDisabled));
    EXPECT_EQ(d.FindControl(999), nullptr);
    editRect = d.Rect(kEdit);
  });
  a.InDialog([](Dialog& d) { d.Click(IDOK); });
  EXPECT_EQ(Run(), IDOK);
  EXPECT_EQ(seen.textAtOk, u"secret1");
  EXPECT_GE(seen.editChanges, 1);
  EXPECT_EQ(seen.checkClicks, 1);
  EXPECT_EQ(seen.selChanges, 1);
  EXPECT_GT(editRect.right, editRect.left);
  EXPECT_TRUE(a.Done());
  ASSERT_EQ(a.Failures().size(), 1u) << Joined(a.Failures());
  EXPECT_NE(a.Failures()[0].find("no item 2"), std::string::npos) << a.Failures()[0];
}

TEST_F(AutomationTest, ActionsAUserCannotDoAreFailures) {
  Automation a;
  a.OnDialog(kTemplate, [](Dialog& d) {
    EXPECT_FALSE(d.Click(kDisabled));
    EXPECT_FALSE(d.Click(999));
    EXPECT_FALSE(d.SetText(kDisabled, u"x"));
    // Typing stops at the limit; a read-only edit takes nothing.
    SendMessageW(d.FindControl(kEdit), EM_LIMITTEXT, 3, 0);
    EXPECT_TRUE(d.SetText(kEdit, u"abcdef"));
    EXPECT_EQ(d.Text(kEdit), u"abc");
    SendMessageW(d.FindControl(kEdit), EM_SETREADONLY, TRUE, 0);
    EXPECT_FALSE(d.SetText(kEdit, u"x"));
    EXPECT_EQ(d.Text(kEdit), u"abc");
    EXPECT_FALSE(d.SetText(kLabel, u"x"));  // not an edit
    d.Click(IDCANCEL);
  });
  EXPECT_EQ(Run(), IDCANCEL);
  ASSERT_EQ(a.Failures().size(), 5u) << Joined(a.Failures());
  EXPECT_NE(a.Failures()[3].find("read-only"), std::string::npos);
  EXPECT_NE(a.Failures()[0].find("disabled"), std::string::npos);
  EXPECT_NE(a.Failures()[1].find("no control 999"), std::string::npos);
  EXPECT_EQ(a.Failures()[0].rfind("step 1 (dialog 500)", 0), 0u) << a.Failures()[0];
}

TEST_F(AutomationTest, ExpectedBoxGetsItsAnswerAnUnexpectedOneTheDefault) {
  Automation a;
  a.OnDialog(kTemplate, [](Dialog& d) { d.Click(kAskButton); })
      .ExpectBoxText(u"Continue", IDYES)
      .InDialog([](Dialog& d) { d.Click(IDOK); });
  EXPECT_EQ(Run(), IDOK);
  // The second box came while the next step was a dialog action.
  EXPECT_EQ(seen.answers, (std::vector<int>{IDYES, IDOK}));
  ASSERT_EQ(a.Boxes().size(), 2u);
  EXPECT_TRUE(a.Boxes()[0].expected);
  EXPECT_FALSE(a.Boxes()[1].expected);
  EXPECT_EQ(a.Boxes()[1].request.text, u"Really?");
  ASSERT_EQ(a.Failures().size(), 1u) << Joined(a.Failures());
  EXPECT_NE(a.Failures()[0].find("unexpected message box \"Really?\""), std::string::npos);
  EXPECT_TRUE(a.Done());
}

TEST_F(AutomationTest, BoxesMatchByStringIdAndAnswerMustBeAButton) {
  Automation a;
  a.ExpectBox(57655, IDNO).ExpectBox(57655, IDYES);
  ce::MessageBoxRequest r;
  r.text = u"Restore now?";
  r.style = MB_YESNO;
  r.stringId = 57655;
  EXPECT_EQ(ce::ShowMessageBox(r), IDNO);
  r.style = MB_OK;  // the answer is not one of its buttons: default
  EXPECT_EQ(ce::ShowMessageBox(r), IDOK);
  ASSERT_EQ(a.Failures().size(), 1u);
  EXPECT_NE(a.Failures()[0].find("not a button"), std::string::npos);
  r.stringId = 0;  // no step left
  EXPECT_EQ(ce::ShowMessageBox(r), IDOK);
  EXPECT_EQ(a.Failures().size(), 2u);
  EXPECT_TRUE(a.Done());
}

TEST_F(AutomationTest, StallIsRecordedAndTheDialogCancelled) {
  Automation a;
  a.OnDialog(999);
  EXPECT_EQ(Run(), IDCANCEL);
  ASSERT_FALSE(a.Failures().empty());
  EXPECT_NE(a.Failures()[0].find("stall"), std::string::npos) << a.Failures()[0];
  EXPECT_NE(a.Failures()[0].find("waiting for dialog 999"), std::string::npos) << a.Failures()[0];
  EXPECT_FALSE(a.Done());
  EXPECT_EQ(a.Remaining(), std::vector<std::string>{"step 1 (dialog 999)"});
}

TEST_F(AutomationTest, DialogLeftWhenStepsAreUsedIsCancelled) {
  Automation a;
  a.OnDialog(kTemplate, [](Dialog& d) { d.SetText(kEdit, u"x"); });
  seen.okEnds = false;
  EXPECT_EQ(Run(), IDCANCEL);
  ASSERT_EQ(a.Failures().size(), 1u) << Joined(a.Failures());
  EXPECT_NE(a.Failures()[0].find("unexpected dialog 500"), std::string::npos) << a.Failures()[0];
}

TEST_F(AutomationTest, AdvanceClockFiresTimersOnTheWay) {
  seen.timerMs = 5000;
  Automation a;
  int64_t start = 0;
  a.OnDialog(kTemplate, [&](Dialog&) { start = ce::DeviceNowMs(); })
      .AdvanceClock(21000)
      .InDialog([](Dialog& d) {
        EXPECT_EQ(d.Text(kLabel), u"fired");
        d.Click(IDOK);
      });
  EXPECT_EQ(Run(), IDOK);
  EXPECT_GE(ce::DeviceNowMs() - start, 21000);
  EXPECT_EQ(seen.timerFires, 4);  // at 5, 10, 15 and 20 s
  EXPECT_TRUE(a.Failures().empty()) << Joined(a.Failures());
}

TEST_F(AutomationTest, AdvanceClockStopsShortOfALaterTimer) {
  seen.timerMs = 30000;
  Automation a;
  a.OnDialog(kTemplate).AdvanceClock(21000).InDialog([](Dialog& d) {
    EXPECT_EQ(d.Text(kLabel), u"idle");
    d.Click(IDOK);
  });
  EXPECT_EQ(Run(), IDOK);
  EXPECT_EQ(seen.timerFires, 0);
  EXPECT_TRUE(a.Failures().empty()) << Joined(a.Failures());
}

TEST_F(AutomationTest, WaitingStepGivesUpAfterAnHourOfTimers) {
  seen.timerMs = 5 * 60 * 1000;  // the loop keeps jumping to this timer
  Automation a;
  a.OnDialog(999);
  EXPECT_EQ(Run(), IDCANCEL);
  ASSERT_FALSE(a.Failures().empty());
  EXPECT_NE(a.Failures()[0].find("waited more than an hour"), std::string::npos) << a.Failures()[0];
  EXPECT_GE(seen.timerFires, 12);
  EXPECT_LE(seen.timerFires, 14);
  EXPECT_TRUE(a.Done());
}

TEST_F(AutomationTest, KeysGoThroughTheDialogManager) {
  Automation a;
  a.OnDialog(kTemplate, [](Dialog& d) {
    EXPECT_TRUE(d.Focus(kEdit));
    d.SetText(kEdit, u"typed");
    d.Key(VK_RETURN);  // the default button
  });
  EXPECT_EQ(Run(), IDOK);
  EXPECT_EQ(seen.textAtOk, u"typed");
  EXPECT_TRUE(a.Failures().empty()) << Joined(a.Failures());
}

TEST_F(AutomationTest, HooksArePutBackWhenAutomationEnds) {
  bool outerStalled = false;
  ui::SetStallHandler([&](const std::string&) { outerStalled = true; });
  {
    Automation a;
    ui::GetStallHandler()("inner");
    EXPECT_FALSE(outerStalled);
    EXPECT_EQ(a.Failures().size(), 1u);
  }
  ui::GetStallHandler()("outer");
  EXPECT_TRUE(outerStalled);
  ui::SetStallHandler({});
}

}  // namespace
