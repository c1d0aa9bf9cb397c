// The about box: its texts from the product settings, the vendor group and
// the screen version shown only when set, the links opened through the
// shell, and the version button.
#include <string>

#include "cesim/msgbox.h"
#include "core/ProductSettings.h"
#include "option_fixture.h"
#include "pages/AboutPage.h"
#include "pages/OptionDialogs.h"

namespace {

using namespace optiontest;

constexpr int kDlg = CAboutPage::IDD;

class AboutPageTest : public OptionDialogTest {
 protected:
  static void SetConfigText(LPCWSTR name, LPCWSTR value) {
    ABackupRegistrySettings config(kConfigKeyKind);
    ASSERT_TRUE(config.WriteString(name, value));
  }
  // A tap on a link (a notifying static).
  static void Tap(Dialog& d, int id) {
    HWND link = d.FindControl(id);
    ASSERT_NE(link, nullptr) << id;
    SendMessageW(link, WM_LBUTTONDOWN, 1, 0);  // left button down
    SendMessageW(link, WM_LBUTTONUP, 0, 0);
  }
  static std::vector<std::string> Opened() {
    std::vector<std::string> out;
    for (const ce::ScreenLogEntry& e : ce::ReadScreenLog())
      if (e.caption == u"open") out.push_back(ce::ToUtf8(e.text));
    return out;
  }
};

TEST_F(AboutPageTest, PlainProductHidesTheVendorGroupAndTheEmptyScreenVersion) {
  global_.g_csProgramVersion = u"2.1.7";
  int versions = 0;
  OptionSeams::SetVersionDialogRunner([&](CWnd*) {
    ++versions;
    return static_cast<INT_PTR>(IDOK);
  });
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2116), u"Quilmo Backup");
    EXPECT_EQ(d.Text(2119), u"Standard edition");
    EXPECT_EQ(d.Text(2117), u"Version 2.1.7");
    EXPECT_FALSE(d.IsVisible(2070));
    EXPECT_FALSE(d.IsVisible(2121));
    EXPECT_FALSE(d.IsVisible(2035));
    EXPECT_EQ(d.Text(2122), u"http://www.quilmo.example/backup");
    Tap(d, 2122);
    d.Click(2215);
    d.Click(IDOK);
  });
  EXPECT_EQ(RunAboutDialog(nullptr), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_EQ(versions, 1) << "the version button opens the version dialog";
  EXPECT_EQ(Opened(), std::vector<std::string>{"http://www.quilmo.example/backup"});
}

TEST_F(AboutPageTest, VendorSettingsShowTheVendorLinkEditionAndScreenVersion) {
  SetConfigDWORD(u"VendorProvidedVersion", 1);
  SetConfigDWORD(u"UseVendorEditionName", 1);
  SetConfigText(u"VendorEditionName", u"Fleet edition");
  SetConfigText(u"VendorUrl", u"https://vendor.example/support");
  SetConfigText(u"AboutScreenVersion", u"Build 77");
  ASSERT_EQ(Utf8(GetVendorUrl().GetString()), "https://vendor.example/support");
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2119), u"Fleet edition");
    EXPECT_TRUE(d.IsVisible(2070));
    EXPECT_EQ(d.Text(2070), u"Provided by:");
    EXPECT_EQ(d.Text(2121), u"https://vendor.example/support");
    EXPECT_TRUE(d.IsVisible(2035));
    EXPECT_EQ(d.Text(2035), u"Build 77");
    Tap(d, 2121);
    d.Click(IDOK);
  });
  CAboutPage dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(dlg.GetVendorUrl(), CString(u"https://vendor.example/support"));
  EXPECT_EQ(Opened(), std::vector<std::string>{"https://vendor.example/support"});
  // Both are links: always underlined, in the link colour until opened.
  EXPECT_TRUE(dlg.VendorLink().IsVisited());
  EXPECT_EQ(dlg.VendorLink().TextColour(), CHyperLink::kVisitedColour);
  EXPECT_FALSE(dlg.ProductLink().IsVisited());
  EXPECT_EQ(dlg.ProductLink().TextColour(), CHyperLink::kLinkColour);
  for (const CHyperLink* link : {&dlg.VendorLink(), &dlg.ProductLink()}) {
    EXPECT_EQ(link->GetUnderline(), CHyperLink::kUnderlineAlways);
    EXPECT_TRUE(link->IsUnderlined());
  }
  EXPECT_EQ(dlg.GetProductUrl(), CString(u"http://www.quilmo.example/backup"));
}

}  // namespace
