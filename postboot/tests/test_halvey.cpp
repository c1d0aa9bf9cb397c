// The post-boot popup's pieces in this process: its command line, the
// message file, the bubble's HTML and record, and the window procedure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/errors.h"
#include "ce/file.h"
#include "ce/process.h"
#include "ce/shell.h"
#include "ce/system.h"
#include "ce/window.h"
#include "postboot/Halvey.h"
#include "postboot/HalveyCommandLine.h"
#include "postboot/HalveyFormat.h"
#include "postboot/HalveyMessage.h"
#include "cesim/device.h"
#include "testkit/Closable.h"
#include "testkit/TestDevice.h"

namespace {

std::string Utf16(std::u16string_view text) {
  std::string bytes;
  for (char16_t ch : text) {
    bytes.push_back(static_cast<char>(ch & 0xFF));
    bytes.push_back(static_cast<char>(ch >> 8));
  }
  return bytes;
}

TEST(HalveyCommandLineTest, QuotedWordsKeepTheirBlanksAndSwitchesAreSkipped) {
  const HalveyCommandLine words(
      u"\"\\temp\\popupMessage.txt\" \"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt\""
      u" /restore /turnOff");
  EXPECT_EQ(words.GetMessageFile(), CString(u"\\temp\\popupMessage.txt"));
  EXPECT_EQ(words.GetReportFile(),
            CString(u"\\Program Files\\Quilmo Backup\\Quilmo Backup History\\BackupReport.txt"));
  EXPECT_TRUE(words.IsRestore());
  // Cutting the line at "/restore" would lose the "/turnOff" after it.
  EXPECT_TRUE(words.IsTurnOff());

  const HalveyCommandLine plain(u"  /x msg.txt   report.txt extra");
  EXPECT_EQ(plain.GetMessageFile(), CString(u"msg.txt"));
  EXPECT_EQ(plain.GetReportFile(), CString(u"report.txt"));
  EXPECT_FALSE(plain.IsRestore());
  EXPECT_FALSE(plain.IsTurnOff());

  const HalveyCommandLine open(u"\"\\temp\\a b.txt");  // an unclosed quote runs to the end
  EXPECT_EQ(open.GetMessageFile(), CString(u"\\temp\\a b.txt"));
  EXPECT_TRUE(open.GetReportFile().IsEmpty());
}

TEST(HalveyCommandLineTest, TheStartersQuotedWordsReadTheSame) {
  // The starter hands the words on each in double quotes, after a blank.
  const HalveyCommandLine words(u" \"\\temp\\popupMessage.txt\" \"\\h\\BackupReport.txt\" \"/restore\" \"/turnOff\"");
  EXPECT_EQ(words.GetMessageFile(), CString(u"\\temp\\popupMessage.txt"));
  EXPECT_EQ(words.GetReportFile(), CString(u"\\h\\BackupReport.txt"));
  EXPECT_TRUE(words.IsRestore());
  EXPECT_TRUE(words.IsTurnOff());
}

TEST(HalveyCommandLineTest, ASwitchAtTheVeryFirstCharacterIsNotHonoured) {
  EXPECT_FALSE(HalveyCommandLine(u"/restore \"m\" \"r\"").IsRestore());
  EXPECT_FALSE(HalveyCommandLine(u"/turnOff \"m\" \"r\"").IsTurnOff());
  EXPECT_TRUE(HalveyCommandLine(u"\"m\" \"r\" /turnOff").IsTurnOff());
  EXPECT_FALSE(HalveyCommandLine(u"\"m\" \"r\" /turnoff").IsTurnOff());  // exact case
}

class HalveyDeviceTest : public ::testing::Test {
 protected:
  quilmo::test::TestDevice dev_;
};

TEST_F(HalveyDeviceTest, TheMessageIsReadUpTo260WholeCharactersAndTheFileDeleted) {
  dev_.MakeDir(u"\\temp");
  std::u16string text;
  for (int i = 0; i < 300; ++i) text.push_back(static_cast<char16_t>(u'A' + i % 26));
  // 521 bytes: 260 characters and the first byte of the 261st.
  dev_.PutFile(u"\\temp\\popupMessage.txt", Utf16(text).substr(0, 521));
  const CString message = ReadHalveyMessage(u"\\temp\\popupMessage.txt");
  EXPECT_EQ(message, CString(text.substr(0, 260)));
  EXPECT_EQ(GetFileAttributesW(u"\\temp\\popupMessage.txt"), INVALID_FILE_ATTRIBUTES);

  dev_.PutFile(u"\\temp\\odd.txt", Utf16(u"Done") + "x");
  EXPECT_EQ(ReadHalveyMessage(u"\\temp\\odd.txt"), CString(u"Done"));
  dev_.PutFile(u"\\temp\\nul.txt", Utf16(std::u16string(u"ab\0cd", 5)));
  EXPECT_EQ(ReadHalveyMessage(u"\\temp\\nul.txt"), CString(u"ab"));
  EXPECT_EQ(ReadHalveyMessage(u"\\temp\\missing.txt"), CString());
  EXPECT_EQ(ReadHalveyMessage(u""), CString());
}

TEST(HalveyHtmlTest, TheBubbleTextIsTheFormatFilledWithMessageAndButtons) {
  EXPECT_EQ(HalveyNotificationHtml(u"The backup completed successfully", u"View report", u"OK"),
            CString(u"<html><body>The backup completed successfully.<br><form method=\"POST\" action=> "
                    u"<p align=right><input type=button name='cmd:123'value='View report'>"
                    u"<input type=button name='cmd:124'value='OK'></p></body></html>"));
}

TEST(HalveyHtmlTest, TextsThatWouldBreakTheMarkupAreEscaped) {
  const CString html = HalveyNotificationHtml(u"Saved to \\Cards & <Backups>", u"Don't wait", u"OK");
  EXPECT_NE(html.Find(u"Saved to \\Cards &amp; &lt;Backups&gt;.<br>"), -1) << ce::ToUtf8(html.str());
  EXPECT_NE(html.Find(u"value='Don&#39;t wait'>"), -1) << ce::ToUtf8(html.str());
}

TEST(HalveyBubbleTest, TheRecordCarriesTheInformationalNumbersAndCountsItsIdentifier) {
  const HalveyBubble first = MakeHalveyBubble(u"<html/>", nullptr, nullptr, u"Quilmo Backup");
  const HalveyBubble second = MakeHalveyBubble(u"<html/>", nullptr, nullptr, u"Quilmo Backup");
  EXPECT_EQ(second.id, first.id + 1);
  EXPECT_EQ(first.priority, 433u);
  EXPECT_EQ(first.durationSeconds, 86400u);
  EXPECT_EQ(first.flags, 10u);
  EXPECT_EQ(first.title, CString(u"Quilmo Backup"));
}

TEST(HalveyDeployTest, TheIntervalIsHoursAndMinutesAndAMissingNumberCountsAsNone) {
  EXPECT_EQ(DeployIntervalMs(1, 30), 5400000u);
  EXPECT_EQ(DeployIntervalMs(0, 0), 0u);
  EXPECT_EQ(DeployIntervalMs(-1, 2), 120000u);  // "hoursbetween" missing reads as -1
  EXPECT_EQ(DeployIntervalMs(-1, -1), 0u);
  EXPECT_EQ(DeployIntervalMs(2000000, 0), INFINITE - 1);  // never the endless wait
}

class HalveyWindowTest : public HalveyDeviceTest {
 protected:
  void SetUp() override {
    hwnd_ = CreateHalveyWindow(nullptr);
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  // True when a WM_QUIT is queued (the window's destroy posts it).
  static bool QuitPosted() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
      if (msg.message == WM_QUIT) return true;
    return false;
  }
  HWND hwnd_ = nullptr;
};

TEST_F(HalveyWindowTest, AHiddenWindowOfItsClassAndTitle) {
  EXPECT_EQ(FindWindowW(halvey::kWindowClass, halvey::kWindowTitle), hwnd_);
  EXPECT_FALSE(IsWindowVisible(hwnd_));
  EXPECT_EQ(SendMessageW(hwnd_, WM_SETTINGCHANGE, 0, 0), 0);
  EXPECT_EQ(SendMessageW(hwnd_, WM_ACTIVATE, 1, 0), 0);
  // A second window finds the first and registers nothing.
  HWND second = CreateHalveyWindow(nullptr);
  EXPECT_NE(second, nullptr);
  if (second) DestroyWindow(second);
}

TEST_F(HalveyWindowTest, ATapInTheBubbleIsAnsweredTwoAndOne) {
  NMSHN nm{};
  nm.hdr.hwndFrom = nullptr;
  nm.hdr.code = static_cast<UINT>(-1000);
  EXPECT_EQ(SendMessageW(hwnd_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm)), 1);
  EXPECT_EQ(nm.dwReturn, 2u);
  NMSHN other{};
  other.hdr.code = static_cast<UINT>(-1001);
  EXPECT_EQ(SendMessageW(hwnd_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&other)), 0);
  EXPECT_EQ(other.dwReturn, 0u);
}

TEST_F(HalveyWindowTest, DismissClosesTheWindowAndEndsTheLoop) {
  SendMessageW(hwnd_, WM_COMMAND, halvey::kCommandDismiss, 0);
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_TRUE(QuitPosted());
}

using quilmo::test::StartedAs;

TEST_F(HalveyWindowTest, ViewReportStartsTheViewerByNameWithTheReportInQuotes) {
  GetHalveyWindowState().reportFile = u"\\My Documents\\Quilmo Backup History\\BackupReport.txt";
  quilmo::test::InstallClosable(dev_, u"\\Windows\\Ombric.exe");
  SendMessageW(hwnd_, WM_COMMAND, halvey::kCommandViewReport, 0);
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_TRUE(QuitPosted());
  EXPECT_EQ(StartedAs(dev_, "Ombric.exe"),
            std::vector<std::u16string>{u"\"\\My Documents\\Quilmo Backup History\\BackupReport.txt\""});
}

TEST_F(HalveyWindowTest, AViewerThatDoesNotStartStillClosesThePopup) {
  GetHalveyWindowState().reportFile = u"\\r.txt";
  EXPECT_FALSE(StartOmbric(u"\\r.txt"));
  SendMessageW(hwnd_, WM_COMMAND, halvey::kCommandViewReport, 0);
  EXPECT_FALSE(IsWindow(hwnd_));
}

TEST_F(HalveyWindowTest, OkClosesTooAndOtherCommandsDoNot) {
  SendMessageW(hwnd_, WM_COMMAND, 2, 0);
  EXPECT_TRUE(IsWindow(hwnd_));
  SendMessageW(hwnd_, WM_COMMAND, halvey::kCommandOk, 0);
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_TRUE(QuitPosted());
}

TEST_F(HalveyWindowTest, TheTurnOffTimerSuspendsTheDeviceOnce) {
  SetTimer(hwnd_, halvey::kTurnOffTimer, halvey::kTurnOffDelayMs, nullptr);
  SendMessageW(hwnd_, WM_TIMER, halvey::kTurnOffTimer, 0);
  DWORD state = 0;
  WCHAR name[32] = {};
  ASSERT_TRUE(GetSystemPowerState(name, 32, &state));
  EXPECT_EQ(state, POWER_STATE_SUSPEND);
  EXPECT_FALSE(KillTimer(hwnd_, halvey::kTurnOffTimer));  // already stopped
  EXPECT_TRUE(IsWindow(hwnd_));
}

}  // namespace
