// The network share manager driven as a user would: the connected shares
// listed from "\Network", a connection made through the platform's connect
// dialog and one cancelled, the records the redirector keeps, and the
// one-time hint.
#include <filesystem>
#include <string>

#include "ce/netconn.h"
#include "cesim/share.h"
#include "option_fixture.h"
#include "pages/NetworkShareManagerDlg.h"
#include "pages/OptionDialogs.h"

namespace {

using namespace optiontest;
namespace fs = std::filesystem;

constexpr int kDlg = CNetworkShareManagerDlg::IDD;

class NetworkShareTest : public OptionDialogTest {
 protected:
  NetworkShareTest() {
    CNetworkShareManagerDlg::ResetHintForTest();
    for (const char* name : {"Images", "Music"}) {
      fs::create_directories(dev_.dir() / "desk" / name);
      EXPECT_TRUE(ce::OfferShare(ce::FromUtf8(name), dev_.dir() / "desk" / name));
    }
  }
  static long long RegisterRoot() {
    ARegistrySettings redir(u"Comm\\Redir", 5);
    DWORD value = 0;
    return redir.ReadDWORD(u"RegisterFSRoot", value) ? static_cast<long long>(value) : -1;
  }
  static std::string RemoteNameOf(const char16_t* share) {
    ARegistrySettings connection((std::u16string(u"Comm\\Redir\\Connections\\") + share).c_str(), 6);
    CString value;
    return connection.ReadString(u"RemoteName", value) ? ce::ToUtf8(value.GetString()) : "<none>";
  }
};

TEST_F(NetworkShareTest, ConnectListsTheShareWritesTheRootFlagAndDisconnectingTheLastDeletesIt) {
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), u"Network shares");
    EXPECT_EQ(d.ItemText(2076, 0, 0), u"") << "nothing connected yet";
    EXPECT_FALSE(d.IsEnabled(2080));
    d.Click(2075);
  });
  a.OnDialog(ce::kConnectDialogId, [](Dialog& d) {
    d.SetText(ce::kConnectNameEdit, u"Music");
    d.Click(IDOK);
  });
  a.ExpectBox(65311, IDOK);  // the hint, once
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.ItemText(2076, 0, 0), u"Music");
    EXPECT_EQ(d.ItemText(2076, 0, 1), u"\\\\QUILMOHOST\\Music");
    EXPECT_FALSE(d.IsEnabled(2080));
    d.Click(2075);
  });
  a.OnDialog(ce::kConnectDialogId, [](Dialog& d) { d.Click(IDCANCEL); });
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(RegisterRoot(), 1) << "written when the share came";
    d.TapItem(2076, 0);
    EXPECT_TRUE(d.IsEnabled(2080));
    d.Click(2080);
    EXPECT_EQ(d.ItemText(2076, 0, 0), u"");
    EXPECT_FALSE(d.IsEnabled(2080));
    d.Click(IDOK);
  });
  EXPECT_EQ(RunNetworkShareManagerDialog(nullptr), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_EQ(RegisterRoot(), -1) << "the last share gone: the flag goes";
  EXPECT_EQ(RemoteNameOf(u"Music"), "<none>");
  EXPECT_NE(LogText().find("canceled by user"), std::string::npos);
  EXPECT_NE(LogText().find("Deleting network share - Music"), std::string::npos);
  for (const ce::ShareState& s : ce::ListShares()) EXPECT_FALSE(s.connected);
}

TEST_F(NetworkShareTest, AShareWithoutItsRecordShowsNoneAndTheHintShowsOncePerRun) {
  ASSERT_TRUE(ce::ConnectShare(u"Images"));
  ASSERT_TRUE(ce::ConnectShare(u"Music"));
  {
    ARegistrySettings connections(u"Comm\\Redir\\Connections", 6);
    ASSERT_TRUE(connections.DeleteKey(u"Images"));
  }
  Automation a;
  a.ExpectBox(65311, IDOK);
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.FindItem(2076, u"Images"), 0);
    EXPECT_EQ(d.ItemText(2076, 0, 1), u"None");
    EXPECT_EQ(d.ItemText(2076, 1, 1), u"\\\\QUILMOHOST\\Music");
    d.Click(IDOK);
  });
  EXPECT_EQ(RunNetworkShareManagerDialog(nullptr), IDOK);
  EXPECT_TRUE(CNetworkShareManagerDlg::HintShown());
  Automation b;  // a second opening in the same run: no hint
  b.OnDialog(kDlg, [](Dialog& d) { d.Click(IDOK); });
  EXPECT_EQ(RunNetworkShareManagerDialog(nullptr), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  for (const auto& f : b.Failures()) ADD_FAILURE() << f;
  EXPECT_TRUE(b.Boxes().empty());
  EXPECT_NE(LogText().find("Error getting remotename value for: Images"), std::string::npos);
}

}  // namespace
