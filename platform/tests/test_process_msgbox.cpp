#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "ce/errors.h"
#include "ce/msgbox.h"
#include "ce/process.h"
#include "cesim/msgbox.h"
#include "cesim/process.h"
#include "testkit/ScopedState.h"
#include "testkit/TestDevice.h"

namespace {

namespace fs = std::filesystem;

TEST(MessageBoxTest, DefaultButtonFollowsStyle) {
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_YESNO), IDYES);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_YESNO | MB_DEFBUTTON2 | MB_TOPMOST), IDNO);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_ABORTRETRYIGNORE | MB_DEFBUTTON3), IDIGNORE);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_RETRYCANCEL), IDRETRY);
  // A default button the box does not have falls back to the first one.
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_OK | MB_DEFBUTTON3), IDOK);
  EXPECT_EQ(ce::DefaultMessageBoxAnswer(MB_YESNO | MB_DEFBUTTON4), IDYES);
}

TEST(MessageBoxTest, BoxesAreLoggedAndScriptedAnswersConsumedInOrder) {
  quilmo::test::TestDevice dev;
  const quilmo::test::ScopedOwnProgram program(u"\\Windows\\QuilmoStart.exe");
  // Oldest fitting entry first; entries that fit no button of the box wait.
  ASSERT_TRUE(ce::AddMessageBoxAnswer(u"", IDYES));       // YES: skipped by OK/Cancel boxes
  ASSERT_TRUE(ce::AddMessageBoxAnswer(u"Error", IDCANCEL));
  ASSERT_TRUE(ce::AddMessageBoxAnswer(u"", IDCANCEL));

  EXPECT_EQ(MessageBoxW(nullptr, u"Contact support", u"Quilmo", MB_OKCANCEL), IDCANCEL);
  // Matched through the caption.
  EXPECT_EQ(MessageBoxW(nullptr, u"Something", u"Error", MB_OKCANCEL | MB_ICONERROR), IDCANCEL);
  EXPECT_EQ(MessageBoxW(nullptr, u"Continue?", u"Quilmo", MB_YESNO | MB_DEFBUTTON2), IDYES);
  EXPECT_EQ(ce::PendingMessageBoxAnswers(), 0u);
  // Script used up: the default button.
  EXPECT_EQ(MessageBoxW(nullptr, u"Again?", nullptr, MB_YESNO | MB_DEFBUTTON2), IDNO);

  auto log = ce::ReadScreenLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].text, u"Contact support");
  EXPECT_EQ(log[0].caption, u"Quilmo");
  EXPECT_EQ(log[0].answer, IDCANCEL);
  EXPECT_EQ(log[1].style, MB_OKCANCEL | MB_ICONERROR);
  EXPECT_EQ(log[2].answer, IDYES);
  EXPECT_EQ(log[3].caption, u"");
  EXPECT_EQ(log[3].answer, IDNO);
  EXPECT_EQ(log[3].pid, GetCurrentProcessId());
  EXPECT_EQ(log[3].program, u"\\Windows\\QuilmoStart.exe");
  EXPECT_LE(log[0].id, log[3].id);
  EXPECT_GT(log[0].timeMs, 1600000000000);
}

TEST(MessageBoxTest, ReplacedServiceSeesEveryBoxAndCanBeRemoved) {
  quilmo::test::TestDevice dev;
  std::vector<ce::MessageBoxRequest> seen;
  ce::SetMessageBoxService([&](const ce::MessageBoxRequest& r) {
    seen.push_back(r);
    return IDRETRY;
  });
  EXPECT_EQ(MessageBoxW(nullptr, u"t", u"c", MB_RETRYCANCEL | MB_SETFOREGROUND), IDRETRY);
  ce::SetMessageBoxService(nullptr);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].style, MB_RETRYCANCEL | MB_SETFOREGROUND);
  EXPECT_EQ(MessageBoxW(nullptr, u"t2", u"c2", MB_OK), IDOK);
  EXPECT_EQ(seen.size(), 1u);
}

TEST(MessageBoxTest, ScreenLogHoldsTheBoxesOfEveryServiceWithTheirAnswers) {
  quilmo::test::TestDevice dev;
  ce::SetOwnProgramForTest(u"\\Windows\\Shower.exe", u"");
  // A window on the screen or a UI script answers instead of the log.
  ce::SetMessageBoxService([](const ce::MessageBoxRequest&) { return IDRETRY; });
  EXPECT_EQ(MessageBoxW(nullptr, u"answered elsewhere", u"c", MB_RETRYCANCEL), IDRETRY);
  // A box that could not be shown is no box.
  ce::SetMessageBoxService([](const ce::MessageBoxRequest&) { return 0; });
  EXPECT_EQ(MessageBoxW(nullptr, u"never shown", u"c", MB_OK), 0);
  // A service that hands the box on to the headless one: logged once.
  ce::SetMessageBoxService([](const ce::MessageBoxRequest& r) { return ce::HeadlessMessageBox(r); });
  EXPECT_EQ(MessageBoxW(nullptr, u"handed on", u"c", MB_OK), IDOK);
  ce::SetMessageBoxService(nullptr);
  EXPECT_EQ(MessageBoxW(nullptr, u"headless", u"c", MB_YESNO), IDYES);
  ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");

  auto log = ce::ReadScreenLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].text, u"answered elsewhere");
  EXPECT_EQ(log[0].answer, IDRETRY);
  EXPECT_EQ(log[0].program, u"\\Windows\\Shower.exe");
  EXPECT_GT(log[0].timeMs, 1600000000000);
  EXPECT_EQ(log[1].text, u"handed on");
  EXPECT_EQ(log[2].text, u"headless");
  EXPECT_EQ(log[2].answer, IDYES);
}

TEST(MessageBoxTest, BoxOfAnotherDeviceProcessIsAnsweredFromTheScript) {
  quilmo::test::TestDevice dev;
  fs::path host = dev.Host(u"\\Windows\\Boxer.exe");
  fs::create_directories(host.parent_path());
  fs::copy_file(CEPROC_TESTPROG, host);
  ASSERT_TRUE(ce::AddMessageBoxAnswer(u"Merrow", IDNO));
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(u"\\Windows\\Boxer.exe", u"box Quit Merrow?", nullptr, nullptr,
                             FALSE, 0, nullptr, nullptr, nullptr, &pi));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 20000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(IDNO));
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  auto log = ce::ReadScreenLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].text, u"Quit Merrow?");
  EXPECT_EQ(log[0].program, u"\\Windows\\Boxer.exe");
  EXPECT_EQ(log[0].pid, pi.dwProcessId);
}

}  // namespace
