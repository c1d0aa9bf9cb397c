// The network share manager (template 250): the shares connected on the
// device, each a folder below the network folder ("\" + string 65312);
// Connect runs the platform's network connection dialog, Disconnect
// cancels the selected share's connection and forgets its record.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "ui/ListCtrl.h"

class CNetworkShareManagerDlg : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 250;
  static constexpr int kListId = 2076;
  static constexpr int kConnectButtonId = 2075;
  static constexpr int kDisconnectButtonId = 2080;
  static constexpr int kColumnWidth = 105;
  static constexpr int kListWidth = 210;

  explicit CNetworkShareManagerDlg(CWnd* parent = nullptr);

  // The one-time hint (65311) was shown in this run of the program.
  static bool HintShown();
  static void ResetHintForTest();

  // Copies of the selected row's two columns.
  CString m_csShareName;
  CString m_csRemoteName;

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  BOOL RelayoutDialog() override;

 private:
  void FillList();
  void UpdateSelection();
  void OnConnect();
  void OnDisconnect();
  CString NetworkFolder() const;

  CListCtrl m_List;  // attached to 2076
};
