// UI script files: the strict reader and scripts run against a dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "auto_test_dialog.h"
#include "ce/file.h"
#include "script_load.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"
#include "ui/Loop.h"

#include "../src/win_hooks.h"

namespace {

// Ends a death-test child with its code at once: the device it still holds
// open is not a leak worth reporting.
[[noreturn]] void Quit(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

using ui::test::Automation;
using ui::test::ScriptStep;
using Kind = ScriptStep::Kind;
using namespace autotest;

std::string ParseError(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(ui::test::ParseScript(text, &steps, &error)) << text;
  EXPECT_TRUE(steps.empty());
  return error;
}

TEST(UiScriptParse, ReadsEveryStep) {
  const std::string text =
      "# password dialog\r\n"
      "dialog 231\r\n"
      "\n"
      "set 2018 secret1\n"
      "set 2018 \"two words \\\"quoted\\\" \\\\\"\n"
      "click 1\n"
      "  check 2010 2\n"
      "select 2053 0\tfocus\n";
  std::vector<ScriptStep> steps;
  std::string error;
  // "select" takes two words: the tab-separated "focus" is a third one.
  EXPECT_FALSE(ui::test::ParseScript(text, &steps, &error));
  EXPECT_EQ(error, "line 8: 'select' takes ID INDEX");

  const std::string good =
      "dialog 0xE7\n"
      "set 2018 \"two words \\\"q\\\" \\\\\"\n"
      "check 2010 2\n"
      "key 13\n"
      "box 57655 Yes\n"
      "boxtext \"part of it\" cancel\n"
      "advance 21000\n"
      "expect-text 2216 \"Auto restore in 20\"\n"
      "expect-visible 2019 0\n"
      "expect-enabled 1 1\n"
      "screenshot after-ok.1\n";
  ASSERT_TRUE(ui::test::ParseScript(good, &steps, &error)) << error;
  ASSERT_EQ(steps.size(), 11u);
  // Comments are skipped whatever they hold.
  std::vector<ScriptStep> commented;
  ASSERT_TRUE(ui::test::ParseScript("#! args LocalBackup \"\\temp\\x.pbf\"\n  # \"unclosed\ndialog 1\n", &commented,
                                    &error))
      << error;
  ASSERT_EQ(commented.size(), 1u);
  EXPECT_EQ(commented[0].kind, Kind::Dialog);
  EXPECT_EQ(steps[0].kind, Kind::Dialog);
  EXPECT_EQ(steps[0].id, 231);
  EXPECT_EQ(steps[1].text, u"two words \"q\" \\");
  EXPECT_EQ(steps[2].value, 2);
  EXPECT_EQ(steps[4].kind, Kind::Box);
  EXPECT_EQ(steps[4].value, IDYES);
  EXPECT_EQ(steps[5].text, u"part of it");
  EXPECT_EQ(steps[5].value, IDCANCEL);
  EXPECT_EQ(steps[6].id, 21000);
  EXPECT_EQ(steps[7].text, u"Auto restore in 20");
  EXPECT_EQ(steps[10].kind, Kind::Screenshot);
  EXPECT_EQ(steps[10].line, 11);
}

TEST(UiScriptParse, ErrorsNameTheLine) {
  EXPECT_EQ(ParseError("dialog 1\nfrobnicate 3\n"), "line 2: unknown step 'frobnicate'");
  EXPECT_EQ(ParseError("set 1 x\n"), "line 1: 'set' before any 'dialog' step");
  EXPECT_EQ(ParseError("\n\ndialog\n"), "line 3: 'dialog' takes ID");
  EXPECT_EQ(ParseError("dialog 1\nset 5 \"open\n"), "line 2: missing closing quote");
  EXPECT_EQ(ParseError("dialog 1\nset 5 \"a\"b\n"), "line 2: text right after a closing quote");
  EXPECT_EQ(ParseError("dialog 1\nset 5 a\"b\n"), "line 2: quote inside a word");
  EXPECT_EQ(ParseError("dialog 1\nset 5 \"a\\n\"\n"), "line 2: bad escape in quoted text (only \\\" and \\\\)");
  EXPECT_EQ(ParseError("dialog 70000\n"), "line 1: bad template id '70000' (1..65535)");
  EXPECT_EQ(ParseError("dialog -1\n"), "line 1: bad template id '-1' (1..65535)");
  EXPECT_EQ(ParseError("dialog 1\ncheck 5 3\n"), "line 2: bad check state '3' (0..2)");
  EXPECT_EQ(ParseError("advance 12x\n"), "line 1: bad milliseconds '12x' (0..2147483647)");
  EXPECT_EQ(ParseError("advance 99999999999999999999\n"), "line 1: bad milliseconds '99999999999999999999' (0..2147483647)");
  EXPECT_EQ(ParseError("box 5 maybe\n"), "line 1: bad answer 'maybe' (ok cancel yes no abort retry ignore)");
  EXPECT_EQ(ParseError("boxtext \"\" ok\n"), "line 1: empty box text");
  EXPECT_EQ(ParseError("screenshot ../x\n"), "line 1: bad screenshot name '../x' (letters, digits, - _ .)");
  EXPECT_EQ(ParseError("dialog 1\nset 5 \"\xff\"\n"), "line 2: text is not valid UTF-8");
  EXPECT_EQ(ParseError(std::string("dialog 1\0\n", 10)), "line 1: control character in line");
  EXPECT_EQ(ParseError("\"dialog\" 1\n"), "line 1: a step starts with its name, not with quoted text");
  EXPECT_EQ(ParseError("card shuffle x\n"), "line 1: bad card action 'shuffle' (insert remove)");
  EXPECT_EQ(ParseError("card insert\n"), "line 1: 'card' takes insert|remove NAME");
}

TEST(UiScriptCard, ACardComesAndGoesAtItsStep) {
  ce::Profile p;
  p.cards.push_back(u"Storage Card");
  quilmo::test::TestDevice device(p);
  std::vector<ScriptStep> steps;
  std::string error;
  ASSERT_TRUE(ui::test::ParseScript("card remove \"Storage Card\"\ncard insert \"Storage Card\"\n"
                                    "card insert \"Storage Card\"\n",
                                    &steps, &error))
      << error;
  ASSERT_EQ(steps.size(), 3u);
  EXPECT_EQ(steps[0].kind, Kind::Card);
  EXPECT_EQ(steps[0].value, 0);
  EXPECT_EQ(steps[1].text, u"Storage Card");
  Automation a;
  ui::test::AddScriptSteps(a, steps);
  ASSERT_TRUE(ui::Idle());
  EXPECT_EQ(GetFileAttributesW(u"\\Storage Card"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(ui::Idle());
  EXPECT_NE(GetFileAttributesW(u"\\Storage Card"), INVALID_FILE_ATTRIBUTES);
  ui::Idle();  // in already: a failure
  ASSERT_EQ(a.Failures().size(), 1u);
  EXPECT_EQ(a.Failures()[0], "line 3: card: \\Storage Card could not be inserted");
}

class UiScriptRun : public autotest::ScriptTest<Seen> {
 protected:
  UiScriptRun() : ScriptTest(&g_seen) {}
};

TEST_F(UiScriptRun, DrivesADialogToOk) {
  Automation a;
  Load(a,
       "dialog 500\n"
       "set 100 \"hello world\"\n"
       "expect-text 100 \"hello world\"\n"
       "expect-enabled 101 0\n"
       "expect-visible 105 1\n"
       "check 103 1\n"
       "select 104 1\n"
       "click 102\n"
       "boxtext Continue yes\n"
       "boxtext Really cancel\n"
       "screenshot shot\n"
       "click 1\n");
  EXPECT_EQ(RunSmallDialog(), IDOK);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures()[0];
  EXPECT_TRUE(a.Done());
  EXPECT_EQ(record.textAtOk, u"hello world");
  EXPECT_EQ(record.checkClicks, 1);
  EXPECT_EQ(record.selChanges, 1);
  EXPECT_EQ(record.answers, (std::vector<int>{IDYES, IDCANCEL}));
  std::ifstream shot(device.dir() / "shot.screen.xml");
  std::string xml((std::istreambuf_iterator<char>(shot)), std::istreambuf_iterator<char>());
  EXPECT_NE(xml.find("hello world"), std::string::npos);
}

// The small dialog with two notifying statics (links), the second one
// disabled, and a count of the clicks they report.
constexpr int kLink = 106, kGreyLink = 107;
int g_linkClicks = 0;

INT_PTR LinkDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COMMAND && LOWORD(wParam) == kLink && HIWORD(wParam) == STN_CLICKED) ++g_linkClicks;
  return SmallDlgProc(dlg, msg, wParam, lParam);
}

INT_PTR RunDialogWithLinks() {
  ce::DialogTemplate t = SmallDialog();
  ce::ControlTemplate link;
  link.id = kLink;
  link.className = u"STATIC";
  link.x = 110;
  link.y = 4;
  link.width = 80;
  link.height = 14;
  link.style = WS_CHILD | WS_VISIBLE | SS_NOTIFY;
  link.text = u"http://a.example";
  t.controls.push_back(link);
  link.id = kGreyLink;
  link.y = 20;
  link.style |= WS_DISABLED;
  t.controls.push_back(link);
  return DialogBoxIndirectParamW(nullptr, &t, nullptr, LinkDlgProc, 0);
}

TEST_F(UiScriptRun, TapReachesALinkAndAButtonButNoDisabledControl) {
  g_linkClicks = 0;
  Automation a;
  Load(a,
       "dialog 500\n"
       "tap 106\n"
       "tap 106\n"
       "tap 107\n"
       "set 100 tapped\n"
       "tap 1\n");
  EXPECT_EQ(RunDialogWithLinks(), IDOK);
  EXPECT_EQ(g_linkClicks, 2);
  ASSERT_EQ(a.Failures().size(), 1u);
  EXPECT_EQ(a.Failures()[0], "line 4: tap: control 107 is disabled");
  EXPECT_EQ(record.textAtOk, u"tapped") << "a tap on OK is a click";
}

TEST_F(UiScriptRun, FailedCheckStopsTheScriptAndCancels) {
  Automation a;
  a.SetStopOnFailure(true);
  std::vector<std::string> told;
  a.OnFailure([&](const std::string& f) { told.push_back(f); });
  Load(a,
       "dialog 500\n"
       "set 100 abc\n"
       "expect-text 100 abd\n"
       "click 1\n");
  EXPECT_EQ(RunSmallDialog(), IDCANCEL);
  ASSERT_GE(told.size(), 1u);
  EXPECT_EQ(told[0], "line 3: control 100 shows \"abc\", expected \"abd\"");
  EXPECT_EQ(a.Remaining(), std::vector<std::string>{"line 4"});
  EXPECT_TRUE(record.textAtOk.empty());
}

TEST_F(UiScriptRun, ScriptFromTheEnvironmentSetsTheExitCode) {
  auto file = device.dir() / "script.txt";
  std::ofstream(file) << "dialog 500\nexpect-visible 101 0\nclick 1\n";
  EXPECT_EXIT(
      {
        setenv("QUILMO_UI_SCRIPT", file.c_str(), 1);
        bool loaded = ui::detail::LoadScriptFromEnvironment();
        // Programs started from here do not inherit the script.
        if (!loaded || getenv("QUILMO_UI_SCRIPT") || ui::GetMode() != ui::Mode::Script) Quit(10);
        RunSmallDialog();
        Quit(ui::ScriptExitCode());
      },
      ::testing::ExitedWithCode(3), "ui script: line 2: control 101 visible is 1, expected 0");
  std::ofstream(file) << "dialog 500\nclick 1\ndialog 500\n";
  EXPECT_EXIT(
      {
        setenv("QUILMO_UI_SCRIPT", file.c_str(), 1);
        if (!ui::detail::LoadScriptFromEnvironment()) Quit(10);
        if (RunSmallDialog() != IDOK) Quit(11);
        Quit(ui::ScriptExitCode());
      },
      ::testing::ExitedWithCode(3), "ui script: line 3: step not reached");
  std::ofstream(file) << "dialog 500\nclick 1\n";
  EXPECT_EXIT(
      {
        setenv("QUILMO_UI_SCRIPT", file.c_str(), 1);
        if (!ui::detail::LoadScriptFromEnvironment()) Quit(10);
        if (RunSmallDialog() != IDOK) Quit(11);
        Quit(ui::ScriptExitCode());
      },
      ::testing::ExitedWithCode(0), "");
  std::ofstream(file) << "dialog 500\nclack 1\n";
  setenv("QUILMO_UI_SCRIPT", file.c_str(), 1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ui::detail::LoadScriptFromEnvironment());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ui script: line 2: unknown step 'clack'\n");
  EXPECT_EQ(ui::ScriptExitCode(), 0);
  unsetenv("QUILMO_UI_SCRIPT");
}

}  // namespace
