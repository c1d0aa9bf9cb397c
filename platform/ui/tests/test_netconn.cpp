// The network connect dialog: chosen, typed, cancelled and left unanswered.
#include <gtest/gtest.h>

#include <filesystem>

#include "ce/controls.h"
#include "ce/dialog.h"
#include "ce/netconn.h"
#include "ce/file.h"
#include "cesim/share.h"
#include "testkit/TestDevice.h"
#include "ui/Automation.h"

namespace {

using ui::test::Automation;
using ui::test::Dialog;

class ConnectDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(device.dir() / "desk" / "Images");
    std::filesystem::create_directories(device.dir() / "desk" / "Music");
    ASSERT_TRUE(ce::OfferShare(u"Images", device.dir() / "desk" / "Images"));
    ASSERT_TRUE(ce::OfferShare(u"Music", device.dir() / "desk" / "Music"));
  }
  DWORD Connect() {
    record = NETRESOURCEW{};
    dlg = CONNECTDLGSTRUCTW{sizeof(CONNECTDLGSTRUCTW), nullptr, &record, 0, 0};
    return WNetConnectionDialog1W(&dlg);
  }
  quilmo::test::TestDevice device;
  NETRESOURCEW record{};
  CONNECTDLGSTRUCTW dlg{};
};

TEST_F(ConnectDialogTest, ChosenShareIsConnectedAndTheRecordFilled) {
  Automation a;
  a.OnDialog(ce::kConnectDialogId, [](Dialog& d) {
    EXPECT_TRUE(d.Select(ce::kConnectShareList, 1));  // the list names what may be connected
    EXPECT_EQ(d.Text(ce::kConnectNameEdit), u"\\\\QUILMOHOST\\Music");
    d.Click(IDOK);
  });
  ASSERT_EQ(Connect(), static_cast<DWORD>(NO_ERROR));
  EXPECT_TRUE(a.Done());
  EXPECT_TRUE(a.Failures().empty());
  EXPECT_EQ(std::u16string(record.lpRemoteName), u"\\\\QUILMOHOST\\Music");
  EXPECT_EQ(std::u16string(record.lpLocalName), u"\\Network\\Music");
  EXPECT_EQ(dlg.dwDevNum, 1u);
  EXPECT_EQ(GetFileAttributesW(u"\\Network\\Music"),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY));

  // A connected share is no longer offered; a typed name connects too.
  a.OnDialog(ce::kConnectDialogId, [](Dialog& d) {
    EXPECT_FALSE(d.Select(ce::kConnectShareList, 1));
    d.SetText(ce::kConnectNameEdit, u"images");
    d.Click(IDOK);
  });
  ASSERT_EQ(Connect(), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(dlg.dwDevNum, 2u);
}

TEST_F(ConnectDialogTest, CancelAndUnknownNamesConnectNothing) {
  {
  Automation a;
  a.OnDialog(ce::kConnectDialogId, [](Dialog& d) {
    d.SetText(ce::kConnectNameEdit, u"Images");
    d.Click(IDCANCEL);
  });
  EXPECT_EQ(Connect(), 0xFFFFFFFFu);
  a.OnDialog(ce::kConnectDialogId, [](Dialog& d) {
    d.SetText(ce::kConnectNameEdit, u"\\\\elsewhere\\Images");
    d.Click(IDOK);
  });
  EXPECT_EQ(Connect(), static_cast<DWORD>(ERROR_BAD_NET_NAME));
  EXPECT_EQ(record.lpRemoteName, nullptr);
  for (const ce::ShareState& s : ce::ListShares()) EXPECT_FALSE(s.connected);
  }

  // Nothing answers: the headless loop stalls and the dialog is cancelled.
  EXPECT_EQ(Connect(), 0xFFFFFFFFu);

  CONNECTDLGSTRUCTW bad{sizeof(CONNECTDLGSTRUCTW) - 1, nullptr, &record, 0, 0};
  EXPECT_EQ(WNetConnectionDialog1W(&bad), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(WNetConnectionDialog1W(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
