// The desktop host connection dialog driven as a user would: the control
// states, the port and host name rules, what OK saves, and the test button
// against the real host service and against a closed port.
#include <chrono>
#include <string>

#include "ce/winsock.h"
#include "hostlink/tests/host_service_process.h"
#include "option_fixture.h"
#include "pages/ConnectionPage.h"
#include "pages/OptionDialogs.h"

namespace {

using namespace optiontest;
using hosttest::HostServiceProcess;

constexpr int kDlg = CConnectionPage::IDD;

class ConnectionPageTest : public OptionDialogTest {
 protected:
  ConnectionPageTest() {
    // The program's start-up brings the socket layer up.
    static const bool started = [] {
      ce::ws::WSADATA data{};
      return ce::ws::WSAStartup(0x0101, &data) == 0;
    }();
    EXPECT_TRUE(started);
    // As the start-up leaves them: loaded from the registry (defaults here).
    global_.g_RemoteOptions.SetDefaults();
    global_.g_RemoteOptions.Load();
  }
};

TEST_F(ConnectionPageTest, StatesFollowTheChecksAndPortsAreClampedWhenTheEditIsLeft) {
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2128), u"Network connection");
    // The host link is off by default: everything below it is grey.
    for (int id : {2107, 2093, 2053, 2085, 2088, 2115}) EXPECT_FALSE(d.IsEnabled(id)) << id;
    EXPECT_EQ(d.Text(2053), u"Connected desktop (PPP peer)");
    EXPECT_EQ(d.Text(2085), u"ppp_peer");
    d.SetCheck(2078, BST_CHECKED);
    EXPECT_TRUE(d.IsEnabled(2115));
    EXPECT_FALSE(d.IsEnabled(2085)) << "the PPP peer needs no name";
    EXPECT_FALSE(d.IsEnabled(2093)) << "default port";
    EXPECT_EQ(d.Text(2093), u"5533");
    d.Select(2053, 1);  // a named host
    EXPECT_TRUE(d.IsEnabled(2085));
    EXPECT_TRUE(d.IsEnabled(2088));
    d.SetCheck(2107, BST_UNCHECKED);
    EXPECT_TRUE(d.IsEnabled(2093));
    d.Focus(2093);
    d.SetText(2093, u"80");
    d.Focus(2085);
    EXPECT_EQ(d.Text(2093), u"1024");
    d.Focus(2093);
    d.SetText(2093, u"99999");
    d.Focus(2085);
    EXPECT_EQ(d.Text(2093), u"65535");
    d.SetText(2085, std::u16string(300, u'h'));
    EXPECT_EQ(d.Text(2085).size(), 260u) << "cut as it is typed";
    d.SetText(2085, u"backup-host");
    d.SetText(2093, u"6000");
    d.Click(IDOK);
  });
  EXPECT_EQ(RunConnectionDialog(nullptr), IDOK);
  for (const auto& f : a.Failures()) ADD_FAILURE() << f;
  EXPECT_EQ(Text(u"csHostName"), "backup-host");
  EXPECT_EQ(Dword(u"dwPort"), 6000);
  EXPECT_EQ(Dword(u"bUseDefaultPort"), 0);
  EXPECT_EQ(Dword(u"bRemoteEnabled"), 1);
  EXPECT_EQ(Dword(u"bMethod"), 0);
}

TEST_F(ConnectionPageTest, PppPeerStoresItsNameWhateverWasTypedAndOffDisablesTheTest) {
  global_.g_RemoteOptions.SetRemoteEnabled(true);
  global_.g_RemoteOptions.SetMethod(false);
  global_.g_RemoteOptions.SetHostName(u"named");
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) {
    EXPECT_EQ(d.Text(2085), u"named");
    EXPECT_EQ(d.Text(2053), u"Desktop computer by name");
    d.SetText(2085, u"typed-host");
    d.Select(2053, 0);
    EXPECT_FALSE(d.IsEnabled(2085));
    d.SetCheck(2078, BST_UNCHECKED);
    EXPECT_FALSE(d.IsEnabled(2115));
    d.Click(IDOK);
  });
  CConnectionPage dlg;
  EXPECT_EQ(Run(dlg, a), IDOK);
  EXPECT_EQ(Text(u"csHostName"), "ppp_peer");
  EXPECT_EQ(Dword(u"bMethod"), 1);
  EXPECT_EQ(Dword(u"bRemoteEnabled"), 0);
  EXPECT_EQ(Dword(u"dwPort"), 5533);
}

TEST_F(ConnectionPageTest, TestConnectsToTheHostServiceAndReportsAClosedPortWithinItsTimeOut) {
  HostServiceProcess host;
  ASSERT_TRUE(host.Started()) << "hostservice not built or did not start";
  global_.g_RemoteOptions.SetRemoteEnabled(true);
  global_.g_RemoteOptions.SetMethod(false);
  global_.g_RemoteOptions.SetHostName(u"127.0.0.1");
  global_.g_RemoteOptions.SetUseDefaultPort(false);
  global_.g_RemoteOptions.SetPort(host.port());
  Automation a;
  a.OnDialog(kDlg, [](Dialog& d) { d.Click(2115); });
  a.ExpectBox(65083, IDOK);  // connected: go on
  a.ExpectBox(65090, IDOK);  // accepted
  a.Do([&](Automation&) { host.Kill(); });
  a.InDialog([](Dialog& d) { d.Click(2115); });
  a.ExpectBox(65087, IDOK);  // nobody listens any more
  a.InDialog([](Dialog& d) { d.Click(IDCANCEL); });
  const auto start = std::chrono::steady_clock::now();
  CConnectionPage dlg;
  EXPECT_EQ(Run(dlg, a), IDCANCEL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << LogText();
  EXPECT_NE(LogText().find("ConnectToHost 127.0.0.1:" + std::to_string(host.port()) + " timeout:10 retries:0 testing:1"),
            std::string::npos)
      << LogText();
  EXPECT_EQ(Dword(u"dwPort"), -1) << "a test saves nothing";
}

}  // namespace
