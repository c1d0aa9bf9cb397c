// The desktop host connection (template 248): whether backups may go to the
// desktop host, whether the host is the PPP peer or a named host, and its
// TCP port; the test button tries a connection. Edits the program's remote
// options and saves them on OK.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"

class CConnectionPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 248;
  static constexpr int kHostEditId = 2085;
  static constexpr int kPortEditId = 2093;
  static constexpr int kDefaultPortCheckId = 2107;
  static constexpr int kEnabledCheckId = 2078;
  static constexpr int kMethodComboId = 2053;
  static constexpr int kHostLabelId = 2088;
  static constexpr int kTestButtonId = 2115;
  static constexpr int kHostNameMax = 260;
  static constexpr DWORD kTestTimeoutSeconds = 10;

  explicit CConnectionPage(CWnd* parent = nullptr);

  // Members, in order.
  CString m_csHostName;
  UINT m_nPort = 0;
  int m_bUseDefaultPort = TRUE;
  int m_bRemoteEnabled = FALSE;
  int m_bPPPPeer = FALSE;

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;
  void OnPaint() override;

 private:
  void LoadOptions();
  void UpdateStates();
  void OnMethodChanged();
  void OnTest();
};
