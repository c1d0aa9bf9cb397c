// Set-up shared by the tests of the Restore page and the file dialogs: the
// dialog fixture of the program (scratch device, resource library, global
// state) with a storage card, the file-system component registered, and
// backup images made for real by the imaging task.
#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "app/tests/dlg_fixture.h"
#include "ce/text.h"
#include "core/Localizer.h"
#include "engine/FileSystemComponent.h"
#include "engine/Global.h"
#include "engine/ImagingTask.h"
#include "testkit/TaskSetup.h"
#include "ui/Automation.h"

namespace pagetest {

inline const IncludedKinds kFileSystemOnly{true, false, false, false};

inline std::u16string Res(DWORD id) { return Localizer::LoadResString(id).str(); }

class ImageTest : public dlgtest::DialogTest {
 protected:
  ImageTest() : context_(MakeFileSystemContext(global_)), fileSystem_(context_) {
    fileSystem_.Register();
    ce::Profile p = dev_.device()->GetProfile();
    p.cards = {u"Storage Card"};
    EXPECT_TRUE(dev_.device()->SaveProfile(p));
    dev_.MakeDir(u"\\Storage Card");
    dev_.MakeDir(u"\\temp");
    dev_.MakeDir(u"\\Program Files\\Quilmo Backup");
    global_.g_wVersionMajor = 6;
    global_.g_wVersionMid = 1;
  }
  ~ImageTest() override {
    if (HasFailure()) std::cerr << LogText();
  }

  // A backup of the device's files into image, with the annotation and the
  // password given (none: not enciphered); the descriptor is fresh after.
  ::testing::AssertionResult MakeImage(const CString& image, const CString& annotation = CString(),
                                       const CString& password = CString()) {
    quilmo::test::PrepareBackupOperation(global_, kFileSystemOnly, image, password);
    global_.g_Operation.SetAnnotation(annotation.view());
    bool ok = false;
    int kind = -1;
    {
      AImagingTaskClient task(global_.g_Operation, nullptr);
      ok = task.Run();
      kind = task.GetFailureKind();
    }
    global_.g_Operation = OperationDescriptor();
    global_.g_Operation.imagePath.Clear();
    global_.g_csTaskPassword.Empty();
    if (ok) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "backup failed, kind " << kind;
  }

  // The automation's failures and unused steps fail the test.
  static void ExpectClean(const ui::test::Automation& a) {
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
  }

  FileSystemContext context_;
  AFileSystemComponent fileSystem_;
};

}  // namespace pagetest
