// cedev screenshot and rotate.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CedevRun.h"
#include "testkit/TestDevice.h"
#include "ui/qt/Screen.h"
// Device declarations after Qt: they are plain macros.
#include "ce/process.h"
#include "ce/window.h"
#include "cesim/device.h"
#include "cesim/process.h"

namespace fs = std::filesystem;

namespace {

using cedev_test::Result;
using cedev_test::RunCedev;

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

const char* kScreen =
    "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"320\" scale=\"1\">\n"
    " <window hwnd=\"65540\" class=\"#32770\" id=\"231\" title=\"Quilmo Backup\" x=\"0\" y=\"26\" width=\"240\""
    " height=\"294\" style=\"0x90000000\">\n"
    "  <control hwnd=\"3\" class=\"STATIC\" id=\"-1\" x=\"4\" y=\"30\" width=\"200\" height=\"18\""
    " style=\"0x50000000\" text=\"Password:\"/>\n"
    "  <control hwnd=\"4\" class=\"BUTTON\" id=\"1\" x=\"4\" y=\"60\" width=\"60\" height=\"22\""
    " style=\"0x50010001\" text=\"OK\"/>\n"
    " </window>\n"
    "</screen>\n";

// The pid of a process that has ended and been reaped.
pid_t EndedPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  int status = 0;
  waitpid(child, &status, 0);
  return child;
}

LRESULT Quiet(HWND h, UINT m, WPARAM w, LPARAM l) { return DefWindowProcW(h, m, w, l); }

}  // namespace

TEST(CedevScreen, RotateSwapsTheScreenAndTellsTheWindows) {
  quilmo::test::TestDevice dev;
  ce::SetOwnProgramForTest(ce::kDefaultProgramPath, u"");
  WNDCLASSW wc{};
  wc.lpfnWndProc = Quiet;
  wc.lpszClassName = u"RotateSink";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND hwnd = CreateWindowExW(0, u"RotateSink", u"sink", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(hwnd, nullptr);

  Result r = RunCedev("rotate " + Q(dev.dir()));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("320x240"), std::string::npos) << r.output;
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, hwnd, WM_SETTINGCHANGE, WM_SETTINGCHANGE, PM_REMOVE));
  EXPECT_EQ(m.hwnd, hwnd);
  ASSERT_TRUE(dev.device()->ReloadProfile());
  EXPECT_EQ(dev.device()->GetProfile().screenWidth, 320);
  EXPECT_EQ(dev.device()->GetProfile().screenHeight, 240);

  r = RunCedev("rotate " + Q(dev.dir()));
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_TRUE(dev.device()->ReloadProfile());
  EXPECT_EQ(dev.device()->GetProfile().screenWidth, 240);
  EXPECT_EQ(dev.device()->GetProfile().screenHeight, 320);
  DestroyWindow(hwnd);
  UnregisterClassW(u"RotateSink", nullptr);

  EXPECT_EQ(RunCedev("rotate " + Q(dev.dir() / "nothing")).status, 1);
}

TEST(CedevScreen, ScreenshotDrawsTheScreenFile) {
  quilmo::test::TestDevice dev;
  const fs::path png = dev.dir() / "shot.png";
  Result r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("shows nothing"), std::string::npos) << r.output;
  EXPECT_FALSE(fs::exists(png));

  std::ofstream(dev.dir() / "screen.xml", std::ios::binary) << kScreen;
  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --scale 2");
  ASSERT_EQ(r.status, 0) << r.output;
  QImage shot(QString::fromStdString(png.string()));
  ASSERT_FALSE(shot.isNull());
  ASSERT_EQ(shot.size(), QSize(480, 640));
  std::string error;
  const QImage blank = ui::qt::RenderScreen(
      "<screen width=\"240\" height=\"320\" workTop=\"26\" workBottom=\"320\" scale=\"1\"/>", 2, &error);
  ASSERT_FALSE(blank.isNull()) << error;
  EXPECT_NE(shot.convertToFormat(QImage::Format_ARGB32), blank.convertToFormat(QImage::Format_ARGB32));
  // The OK button is drawn where the file puts it (4,60 60x22 at scale 2).
  const QRgb background = shot.pixel(300, 400);
  int differing = 0;
  for (int y = 120; y < 164; ++y)
    for (int x = 8; x < 128; ++x) differing += shot.pixel(x, y) != background;
  EXPECT_GT(differing, 200);

  EXPECT_EQ(RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --scale 0").status, 2);
  EXPECT_EQ(RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --zoom 2").status, 2);
  std::ofstream(dev.dir() / "screen.xml", std::ios::binary | std::ios::trunc)
      << "<screen width=\"240\" height=\"320\"/>";
  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("shows nothing"), std::string::npos) << r.output;
  // Left behind by a program that has ended: stale, not shown.
  std::string stale = kScreen;
  stale.insert(stale.find(" scale="), " pid=\"" + std::to_string(EndedPid()) + "\"");
  std::ofstream(dev.dir() / "screen.xml", std::ios::binary | std::ios::trunc) << stale;
  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("has ended"), std::string::npos) << r.output;
  std::ofstream(dev.dir() / "screen.xml", std::ios::binary | std::ios::trunc) << "<screen width=\"wide\"/>";
  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("bad width"), std::string::npos) << r.output;
}

TEST(CedevScreen, RunWithScreenPutsTheProgramInScreenMode) {
  quilmo::test::TestDevice dev;
  // A device program that notes the mode it was given.
  dev.PutFile(u"\\Windows\\mode.exe", "#!/bin/sh\necho \"ui=$QUILMO_UI\" > \"$QUILMO_DEVICE/mode.txt\"\n");
  fs::permissions(dev.Host(u"\\Windows\\mode.exe"), fs::perms::owner_all, fs::perm_options::add);
  Result r = RunCedev("run --screen --timeout 30 " + Q(dev.dir()) + " '\\Windows\\mode.exe'");
  ASSERT_EQ(r.status, 0) << r.output;
  std::ifstream in(dev.dir() / "mode.txt");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "ui=screen");
}

TEST(CedevScreen, ScreenOptionBelongsToRunOnly) {
  quilmo::test::TestDevice dev;
  EXPECT_EQ(RunCedev("boot --screen " + Q(dev.dir())).status, 2);
  EXPECT_EQ(RunCedev("run --screen").status, 2);
}

TEST(CedevScreen, ScreenshotReportsAWriteThatFailed) {
  quilmo::test::TestDevice dev;
  std::ofstream(dev.dir() / "screen.xml", std::ios::binary) << kScreen;
  Result r = RunCedev("screenshot " + Q(dev.dir()) + " /dev/full");
  EXPECT_EQ(r.status, 1) << r.output;
  EXPECT_NE(r.output.find("cannot write /dev/full"), std::string::npos) << r.output;
  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(dev.dir() / "no folder" / "x.png"));
  EXPECT_EQ(r.status, 1) << r.output;
}

TEST(CedevScreen, RotationsMadeAtOnceAllCount) {
  quilmo::test::TestDevice dev;
  constexpr int kRotations = 20;
  std::vector<FILE*> runs;
  for (int i = 0; i < kRotations; ++i) {
    FILE* p = popen((cedev_test::Cedev() + "rotate " + Q(dev.dir()) + " 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    runs.push_back(p);
  }
  int failed = 0;
  for (FILE* p : runs) {
    Result r = quilmo::test::FinishCommand(p);
    failed += r.status != 0;
    EXPECT_EQ(r.status, 0) << r.output;
  }
  EXPECT_EQ(failed, 0);
  // An even number of swaps: back where it started.
  ASSERT_TRUE(dev.device()->ReloadProfile());
  EXPECT_EQ(dev.device()->GetProfile().screenWidth, 240);
  EXPECT_EQ(dev.device()->GetProfile().screenHeight, 320);
  for (const auto& e : fs::directory_iterator(dev.dir()))
    EXPECT_EQ(e.path().filename().string().find("profile.txt."), std::string::npos) << e.path();
}

TEST(CedevScreen, ScreenshotDrawsAScreenAUiScriptKept) {
  quilmo::test::TestDevice dev;
  const fs::path png = dev.dir() / "kept.png";
  // Kept by a program that has ended since: drawn all the same.
  std::string kept = kScreen;
  kept.insert(kept.find(" scale="), " pid=\"" + std::to_string(EndedPid()) + "\"");
  std::ofstream(dev.dir() / "backup-page.screen.xml", std::ios::binary) << kept;
  Result r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --saved backup-page --scale 2");
  ASSERT_EQ(r.status, 0) << r.output;
  QImage shot(QString::fromStdString(png.string()));
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.size(), QSize(480, 640));
  // The live screen is another file: nothing shows there.
  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("shows nothing"), std::string::npos) << r.output;

  r = RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --saved restore-page");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("no screen was kept as restore-page"), std::string::npos) << r.output;
  // Names as the script step takes them: no paths.
  EXPECT_EQ(RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --saved ../screen").status, 2);
  EXPECT_EQ(RunCedev("screenshot " + Q(dev.dir()) + " " + Q(png) + " --saved").status, 2);
}
