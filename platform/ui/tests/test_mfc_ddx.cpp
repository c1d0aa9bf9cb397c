// Dialog data exchange round trips and validation failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ce/msgbox.h"
#include "mfc_test_support.h"

namespace {

using namespace mfctest;

constexpr int kTemplate = 610, kName = 100, kCount = 101, kSize = 102, kCheck = 103, kCombo = 104;

ce::DialogTemplate DdxTemplate() {
  return Dlg(kTemplate, 200, 140, u"Data",
             {Ctl(kName, u"EDIT", 4, WS_TABSTOP | ES_AUTOHSCROLL), Ctl(kCount, u"EDIT", 20, WS_TABSTOP),
              Ctl(kSize, u"EDIT", 36, WS_TABSTOP), Ctl(kCheck, u"BUTTON", 52, BS_AUTOCHECKBOX | WS_TABSTOP, u"On"),
              Ctl(kCombo, u"COMBOBOX", 68, CBS_DROPDOWNLIST | WS_TABSTOP),
              Ctl(IDOK, u"BUTTON", 84, BS_DEFPUSHBUTTON | WS_TABSTOP, u"OK"),
              Ctl(IDCANCEL, u"BUTTON", 100, WS_TABSTOP, u"Cancel")});
}

class DataDlg : public CDialog {
 public:
  DataDlg() : CDialog(kTemplate) {}
  CString name = u"alpha";
  int count = -12;
  UINT size = 4000000000u;
  int check = BST_CHECKED;
  int combo = 1;
  BOOL OnInitDialog() override {
    SendDlgItemMessage(kCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"zero"));
    SendDlgItemMessage(kCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"one"));
    SendDlgItemMessage(kCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"two"));
    return CDialog::OnInitDialog();
  }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Text(dx, kName, name);
    DDV_MaxChars(dx, name, 8);
    DDX_Text(dx, kCount, count);
    DDX_Text(dx, kSize, size);
    DDX_Check(dx, kCheck, check);
    DDX_CBIndex(dx, kCombo, combo);
  }
};

constexpr int kRadioTemplate = 611, kRadio = 300, kEditable = 310;

ce::DialogTemplate RadioTemplate() {
  return Dlg(kRadioTemplate, 200, 140, u"Radios",
             {Ctl(kRadio, u"BUTTON", 4, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, u"a"),
              Ctl(kRadio + 1, u"BUTTON", 20, BS_AUTORADIOBUTTON, u"b"),
              Ctl(kRadio + 2, u"BUTTON", 36, BS_AUTORADIOBUTTON, u"c"),
              Ctl(kRadio + 3, u"BUTTON", 52, BS_AUTORADIOBUTTON | WS_GROUP, u"next group"),
              Ctl(kEditable, u"COMBOBOX", 68, CBS_DROPDOWN | WS_TABSTOP),
              Ctl(IDOK, u"BUTTON", 84, BS_DEFPUSHBUTTON | WS_TABSTOP, u"OK")});
}

class RadioDlg : public CDialog {
 public:
  RadioDlg() : CDialog(kRadioTemplate) {}
  int choice = 2;
  CString pick = u"two";
  BOOL OnInitDialog() override {
    SendDlgItemMessage(kEditable, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"one"));
    SendDlgItemMessage(kEditable, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"two"));
    return CDialog::OnInitDialog();
  }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Radio(dx, kRadio, choice);
    DDX_CBString(dx, kEditable, pick);
  }
};

class MfcDdx : public ::testing::Test {
 protected:
  void SetUp() override {
    ce::SetMessageBoxService([this](const ce::MessageBoxRequest& r) {
      boxes.push_back(r.text);
      captions.push_back(r.caption);
      return IDOK;
    });
  }
  void TearDown() override { ce::SetMessageBoxService(nullptr); }
  quilmo::test::TestDevice device;
  ResourceModule res{device, {DdxTemplate(), RadioTemplate()}, {}};
  std::vector<std::u16string> boxes, captions;
};

TEST_F(MfcDdx, ValuesGoToTheControlsAndComeBack) {
  DataDlg dlg;
  Steps steps;
  steps.Then([&] {
    HWND h = dlg.m_hWnd;
    EXPECT_EQ(ItemText(h, kName), u"alpha");
    EXPECT_EQ(ItemText(h, kCount), u"-12");
    EXPECT_EQ(ItemText(h, kSize), u"4000000000");
    EXPECT_EQ(IsDlgButtonChecked(h, kCheck), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(SendDlgItemMessageW(h, kCombo, CB_GETCURSEL, 0, 0), 1);
    // Loading applied the DDV limit to the edit.
    EXPECT_EQ(SendDlgItemMessageW(h, kName, EM_GETLIMITTEXT, 0, 0), 8);
    SetDlgItemTextW(h, kName, u"beta");
    SetDlgItemTextW(h, kCount, u" 2147483647 ");
    SetDlgItemTextW(h, kSize, u"0");
    CheckDlgButton(h, kCheck, BST_UNCHECKED);
    SendDlgItemMessageW(h, kCombo, CB_SETCURSEL, 2, 0);
    Click(h, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.name.str(), u"beta");
  EXPECT_EQ(dlg.count, 2147483647);
  EXPECT_EQ(dlg.size, 0u);
  EXPECT_EQ(dlg.check, BST_UNCHECKED);
  EXPECT_EQ(dlg.combo, 2);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(MfcDdx, BadInputKeepsTheDialogOpenWithTheFocusOnTheControl) {
  DataDlg dlg;
  Steps steps;
  struct Case {
    int id;
    const char16_t* text;
    const char16_t* box;
  };
  const std::vector<Case> cases = {
      {kCount, u"12a", u"Please enter an integer."},
      {kCount, u"2147483648", u"Please enter an integer."},  // overflow
      {kSize, u"-1", u"Please enter a positive integer."},
      {kName, u"ninechars", u"Enter no more than 8 characters."},  // typed past the limit by a program
  };
  for (const Case& c : cases) {
    steps.Then([&dlg, c, this] {
      HWND h = dlg.m_hWnd;
      SetDlgItemTextW(h, kName, u"ok");
      SetDlgItemTextW(h, kCount, u"1");
      SetDlgItemTextW(h, kSize, u"1");
      SetDlgItemTextW(h, c.id, c.text);
      size_t before = boxes.size();
      Click(h, IDOK);
      ASSERT_TRUE(IsWindow(h)) << "closed on bad input";
      ASSERT_EQ(boxes.size(), before + 1);
      EXPECT_EQ(boxes.back(), c.box);
      EXPECT_EQ(GetFocus(), GetDlgItem(h, c.id));
    });
  }
  steps.Then([&] { Click(dlg.m_hWnd, IDCANCEL); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  // Values before the failing check were saved; the size never was.
  EXPECT_EQ(dlg.name.str(), u"ninechars");
  EXPECT_EQ(dlg.count, 1);
  EXPECT_EQ(dlg.size, 4000000000u);
}

}  // namespace

namespace {

TEST_F(MfcDdx, RadioGroupsEndAtTheNextGroupAndComboStringsSelectOrType) {
  RadioDlg dlg;
  Steps steps;
  steps.Then([&] {
    HWND h = dlg.m_hWnd;
    EXPECT_EQ(IsDlgButtonChecked(h, kRadio + 2), static_cast<UINT>(BST_CHECKED));
    EXPECT_EQ(IsDlgButtonChecked(h, kRadio), static_cast<UINT>(BST_UNCHECKED));
    EXPECT_EQ(SendDlgItemMessageW(h, kEditable, CB_GETCURSEL, 0, 0), 1);  // an item's text selects it
    // The button of the next group does not count, even when checked.
    CheckRadioButton(h, kRadio, kRadio + 2, kRadio + 1);
    CheckDlgButton(h, kRadio + 3, BST_CHECKED);
    SendDlgItemMessageW(h, kEditable, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SetDlgItemTextW(h, kEditable, u"typed");
    Click(h, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.choice, 1);
  EXPECT_EQ(dlg.pick.str(), u"typed");
}

}  // namespace
