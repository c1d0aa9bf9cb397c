// The password dialog driven as a user would: new passwords, the stored
// scheduled password behind the placeholder, image passwords and the kiosk
// login with its countdown.
#include <gtest/gtest.h>

#include "app/PasswordDlg.h"
#include "ce/dialog.h"
#include "ce/sip.h"
#include "ce/time.h"
#include "cesim/sip.h"
#include "core/ProgramGlobals.h"
#include "dlg_fixture.h"
#include "image/MetaData.h"
#include "ui/Automation.h"

using ui::test::Automation;
using ui::test::Dialog;

namespace {

constexpr int kDlg = 231;
constexpr const char16_t* kPlaceholder = ProgramGlobals::kPasswordPlaceholder;

class PasswordDlgTest : public dlgtest::DialogTest {
 protected:
  // Runs the dialog under the automation's steps; the failures and unused
  // steps of the automation fail the test.
  INT_PTR Run(CPasswordDlg& dlg, Automation& a) {
    const INT_PTR result = dlg.DoModal();
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(a.Done());
    return result;
  }
  static void Type(Dialog& d, const char16_t* password, const char16_t* confirmation) {
    d.SetText(2018, password);
    d.SetText(2021, confirmation);
  }
  static std::string StoredHash() {
    ABackupRegistrySettings settings(kSettingsKeyKind);
    DWORD size = 0;
    BYTE* raw = settings.ReadBinary(u"ScheduledHash", size);
    if (!raw) return "<none>";
    std::string bytes(reinterpret_cast<char*>(raw), size);
    delete[] raw;
    return bytes;
  }
};

TEST_F(PasswordDlgTest, NewPasswordOfSixIsAcceptedStoredEncipheredAndBecomesTheTaskPassword) {
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2052), u"Password:");
    EXPECT_EQ(d.Text(2019), u"Confirm password:");
    EXPECT_EQ(d.Text(IDOK), u"OK");
    EXPECT_EQ(d.Text(IDCANCEL), u"Cancel");
    EXPECT_TRUE(d.IsVisible(2021));
    EXPECT_FALSE(d.IsVisible(2216));
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2018, EM_GETLIMITTEXT, 0, 0), 15);
    EXPECT_EQ(SendDlgItemMessageW(d.Hwnd(), 2021, EM_GETLIMITTEXT, 0, 0), 15);
    Type(d, u"abcdef", u"abcdef");
    d.Click(IDOK);
  });
  CPasswordDlg dlg;
  EXPECT_FALSE(dlg.IsImageMode());
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"abcdef"));
  EXPECT_EQ(global_.g_dwPasswordCheck, AMetaData::PasswordCheckValue(u"abcdef", true));
  const std::string stored = StoredHash();
  ASSERT_EQ(stored.size(), 14u);  // 6 characters and the NUL, UTF-16
  EXPECT_EQ(stored.find(std::string("a\0b\0c", 5)), std::string::npos) << "stored in plain";
  CString back;
  ASSERT_TRUE(CPasswordDlg::ReadScheduledPassword(back));
  EXPECT_EQ(back, CString(u"abcdef"));
}

TEST_F(PasswordDlgTest, ShortOrDifferingEntriesAreRefusedWithClearedFieldsAndFocus) {
  Automation a;
  auto expectCleared = [](Dialog& d) {
    EXPECT_EQ(d.Text(2018), u"");
    EXPECT_EQ(d.Text(2021), u"");
    EXPECT_EQ(GetFocus(), d.FindControl(2018));
  };
  a.OnDialog(kDlg, [](Dialog& d) {
    Type(d, u"abcde", u"abcde");
    d.Click(IDOK);
  });
  a.ExpectBox(57654, IDOK);
  a.InDialog([&](Dialog& d) {
    expectCleared(d);
    // Differing entries are reported first, even when also too short.
    Type(d, u"abc", u"abd");
    d.Click(IDOK);
  });
  a.ExpectBox(57655, IDOK);
  a.InDialog([&](Dialog& d) {
    expectCleared(d);
    d.Click(IDCANCEL);
  });
  global_.g_csTaskPassword = u"earlier";  // a new dialog forgets it
  CPasswordDlg dlg;
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
  ASSERT_EQ(a.Boxes().size(), 2u);
  for (const auto& box : a.Boxes()) EXPECT_EQ(box.request.style & MB_ICONMASK, MB_ICONERROR);
  EXPECT_EQ(StoredHash(), "<none>");
  EXPECT_TRUE(global_.g_csTaskPassword.IsEmpty());
}

TEST_F(PasswordDlgTest, UntouchedPlaceholderKeepsTheStoredPasswordAndRewritesTheStore) {
  // Stored: "stored1", its NUL and trailing bytes; the rewrite is shorter.
  CString longer(u"stored1");
  longer += CString(std::u16string(1, u'\0') + u"junk");
  ASSERT_TRUE(CPasswordDlg::WriteScheduledPassword(longer));
  ASSERT_EQ(StoredHash().size(), 26u);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2018), kPlaceholder);
    EXPECT_EQ(d.Text(2021), kPlaceholder);
    d.Click(IDOK);
  });
  CPasswordDlg dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_TRUE(dlg.IsPasswordKnown());
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"stored1"));
  EXPECT_EQ(global_.g_dwPasswordCheck, AMetaData::PasswordCheckValue(u"stored1", true));
  EXPECT_EQ(StoredHash().size(), 16u);
}

TEST_F(PasswordDlgTest, TypingIntoThePlaceholderStartsAFreshEntry) {
  ASSERT_TRUE(CPasswordDlg::WriteScheduledPassword(u"stored1"));
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    d.SetText(2018, u"n");
    EXPECT_EQ(d.Text(2018), u"");
    EXPECT_EQ(d.Text(2021), u"");
    Type(d, u"newpass", u"newpass");
    d.Click(IDOK);
  });
  CPasswordDlg dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"newpass"));
  CString back;
  ASSERT_TRUE(CPasswordDlg::ReadScheduledPassword(back));
  EXPECT_EQ(back, CString(u"newpass"));
}

TEST_F(PasswordDlgTest, ImagePasswordIsCheckedAgainstTheImagesCheckValue) {
  global_.g_dwPasswordCheck = AMetaData::PasswordCheckValue(u"imgpass", true);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_FALSE(d.IsVisible(2021));
    EXPECT_FALSE(d.IsVisible(2019));
    d.SetText(2018, u"imgpasx");
    d.Click(IDOK);
  });
  a.ExpectBox(57656, IDOK);
  a.InDialog([](Dialog& d) {
    EXPECT_EQ(d.Text(2018), u"");
    EXPECT_EQ(GetFocus(), d.FindControl(2018));
    d.SetText(2018, u"imgpass");
    d.Click(IDOK);
  });
  CPasswordDlg dlg(true, true);
  EXPECT_TRUE(dlg.IsImageMode());
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"imgpass"));
  EXPECT_EQ(StoredHash(), "<none>");  // an image password is not stored
}

TEST_F(PasswordDlgTest, FirstVersionImagesCheckOnlyAsManyBytesAsCharacters) {
  // "abc" narrow covers 'a', 0, 'b': "abd" shares those three bytes.
  global_.g_dwPasswordCheck = AMetaData::PasswordCheckValue(u"abc", false);
  ASSERT_NE(global_.g_dwPasswordCheck, AMetaData::PasswordCheckValue(u"abc", true));
  {
    Automation a;
    a.OnDialog(kDlg, [](Dialog& d) {
      d.SetText(2018, u"abd");
      d.Click(IDOK);
    });
    CPasswordDlg narrow(false, true);
    EXPECT_EQ(Run(narrow, a), IDOK);
    EXPECT_EQ(global_.g_csTaskPassword, CString(u"abd"));
  }
  {
    Automation a;
    a.OnDialog(kDlg, [](Dialog& d) {
      d.SetText(2018, u"abc");
      d.Click(IDOK);
    });
    a.ExpectBox(57656, IDOK);
    a.InDialog([](Dialog& d) { d.Click(IDCANCEL); });
    CPasswordDlg wide(true, true);
    EXPECT_EQ(Run(wide, a), IDCANCEL);
  }
}

TEST_F(PasswordDlgTest, PasswordFieldsPutTheInputPanelFullScreenAndRestoreItsFlags) {
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    // The dialog opened with the focus in the password field.
    EXPECT_EQ(ce::SipFlags(), SIPF_DOCKED | SIPF_ON | CPasswordDlg::kFullScreenDocked);
    const auto calls = ce::SipHistory();
    ASSERT_GE(calls.size(), 3u);
    const size_t n = calls.size();
    EXPECT_EQ(calls[n - 3].kind, ce::SipCall::kSetInfo);
    EXPECT_EQ(calls[n - 3].value, SIPF_DOCKED | CPasswordDlg::kFullScreenDocked);
    EXPECT_EQ(calls[n - 2].value, static_cast<DWORD>(SIP_FORCEDOWN));
    EXPECT_EQ(calls[n - 1].value, static_cast<DWORD>(SIP_UP));
    d.Focus(IDCANCEL);
    EXPECT_EQ(ce::SipFlags() & CPasswordDlg::kFullScreenDocked, 0u);
    EXPECT_EQ(ce::SipHistory()[n].value, static_cast<DWORD>(SIPF_DOCKED));
    d.Click(IDCANCEL);
  });
  CPasswordDlg dlg;
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
}

class KioskDlgTest : public PasswordDlgTest {
 protected:
  KioskDlgTest() {
    SetConfigDWORD(u"KioskModeEnabled", 1);
    GetGlobal().g_csKioskLogin = u"kiosk-7";
    GetGlobal().g_bKioskPasswordCorrect = false;
  }
  ~KioskDlgTest() override {
    GetGlobal().g_csKioskLogin.Empty();
    GetGlobal().g_bKioskPasswordCorrect = false;
  }
};

TEST_F(KioskDlgTest, KioskModeOverridesTheConstructorAndChecksTheLoginExactly) {
  ASSERT_TRUE(CPasswordDlg::WriteScheduledPassword(u"stored1"));
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    // The fields open as a new-password dialog has them: the stored
    // password behind the placeholder, the confirmation shown.
    EXPECT_TRUE(d.IsVisible(2021));
    EXPECT_EQ(d.Text(2018), kPlaceholder);
    EXPECT_EQ(d.Text(2021), kPlaceholder);
    d.Click(IDOK);  // the placeholder is no login
  });
  a.InDialog([](Dialog& d) {
    EXPECT_FALSE(GetGlobal().g_bKioskPasswordCorrect);
    d.SetText(2018, u"x");  // typing over the placeholder starts afresh
    EXPECT_EQ(d.Text(2021), u"");
    d.SetText(2018, u"KIOSK-7");
    d.Click(IDOK);
  });
  a.InDialog([](Dialog& d) {
    EXPECT_FALSE(GetGlobal().g_bKioskPasswordCorrect);
    d.SetText(2018, u"kiosk-7");
    d.Click(IDOK);
  });
  CPasswordDlg dlg;  // asked for a new password
  EXPECT_TRUE(dlg.IsKioskMode());
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_TRUE(GetGlobal().g_bKioskPasswordCorrect);
  EXPECT_EQ(global_.g_csTaskPassword, CString(u"stored1"));
  EXPECT_EQ(a.Boxes().size(), 0u);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "Set kiosk password timer"), 1);
  EXPECT_EQ(Count(log, "wrong password for kiosk mode"), 2);
  EXPECT_EQ(Count(log, "Kiosk password entered correctly"), 1);
  CString back;
  ASSERT_TRUE(CPasswordDlg::ReadScheduledPassword(back));
  EXPECT_EQ(back, CString(u"stored1"));  // the store is not touched
}

TEST_F(KioskDlgTest, AKioskLoginLongerThanAPasswordCanBeEntered) {
  GetGlobal().g_csKioskLogin = u"a-kiosk-login-of-25-chars";
  ASSERT_EQ(GetGlobal().g_csKioskLogin.GetLength(), 25);
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    d.SetText(2018, u"a-kiosk-login-of-25-chars");
    d.Click(IDOK);
  });
  CPasswordDlg dlg(false, true);
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_TRUE(GetGlobal().g_bKioskPasswordCorrect);
}

TEST_F(KioskDlgTest, ClosingWithTheFocusInAFieldRestoresTheInputPanel) {
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(GetFocus(), d.FindControl(2018));
    EXPECT_NE(ce::SipFlags() & CPasswordDlg::kFullScreenDocked, 0u);
  });
  a.AdvanceClock(22000);  // the countdown ends the dialog, the focus never moved
  CPasswordDlg dlg(false, true);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  EXPECT_EQ(ce::SipFlags(), static_cast<DWORD>(SIPF_DOCKED | SIPF_ON));
}

TEST_F(KioskDlgTest, WithoutALoginTheDialogCancelsItselfAfterTwentyOneSeconds) {
  int64_t opened = 0;
  Automation a;
  a.OnDialog(kDlg, [&](Dialog& d) {
    opened = ce::DeviceNowMs();
    EXPECT_FALSE(d.IsVisible(2216));
  });
  a.AdvanceClock(1000);
  a.InDialog([](Dialog& d) {
    EXPECT_TRUE(d.IsVisible(2216));
    EXPECT_EQ(d.Text(2216), u"Seconds until the automatic restore starts: 20");
    d.SetText(2018, u"wrong");
    d.Click(IDOK);  // a wrong login does not stop the countdown
  });
  // Second by second until the dialog has closed itself (spare steps stay
  // unused).
  for (int i = 0; i < 30; ++i) a.AdvanceClock(1000);
  CPasswordDlg dlg(false, true);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
  const int64_t open = ce::DeviceNowMs() - opened;
  EXPECT_GE(open, 20950);
  EXPECT_EQ(dlg.GetCountdown(), 0);
  EXPECT_FALSE(GetGlobal().g_bKioskPasswordCorrect);
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "Function Entry: CPasswordDlg::OnTimer"), 21);
  EXPECT_EQ(Count(log, "No password or incorrect password entered- continuing autorestore"), 1);
}

}  // namespace

namespace {

TEST_F(KioskDlgTest, TheKioskLoginClearsAnEarlierAcceptanceAndRecordsTheNewOutcome) {
  GetGlobal().g_bKioskPasswordCorrect = true;  // accepted at an earlier login
  {
    Automation a;
    a.OnDialog(kDlg, [](Dialog& d) {
      EXPECT_FALSE(d.IsVisible(2021));  // kiosk login over an image-mode dialog
      EXPECT_FALSE(GetGlobal().g_bKioskPasswordCorrect);
      d.Click(IDCANCEL);
    });
    EXPECT_TRUE(DisplayKioskPassword());
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_FALSE(GetGlobal().g_bKioskPasswordCorrect);
  }
  {
    Automation a;
    a.OnDialog(kDlg, [](Dialog& d) {
      d.SetText(2018, u"kiosk-7");
      d.Click(IDOK);
    });
    EXPECT_TRUE(DisplayKioskPassword());
    EXPECT_TRUE(a.Failures().empty()) << a.Failures().front();
    EXPECT_TRUE(GetGlobal().g_bKioskPasswordCorrect);
  }
  const std::string log = LogText();
  EXPECT_EQ(Count(log, "L  Function Entry: DisplayKioskPassword()\r\n"), 2) << log;
}

}  // namespace
