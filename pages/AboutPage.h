// The about box (template 100): application name, edition, version, the
// vendor's link and the product's link, and a button that opens the
// version details dialog.
#pragma once

#include "app/DynamicDialog.h"
#include "ce/cstring.h"

class CAboutPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 100;
  static constexpr int kNameId = 2116;
  static constexpr int kEditionId = 2119;
  static constexpr int kVersionId = 2117;
  static constexpr int kVendorLabelId = 2070;
  static constexpr int kVendorLinkId = 2121;
  static constexpr int kScreenVersionId = 2035;
  static constexpr int kTextId = 2123;
  static constexpr int kProductLinkId = 2122;
  static constexpr int kVersionButtonId = 2215;
  static constexpr COLORREF kNameColour = 0xA00000;
  static constexpr COLORREF kScreenVersionColour = 0x0000A0;

  explicit CAboutPage(CWnd* parent = nullptr);

  // The links' targets as set at the start.
  const CString& GetProductUrl() const { return m_csProductUrl; }
  const CString& GetVendorUrl() const { return m_csVendorUrl; }

  // Runs the version details dialog modally.
  virtual void ShowVersion();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) override;
  void OnPaint() override;

 private:
  void CreateFonts();
  void SetTexts();
  void SetVendorLink();
  // Opens a link through the shell; true when the shell took it.
  bool OpenLink(const CString& url);

  CFont m_NameFont;
  CFont m_EditionFont;
  CFont m_NormalFont;
  CFont m_TextFont;
  bool m_bProductLinkVisited = false;
  bool m_bVendorLinkVisited = false;
  bool m_bVersionShown = false;
  CString m_csProductUrl;
  CString m_csVendorUrl;
};
