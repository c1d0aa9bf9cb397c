// The small dialogs around a backup driven as a user would: the option bits
// and the program copy on the card, the schedule file, the annotation and
// one exclusion entry.
#include <gtest/gtest.h>

#include <string>

#include "app/tests/dlg_fixture.h"
#include "ce/commdlg.h"
#include "ce/sip.h"
#include "ce/time.h"
#include "cesim/file.h"
#include "cesim/sip.h"
#include "core/RegistrySettings.h"
#include "engine/Global.h"
#include "pages/BackupOptionDialogs.h"
#include "scheduling/Notify.h"
#include "scheduling/UnattendedBackup.h"
#include "core/System.h"
#include "ce/text.h"
#include "testkit/DialogContract.h"
#include "ui/Automation.h"

using ui::test::Automation;
using ui::test::Dialog;

namespace {

constexpr const char16_t* kCardCopy = u"\\Storage Card\\Program Files\\Quilmo Backup";

class BackupOptionDialogsTest : public dlgtest::DialogTest {
 protected:
  template <class Dlg>
  INT_PTR Run(Dlg& dlg, Automation& a) {
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
    return result;
  }
  static BackupOptionsBlock Block(std::initializer_list<int> on) {
    BackupOptionsBlock b{};
    for (int option : on) b.options[option] = 1;
    b.manageFileQuantityQuantity = 7;
    return b;
  }
  bool CardCopyExists() const { return GetFileAttributesW(kCardCopy) != INVALID_FILE_ATTRIBUTES; }
  void InstallProgramWithCard() {
    dev_.MakeDir(u"\\Windows");
    ce::Profile profile = dev_.device()->GetProfile();
    profile.cards = {u"Storage Card"};
    EXPECT_TRUE(dev_.device()->SaveProfile(profile));
    dev_.MakeDir(u"\\Storage Card");
    dev_.PutFile(u"\\Windows\\QuilmoRes.dll", "res");
    // The scratch device has its storage card in.
  }
  static CString Annotation() { return GetGlobal().g_Operation.GetAnnotation(); }
};

TEST_F(BackupOptionDialogsTest, OptionsShowTheRecordAndDefaultsSetTheirBitsAtOnce) {
  Automation a;
  a.OnDialog(CBackupOptionsPage::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), u"Backup options");
    EXPECT_EQ(d.Text(2010), u"Compress the backup");
    EXPECT_EQ(d.Text(2057), u"Defaults");
    EXPECT_EQ(SendMessageW(d.FindControl(2010), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(d.FindControl(2011), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(d.FindControl(2113), BM_GETCHECK, 0, 0), BST_CHECKED);
    d.Click(2057);
    for (int id : {2010, 2011, 2108}) EXPECT_EQ(SendMessageW(d.FindControl(id), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(d.FindControl(2113), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    d.SetCheck(2108, BST_UNCHECKED);
    d.Click(IDOK);
  });
  CBackupOptionsPage dlg(Block({kOptionEncrypt, kOptionCopyProgramToCard, kOptionExcludeCards}));
  ASSERT_EQ(Run(dlg, a), IDOK);
  const BackupOptionsBlock& out = dlg.GetOptions();
  EXPECT_EQ(out.options[kOptionClosePrograms], 1u);
  EXPECT_EQ(out.options[kOptionCompress], 1u);
  EXPECT_EQ(out.options[kOptionEncrypt], 1u);
  EXPECT_EQ(out.options[kOptionAppendDate], 0u);
  EXPECT_EQ(out.options[kOptionCopyProgramToCard], 0u);
  EXPECT_EQ(out.options[kOptionExcludeCards], 1u) << "a bit the dialog does not show stays";
  EXPECT_EQ(out.manageFileQuantityQuantity, 7u);
}

TEST_F(BackupOptionDialogsTest, CardCopyIsMadeOrRemovedOnlyWhenItsBitChanges) {
  InstallProgramWithCard();
  auto runWithCardBit = [&](const BackupOptionsBlock& in, int check) {
    Automation a;
    a.OnDialog(CBackupOptionsPage::IDD, [check](Dialog& d) {
      d.SetCheck(2113, check);
      d.Click(IDOK);
    });
    CBackupOptionsPage dlg(in);
    EXPECT_EQ(Run(dlg, a), IDOK);
  };
  // Unchanged (off): nothing on the card.
  runWithCardBit(Block({}), BST_UNCHECKED);
  EXPECT_FALSE(CardCopyExists());
  runWithCardBit(Block({}), BST_CHECKED);
  EXPECT_TRUE(CardCopyExists());
  // Unchanged (on) with the copy gone: the dialog does not make it again.
  ASSERT_TRUE(System::RemoveProgramFromStorageCard());
  runWithCardBit(Block({kOptionCopyProgramToCard}), BST_CHECKED);
  EXPECT_FALSE(CardCopyExists());
  runWithCardBit(Block({}), BST_CHECKED);
  runWithCardBit(Block({kOptionCopyProgramToCard}), BST_UNCHECKED);
  EXPECT_FALSE(CardCopyExists());
}

TEST_F(BackupOptionDialogsTest, MenuEntryChangesTheOptionsOnlyOnOk) {
  BackupOptionsBlock options = Block({kOptionCompress});
  {
    Automation a;
    a.OnDialog(CBackupOptionsPage::IDD, [](Dialog& d) {
      d.SetCheck(2011, BST_CHECKED);
      d.Click(IDCANCEL);
    });
    EXPECT_EQ(RunBackupOptionsDialog(nullptr, options), IDCANCEL);
    EXPECT_TRUE(a.Done());
    EXPECT_EQ(options.options[kOptionEncrypt], 0u);
  }
  Automation a;
  a.OnDialog(CBackupOptionsPage::IDD, [](Dialog& d) {
    d.SetCheck(2011, BST_CHECKED);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunBackupOptionsDialog(nullptr, options), IDOK);
  EXPECT_TRUE(a.Done());
  EXPECT_EQ(options.options[kOptionEncrypt], 1u);
  EXPECT_EQ(options.options[kOptionCompress], 1u);
}

TEST_F(BackupOptionDialogsTest, ScheduleFileOnStoresTheScheduleAndBothOptionSets) {
  dev_.MakeDir(u"\\My Documents");
  dev_.PutFile(u"\\My Documents\\sched.xml", "<schedule/>");
  global_.g_BackupOptions.SetBlock(Block({kOptionCompress, kOptionAppendDate}));
  Automation a;
  a.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), u"Advanced options");
    EXPECT_FALSE(d.IsEnabled(2161));
    EXPECT_FALSE(d.IsEnabled(2172));
    d.Click(2155);
    EXPECT_TRUE(d.IsEnabled(2161));
    EXPECT_TRUE(d.IsEnabled(2172));
    d.Click(IDOK);
  });
  a.ExpectBox(65018, IDOK);
  a.InDialog([](Dialog& d) {
    d.SetText(2161, u"\\My Documents\\sched.xml");
    d.Click(IDOK);
  });
  CAdvancedOptDlg dlg;
  ASSERT_EQ(Run(dlg, a), IDOK);
  ASSERT_EQ(a.Boxes().size(), 1u);
  EXPECT_EQ(a.Boxes()[0].request.style & MB_ICONMASK, MB_ICONSTOP);

  ANotify schedule;
  ASSERT_TRUE(schedule.LoadOptions());
  EXPECT_EQ(schedule.GetValueObject().GetFlags(), static_cast<DWORD>(kPeriodScheduleFile));
  EXPECT_EQ(schedule.GetScheduleFile(), CString(u"\\My Documents\\sched.xml"));
  const DWORD word = (1u << kOptionCompress) | (1u << kOptionAppendDate);
  for (auto use : {&AUnattendedBackup::UseNextScheduleKey, &AUnattendedBackup::UseUnattendedKey}) {
    AUnattendedBackup unattended;
    (unattended.*use)();
    DWORD options = 0;
    CString file, list;
    bool reset = true, remote = true;
    ASSERT_TRUE(unattended.RetrieveScheduledBackupOptions(options, file, reset, remote, list)) << ce::ToUtf8(unattended.GetKey().view());
    EXPECT_EQ(options, word);
    EXPECT_EQ(file, CString(u"\\My Documents\\sched.xml"));
    EXPECT_FALSE(reset);
    EXPECT_FALSE(remote);
    EXPECT_TRUE(list.IsEmpty());
  }
  EXPECT_NE(LogText().find("Storing saved options 130 to NextSchedule"), std::string::npos);

  // Opened again, the dialog shows the stored schedule file.
  Automation again;
  again.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2161), u"\\My Documents\\sched.xml");
    d.Click(IDCANCEL);
  });
  CAdvancedOptDlg second;
  EXPECT_EQ(Run(second, again), IDCANCEL);
  EXPECT_NE(LogText().find("Is FROM_FILE schedule period"), std::string::npos);
}

TEST_F(BackupOptionDialogsTest, ScheduleFileOffRemovesTheNotificationEvenWhenNoneWasRegistered) {
  Automation a;
  a.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(SendMessageW(d.FindControl(2155), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    d.Click(IDOK);
  });
  CAdvancedOptDlg dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_TRUE(a.Boxes().empty());
  ANotify stored;
  if (stored.LoadOptions()) {
    EXPECT_FALSE(stored.IsEnabled());
  }

  // A daily schedule is not a schedule file: shown off, and OK drops it.
  SYSTEMTIME at{};
  GetLocalTime(&at);
  ANotify daily(ANotifyValueObject(kPeriodDaily, at), 1);
  ASSERT_TRUE(daily.registerOptions());
  Automation b;
  b.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(SendMessageW(d.FindControl(2155), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    d.Click(IDOK);
  });
  CAdvancedOptDlg second;
  EXPECT_EQ(Run(second, b), IDOK);
  ANotify after;
  ASSERT_TRUE(after.LoadOptions());
  EXPECT_FALSE(after.IsEnabled());
  EXPECT_NE(LogText().find("Not FROM_FILE schedule period"), std::string::npos);
}

TEST_F(BackupOptionDialogsTest, ScheduleFileIsChosenWithTheOpenDialogAndCancelKeepsThePath) {
  dev_.MakeDir(u"\\My Documents");
  dev_.PutFile(u"\\My Documents\\plan.xml", "<schedule/>");
  Automation a;
  a.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    d.Click(2155);
    d.SetText(2161, u"\\typed.xml");
    d.Click(2172);
  });
  a.OnDialog(ce::kOpenFileDialogId, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2161), u"\\typed.xml");
    d.Click(2172);
  });
  a.OnDialog(ce::kOpenFileDialogId, [](Dialog& d) {
    d.SetText(ce::kFileNameEdit, u"\\My Documents\\plan.xml");
    d.Click(IDOK);
  });
  a.OnDialog(CAdvancedOptDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2161), u"\\My Documents\\plan.xml");
    d.Click(IDCANCEL);
  });
  CAdvancedOptDlg dlg;
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
}

TEST_F(BackupOptionDialogsTest, AnnotationPromptIsNeverStoredAndLongTextIsCut) {
  // Untouched prompt: stored as "no annotation".
  {
    Automation a;
    a.OnDialog(CAnnotationDlg::IDD, [](Dialog& d) {
      EXPECT_EQ(d.Text(2128), u"Annotation");
      EXPECT_EQ(d.Text(2158), u"Tap here to add a note to this backup");
      EXPECT_TRUE(d.IsVisible(IDCANCEL));
      EXPECT_EQ(SendMessageW(d.FindControl(2158), EM_GETLIMITTEXT, 0, 0), 254);
      d.Click(IDOK);
    });
    CAnnotationDlg dlg(1);
    EXPECT_EQ(Run(dlg, a), IDOK);
    EXPECT_EQ(Annotation(), CString(u"No annotation"));
    EXPECT_NE(LogText().find("CEdit textlimit 254"), std::string::npos);
  }
  // "No annotation" shows as the prompt again; focus clears the prompt.
  {
    Automation a;
    a.OnDialog(CAnnotationDlg::IDD, [](Dialog& d) {
      EXPECT_EQ(d.Text(2158), u"Tap here to add a note to this backup");
      d.Focus(2158);
      EXPECT_EQ(d.Text(2158), u"");
      EXPECT_TRUE(ce::SipFlags() & SIPF_ON);
      d.SetText(2158, u"before the trip");
      d.Click(IDOK);
    });
    CAnnotationDlg dlg(1);
    EXPECT_EQ(Run(dlg, a), IDOK);
    EXPECT_EQ(Annotation(), CString(u"before the trip"));
    EXPECT_FALSE(ce::SipFlags() & SIPF_ON);
  }
  // A text set past the edit's limit is stored cut to 255 characters.
  {
    const std::u16string longText(300, u'x');
    Automation a;
    a.OnDialog(CAnnotationDlg::IDD, [&](Dialog& d) {
      EXPECT_EQ(d.Text(2158), u"before the trip");
      SetWindowTextW(d.FindControl(2158), longText.c_str());
      d.Click(IDOK);
    });
    CAnnotationDlg dlg(1);
    EXPECT_EQ(Run(dlg, a), IDOK);
    EXPECT_EQ(Annotation().GetLength(), 255);
  }
  // Cancel keeps what was stored.
  {
    Automation a;
    a.OnDialog(CAnnotationDlg::IDD, [](Dialog& d) {
      d.SetText(2158, u"not kept");
      d.Click(IDCANCEL);
    });
    CAnnotationDlg dlg(1);
    EXPECT_EQ(Run(dlg, a), IDCANCEL);
    EXPECT_EQ(Annotation().GetLength(), 255);
  }
}

TEST_F(BackupOptionDialogsTest, RestoreShowsTheAnnotationReadOnlyWithoutCancel) {
  global_.g_Operation.operationKind = kOperationRestore;
  global_.g_Operation.SetAnnotation(u"weekly");
  Automation a;
  a.OnDialog(CAnnotationDlg::IDD, [](Dialog& d) {
    EXPECT_EQ(d.Text(2158), u"weekly");
    EXPECT_FALSE(d.IsVisible(IDCANCEL));
    EXPECT_TRUE(GetWindowLongW(d.FindControl(2158), GWL_STYLE) & ES_READONLY);
    d.Focus(2158);
    EXPECT_FALSE(ce::SipFlags() & SIPF_ON) << "a read-only annotation raises no input panel";
    d.Click(IDOK);
  });
  CAnnotationDlg dlg(0);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(Annotation(), CString(u"weekly"));
}

TEST_F(BackupOptionDialogsTest, ExclusionEntryRaisesThePanelAndLowersItOnEitherButton) {
  for (int button : {IDOK, IDCANCEL}) {
    ce::ResetSip();
    Automation a;
    a.OnDialog(CAddExclusionDlg::IDD, [button](Dialog& d) {
      EXPECT_EQ(d.Text(2060), u"File or folder to leave out:");
      EXPECT_TRUE(ce::SipFlags() & SIPF_ON);
      d.SetText(2110, u"\\Temp|tmp");
      d.Click(button);
    });
    CAddExclusionDlg dlg;
    EXPECT_EQ(Run(dlg, a), button);
    EXPECT_FALSE(ce::SipFlags() & SIPF_ON);
    EXPECT_EQ(dlg.GetExclusion(), CString(button == IDOK ? u"\\Temp|tmp" : u""));
    EXPECT_EQ(dlg.GetValue(), 0);
  }
}

TEST_F(BackupOptionDialogsTest, ContractsWithTheResourceLibrary) {
  using quilmo::test::ExpectDialogContract;
  ExpectDialogContract(CBackupOptionsPage::IDD,
                       {{2128, u"STATIC"}, {2010, u"BUTTON", 3}, {2011, u"BUTTON", 3}, {2108, u"BUTTON", 3},
                        {2113, u"BUTTON", 3}, {2057, u"BUTTON", 0}, {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {65327, 57691, 57693, 65155, 133, 57701, 57702, 57686});
  ExpectDialogContract(CAdvancedOptDlg::IDD,
                       {{2128, u"STATIC"}, {2155, u"BUTTON", 3}, {2161, u"EDIT"}, {2172, u"BUTTON", 0},
                        {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {65224, 65225, 65018});
  ExpectDialogContract(CAnnotationDlg::IDD, {{2128, u"STATIC"}, {2158, u"EDIT"}, {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {65255, 65247, 65248});
  ExpectDialogContract(CAddExclusionDlg::IDD,
                       {{2128, u"STATIC"}, {2060, u"STATIC"}, {2110, u"EDIT"}, {1, u"BUTTON", 1}, {2, u"BUTTON", 0}},
                       {65334});
}

}  // namespace
