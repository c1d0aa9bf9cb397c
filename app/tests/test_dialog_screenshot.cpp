// Offscreen pictures of the password dialog and of the task progress window
// (running and finished), drawn from the screen file the window layer
// writes while a dialog is open. The pictures land in the build folder
// (bin/*.png); docs/ keeps copies.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "app/PasswordDlg.h"
#include "app/TaskProgressDlg.h"
#include "engine/FileSystemComponent.h"
#include "engine/ImagingTask.h"
#include "testkit/TaskSetup.h"
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

// Passes the task's progress on to the window and pictures the window once
// a megabyte is written.
class PicturingProgress : public ITaskProgress {
 public:
  explicit PicturingProgress(CTaskProgressDlg& window)
      : ITaskProgress(window.GetRecord()), window_(window) {}
  void UpdateProgress(bool force) override {
    window_.UpdateProgress(force);
    const TaskProgressRecord& r = *GetRecord();
    // Some way into the photos (about 2.4 MB in all).
    if (done_ || r.bytesWritten < 1048576) return;
    done_ = true;
    window_.UpdateProgress(true);  // the texts of this very moment
    if (onMegabyte) onMegabyte();
  }
  std::function<void()> onMegabyte;

 private:
  CTaskProgressDlg& window_;
  bool done_ = false;
};

TEST_F(ScreenshotTest, TaskProgressPictures) {
  const fs::path screen = ui::ScreenFilePath();
  const fs::path running = fs::path(QUILMO_BIN_DIR) / "task-progress-running.png";
  const fs::path finished = fs::path(QUILMO_BIN_DIR) / "task-progress-finished.png";
  fs::remove(running);
  fs::remove(finished);
  // Something to back up, and the program's folder for the report; no
  // Startup folder, so the window stays on its finished state (no popup,
  // no reset).
  dev_.MakeDir(u"\\temp");
  dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
  std::minstd_rand random(7);  // photos do not compress
  for (int i = 0; i < 40; ++i) {
    std::string bytes(60000 + 997 * i, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    dev_.PutFile(u"\\My Documents\\Photo" + std::u16string(1, u'A' + i % 26) + std::u16string(1, u'0' + i / 26) +
                     u".jpg",
                 bytes);
  }
  FileSystemContext context = MakeFileSystemContext(global_);
  AFileSystemComponent fileSystem(context);
  fileSystem.Register();
  quilmo::test::PrepareBackupOperation(global_, IncludedKinds{true, false, false, false},
                                       u"\\temp\\Backup.pbf", CString());
  CTaskProgressDlg::SetResetFunctionForTest([] {});
  CTaskProgressDlg dlg(kStartWaitForUser, nullptr, nullptr);
  PicturingProgress progress(dlg);
  AImagingTaskClient task(global_.g_Operation, &progress);
  dlg.SetTask(&task);
  int pictures = 0;
  progress.onMegabyte = [&] {
    std::string error;
    if (ui::WriteScreenFile(screen) && ui::qt::WriteScreenshot(screen, running, 2, &error)) ++pictures;
  };
  Automation a;
  a.OnDialog(132, [](Dialog& d) { d.Click(1002); });
  a.AdvanceClock(100);  // the finishing timer
  a.Do([&](Automation& self) {
    const std::string xml = ReadAll(screen);
    if (xml.find("id=\"132\"") == std::string::npos) return self.Fail("dialog not in the screen file");
    std::string error;
    EXPECT_TRUE(ui::qt::WriteScreenshot(screen, finished, 2, &error)) << error;
  });
  a.InDialog([](Dialog& d) { d.Click(1002); });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  CTaskProgressDlg::SetResetFunctionForTest(nullptr);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(dlg.GetState(), CTaskProgressDlg::kFinished);
  EXPECT_EQ(pictures, 1);
  for (const fs::path& png : {running, finished}) {
    QImage image(QString::fromStdString(png.string()));
    ASSERT_FALSE(image.isNull()) << png;
    EXPECT_EQ(image.size(), QSize(480, 640));
  }
}

}  // namespace
