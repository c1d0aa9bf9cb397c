// Scoped UI scripts: sections per program start, the progress that carries
// unused steps to the next start of the same program, and the end-of-run
// report of sections left unused.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "auto_test_dialog.h"
#include "cesim/process.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"
#include "ui/Loop.h"
#include "ui/ScriptScope.h"

#include "../src/win_hooks.h"

namespace {

[[noreturn]] void Quit(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

using ui::test::ScriptSection;
using ui::test::ScriptStep;
using namespace autotest;

std::vector<ScriptStep> Parse(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_TRUE(ui::test::ParseScript(text, &steps, &error)) << error;
  return steps;
}

std::string ParseError(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::string error;
  EXPECT_FALSE(ui::test::ParseScript(text, &steps, &error)) << text;
  return error;
}

TEST(UiScriptScope, ProgramLinesCutTheScriptIntoSections) {
  const std::vector<ScriptSection> sections = ui::test::ScriptSections(
      Parse("program \"Quilmo Backup.exe\"\ndialog 231\nset 2018 pw\nclick 1\n"
            "# the popup\nprogram Halvey.exe\nbubble 124\nprogram Halvey.exe\n"));
  ASSERT_EQ(sections.size(), 3u);
  EXPECT_EQ(sections[0].program, u"Quilmo Backup.exe");
  EXPECT_EQ(sections[0].line, 1);
  EXPECT_EQ(sections[0].steps.size(), 3u);
  EXPECT_EQ(sections[1].steps.size(), 1u);
  EXPECT_EQ(sections[1].steps[0].line, 7);
  EXPECT_TRUE(sections[2].steps.empty());
  // An unscoped script has no sections.
  EXPECT_TRUE(ui::test::ScriptSections(Parse("dialog 231\nclick 1\n")).empty());

  EXPECT_EQ(ParseError("dialog 231\nprogram Halvey.exe\nbubble 124\n"),
            "line 2: 'program' after steps that name no program (a scoped script begins with 'program')");
  EXPECT_EQ(ParseError("program \\Windows\\Halvey.exe\n"),
            "line 1: bad program name '\\Windows\\Halvey.exe' (a file name such as \"Halvey.exe\")");
  // Each program's steps need their own dialog.
  EXPECT_EQ(ParseError("program a.exe\ndialog 231\nprogram b.exe\nclick 1\n"), "line 4: 'click' before any 'dialog' step");

  EXPECT_TRUE(ui::test::ProgramMatches(u"\\Program Files\\Quilmo Backup\\Quilmo Backup.exe", u"quilmo backup.EXE"));
  EXPECT_TRUE(ui::test::ProgramMatches(u"Halvey.exe", u"Halvey.exe"));
  EXPECT_FALSE(ui::test::ProgramMatches(u"\\Windows\\NotHalvey.exe", u"Halvey.exe"));
  EXPECT_FALSE(ui::test::ProgramMatches(u"\\Windows\\Halvey.exe", u""));
}

class UiScriptScopeRun : public ::testing::Test {
 protected:
  void SetUp() override { g_seen = &seen; }
  void TearDown() override {
    g_seen = nullptr;
    unsetenv("QUILMO_UI_SCRIPT");
    unsetenv(ui::test::kScriptStateEnv);
  }
  std::string Progress() const {
    std::ifstream f(progress);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  quilmo::test::TestDevice device;
  Seen seen;
  std::filesystem::path script = device.dir() / "scoped.ui";
  std::filesystem::path progress = device.dir() / "ui-script.progress";
};

// One start of a program: the script loaded from the environment as a
// program of that path would, its dialog run `dialogs` times; the exit code.
void Start(const std::u16string& program, int dialogs) {
  ce::SetOwnProgramForTest(program, u"");
  if (!ui::detail::LoadScriptFromEnvironment()) Quit(10);
  for (int i = 0; i < dialogs; ++i) RunSmallDialog();
  Quit(ui::ScriptExitCode());
}

TEST_F(UiScriptScopeRun, StepsAStartLeavesWaitForTheNextStartOfThatProgram) {
  std::ofstream(script) << "program main.exe\n"
                           "dialog 500\nset 100 first\nclick 1\n"
                           "dialog 500\nset 100 second\nclick 1\n"
                           "program popup.exe\n"
                           "dialog 500\nclick 2\n";
  std::ofstream(progress).flush();
  setenv("QUILMO_UI_SCRIPT", script.c_str(), 1);
  setenv(ui::test::kScriptStateEnv, progress.c_str(), 1);

  // The popup's start takes its own section, not the main program's.
  EXPECT_EXIT(Start(u"\\Windows\\popup.exe", 1), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Progress(), "1 2 0\n");
  // The main program ends (a reset, say) after its first dialog: not a
  // failure of that start, and the rest waits.
  EXPECT_EXIT(Start(u"\\Program Files\\main.exe", 1), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(Progress(), "0 3 0\n1 2 0\n");
  EXPECT_EQ(ui::test::UnusedScriptSections(script, progress),
            std::vector<std::string>{"program main.exe (line 1): line 5: step not reached (3 step(s) left)"});
  // Its next start goes on at the second dialog.
  EXPECT_EXIT(
      {
        ce::SetOwnProgramForTest(u"\\Program Files\\main.exe", u"");
        if (!ui::detail::LoadScriptFromEnvironment()) Quit(10);
        RunSmallDialog();
        Quit(seen.textAtOk == u"second" ? ui::ScriptExitCode() : 11);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_TRUE(ui::test::UnusedScriptSections(script, progress).empty());
  // A program whose sections are used runs without a script; the
  // environment still names it for the programs it starts.
  EXPECT_EXIT(
      {
        ce::SetOwnProgramForTest(u"\\Program Files\\main.exe", u"");
        if (!ui::detail::LoadScriptFromEnvironment() || ui::GetMode() == ui::Mode::Script ||
            !getenv("QUILMO_UI_SCRIPT"))
          Quit(10);
        Quit(ui::ScriptExitCode());
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(UiScriptScopeRun, AFailedStepEndsItsSectionAndTheStart) {
  std::ofstream(script) << "program main.exe\ndialog 500\nexpect-visible 101 0\nclick 1\n";
  std::ofstream(progress).flush();
  setenv("QUILMO_UI_SCRIPT", script.c_str(), 1);
  setenv(ui::test::kScriptStateEnv, progress.c_str(), 1);
  EXPECT_EXIT(Start(u"\\main.exe", 1), ::testing::ExitedWithCode(3),
              "ui script: line 3: control 101 visible is 1, expected 0");
  EXPECT_EQ(Progress(), "0 3 0\n");
  EXPECT_TRUE(ui::test::UnusedScriptSections(script, progress).empty());
}

TEST_F(UiScriptScopeRun, ASectionHeldByARunningProgramIsNotTakenTwice) {
  std::ofstream(script) << "program main.exe\ndialog 500\nclick 1\nprogram main.exe\ndialog 500\nclick 2\n";
  // The first section is held by a live process (this test's parent).
  std::ofstream(progress) << "0 0 " << getppid() << "\n";
  std::vector<ScriptStep> steps;
  std::string error;
  std::ifstream in(script);
  std::stringstream text;
  text << in.rdbuf();
  ASSERT_TRUE(ui::test::ParseScript(text.str(), &steps, &error));
  ui::test::SectionClaim claim;
  ASSERT_TRUE(claim.Take(ui::test::ScriptSections(steps), u"\\main.exe", progress.string(), &error)) << error;
  EXPECT_EQ(claim.Section(), 1u);
  EXPECT_EQ(claim.FirstStep(), 0u);
  claim.Used(1);
  claim.Release();
  EXPECT_EQ(Progress(), "0 0 " + std::to_string(getppid()) + "\n1 1 0\n");
  // Without a progress file each start takes its name's first section.
  ui::test::SectionClaim fresh;
  ASSERT_TRUE(fresh.Take(ui::test::ScriptSections(steps), u"\\main.exe", "", &error));
  EXPECT_EQ(fresh.Section(), 0u);
  ui::test::SectionClaim none;
  EXPECT_FALSE(none.Take(ui::test::ScriptSections(steps), u"\\other.exe", progress.string(), &error));
  EXPECT_TRUE(error.empty());
}

}  // namespace
