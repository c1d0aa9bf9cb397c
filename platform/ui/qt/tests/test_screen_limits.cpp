// Screen files with absurd sizes: refused whole, never a huge allocation.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <string>

#include "testkit/TestDevice.h"
#include "ui/qt/Screen.h"
#include "ui/qt/ScreenViewer.h"

namespace fs = std::filesystem;

namespace {

std::string Repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::string Controls(size_t n, const std::string& inner = "") {
  std::string s;
  for (size_t i = 0; i < n; ++i)
    s += "<control hwnd=\"" + std::to_string(i + 2) + "\" width=\"10\" height=\"10\">" + inner + "</control>";
  return s;
}

std::string Screen(const std::string& windows, const std::string& size = "width=\"240\" height=\"320\"") {
  return "<screen " + size + ">" + windows + "</screen>";
}

bool Parses(const std::string& xml, std::string* error) {
  ui::qt::ScreenModel m;
  return ui::qt::ParseScreen(xml, &m, error);
}

}  // namespace

TEST(ScreenLimits, CountsAndSizesBeyondTheLimitsAreRefused) {
  std::string error;
  const std::string most = Controls(ui::qt::kMaxScreenControls / 2);
  EXPECT_TRUE(Parses(Screen("<window hwnd=\"1\">" + most + "</window><window hwnd=\"9\">" + most + "</window>"),
                     &error))
      << error;
  // The limits hold across windows and controls, not per element.
  const std::string cases[] = {
      Screen("<window hwnd=\"1\">" + most + "</window><window hwnd=\"9\">" + most + Controls(1) + "</window>"),
      Screen(Repeat("<window hwnd=\"1\"/>", ui::qt::kMaxScreenWindows + 1)),
      Screen("<window hwnd=\"1\">" + Controls(3, Repeat("<item/>", 30000)) + "</window>"),
      Screen("", "width=\"-240\" height=\"320\""),
      Screen("", "width=\"240\" height=\"99999999999999999999\""),
      Screen("<window hwnd=\"1\" width=\"4294967296\"/>"),
      Screen("<window hwnd=\"1\"/>" + std::string(ui::qt::kMaxScreenFileBytes, ' ')),
  };
  for (const auto& xml : cases) {
    error.clear();
    EXPECT_FALSE(Parses(xml, &error)) << xml.substr(0, 120);
    EXPECT_FALSE(error.empty());
  }
}

TEST(ScreenLimits, AFileTooLargeIsNotReadAndAnUndrawableOneKeepsTheViewerSize) {
  std::string error;
  ASSERT_TRUE(ui::qt::EnsureApplication(&error)) << error;
  quilmo::test::TestDevice dev;
  const fs::path file = dev.dir() / "screen.xml";
  std::ofstream(file, std::ios::binary) << Screen("") << std::string(ui::qt::kMaxScreenFileBytes, ' ');
  std::string xml;
  EXPECT_FALSE(ui::qt::ReadScreenFile(file, &xml, &error));
  EXPECT_NE(error.find("larger"), std::string::npos) << error;
  EXPECT_TRUE(xml.empty());
  EXPECT_FALSE(ui::qt::WriteScreenshot(file, dev.dir() / "shot.png", 1, &error));

  ui::qt::ScreenViewer viewer(file, 8);
  EXPECT_TRUE(viewer.Picture().isNull());
  EXPECT_NE(viewer.Problem().find("larger"), std::string::npos) << viewer.Problem();
  // Within the parser's limits but too large to draw at this scale: the
  // viewer says so and does not grow to (4096 x 8) pixels a side.
  std::ofstream(file, std::ios::binary | std::ios::trunc) << Screen("", "width=\"4096\" height=\"4096\"");
  EXPECT_TRUE(viewer.Refresh());
  EXPECT_TRUE(viewer.Picture().isNull());
  EXPECT_FALSE(viewer.Problem().empty());
  EXPECT_EQ(viewer.size(), QSize(240 * 8, 320 * 8));
}
