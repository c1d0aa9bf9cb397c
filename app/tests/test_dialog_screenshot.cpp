// An offscreen picture of the password dialog, drawn from the screen file
// the window layer writes while the dialog is open. The picture lands in
// the build folder (bin/password-dialog.png); docs/ keeps a copy.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/PasswordDlg.h"
#include "dlg_fixture.h"
#include "ui/Automation.h"
#include "ui/ScreenFile.h"
#include "ui/qt/Screen.h"

namespace fs = std::filesystem;
using ui::test::Automation;
using ui::test::Dialog;

namespace {

class ScreenshotTest : public dlgtest::DialogTest {};

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(ScreenshotTest, PasswordDialogPicture) {
  const fs::path screen = ui::ScreenFilePath();
  const fs::path png = fs::path(QUILMO_BIN_DIR) / "password-dialog.png";
  fs::remove(png);
  Automation a;
  a.OnDialog(231, [](Dialog& d) {
    d.SetText(2018, u"secret1");
    d.Focus(2021);
  });
  // The layer writes the screen file when the loop is idle again.
  a.Do([&](Automation& self) {
    const std::string xml = ReadAll(screen);
    if (xml.find("id=\"231\"") == std::string::npos) return self.Fail("dialog not in the screen file");
    // The file never holds the secret: password fields show stars.
    EXPECT_EQ(xml.find("secret1"), std::string::npos);
    EXPECT_NE(xml.find("*******"), std::string::npos);
    std::string error;
    EXPECT_TRUE(ui::qt::WriteScreenshot(screen, png, 2, &error)) << error;
  });
  a.InDialog([](Dialog& d) { d.Click(IDCANCEL); });
  CPasswordDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  QImage image(QString::fromStdString(png.string()));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(480, 640));
}

}  // namespace
