// The about box (template 100): application name, edition, version, the
// vendor's link and the product's link, and a button that opens the
// version details dialog.
#pragma once

#include "app/DynamicDialog.h"
#include "app/HyperLink.h"
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
  const CString& GetProductUrl() const { return m_ProductLink.GetURL(); }
  const CString& GetVendorUrl() const { return m_VendorLink.GetURL(); }
  // The product's link (2122) and the vendor's (2121): they open
  // themselves when tapped and keep whether they were opened.
  const CHyperLink& ProductLink() const { return m_ProductLink; }
  const CHyperLink& VendorLink() const { return m_VendorLink; }

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
  void SetProductLink();

  CHyperLink m_ProductLink;
  CHyperLink m_VendorLink;
  CFont m_NameFont;
  CFont m_EditionFont;
  CFont m_NormalFont;
  CFont m_TextFont;
  bool m_bVersionShown = false;
};
