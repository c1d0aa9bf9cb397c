// Shared set-up of the option dialog tests: the dialog fixture (scratch
// device, resource library, global state) with registry helpers for the
// product's keys and a replaceable save dialog.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ce/text.h"
#include "core/RegistrySettings.h"
#include "pages/OptionSeams.h"
#include "testkit/DialogContract.h"
#include "app/tests/dlg_fixture.h"
#include "ui/Automation.h"

namespace optiontest {

using ui::test::Automation;
using ui::test::Dialog;

class OptionDialogTest : public dlgtest::DialogTest {
 protected:
  OptionDialogTest() { dev_.MakeDir(u"\\temp"); }
  ~OptionDialogTest() override {
    OptionSeams::SetSaveDialogRunner({});
    OptionSeams::SetAddExclusionRunner({});
    OptionSeams::SetVersionDialogRunner({});
  }

  template <class Dlg>
  INT_PTR Run(Dlg& dlg, Automation& a) {
    const INT_PTR result = dlg.DoModal();
    for (const auto& f : a.Failures()) ADD_FAILURE() << f;
    EXPECT_TRUE(a.Done());
    return result;
  }

  // A DWORD of the Settings key (or one of its subkeys); -1 when missing.
  static long long Dword(LPCWSTR name, LPCWSTR subkey = nullptr) {
    ABackupRegistrySettings settings(kSettingsKeyKind, subkey);
    DWORD value = 0;
    return settings.ReadDWORD(name, value) ? static_cast<long long>(value) : -1;
  }
  static std::string Text(LPCWSTR name, LPCWSTR subkey = nullptr) {
    ABackupRegistrySettings settings(kSettingsKeyKind, subkey);
    CString value;
    return settings.ReadString(name, value) ? ce::ToUtf8(value.GetString()) : "<none>";
  }
  static void SetDword(LPCWSTR name, DWORD value, LPCWSTR subkey = nullptr) {
    ABackupRegistrySettings settings(kSettingsKeyKind, subkey);
    ASSERT_TRUE(settings.WriteDWORD(name, value));
  }
  static void SetText(LPCWSTR name, LPCWSTR value, LPCWSTR subkey = nullptr) {
    ABackupRegistrySettings settings(kSettingsKeyKind, subkey);
    ASSERT_TRUE(settings.WriteString(name, value));
  }
  static std::string Utf8(const std::u16string& text) { return ce::ToUtf8(text); }
};

}  // namespace optiontest
