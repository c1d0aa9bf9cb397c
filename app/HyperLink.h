// CHyperLink: a static text that behaves as a link. Its text colour tells
// whether it was opened and whether the pointer is over it; a tap opens its
// URL with the shell's "open" (on a Pocket PC; other platforms open nothing
// and count that as done). The parent's WM_CTLCOLORSTATIC and STN_CLICKED
// reach the link (OnChildNotify).
#pragma once

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/Mfc.h"

class CHyperLink : public CStatic {
 public:
  static constexpr COLORREF kLinkColour = 0xEE0000;     // not opened yet
  static constexpr COLORREF kVisitedColour = 0x8B1A55;  // opened
  static constexpr COLORREF kHoverColour = 0x0000FF;    // pointer over it
  static constexpr UINT_PTR kHoverTimer = 100;
  static constexpr UINT kHoverMs = 100;
  // Underline modes.
  static constexpr int kUnderlineAlways = 1;
  static constexpr int kUnderlineNever = 0;
  static constexpr int kUnderlineHover = -1;
  static constexpr const WCHAR* kPocketPC = u"PocketPC";
  static constexpr const WCHAR* kOpenFailedText = u"Unable to open hyperlink:\n\n";
  static constexpr const WCHAR* kOutOfResourcesText = u"The operating system is out\nof memory or resources.";

  CHyperLink() = default;
  ~CHyperLink() override = default;

  // Subclasses control `id` of parent: adds the notify style, takes the
  // window text as URL when none is set (and the URL as text when the
  // control has none), makes the normal and underlined fonts, fits the
  // window to its text and applies the underline mode.
  BOOL Attach(UINT id, CWnd* parent);

  void SetURL(const CString& url);
  const CString& GetURL() const { return m_csURL; }
  // 1 always underlined, 0 never, -1 only while the pointer is over it.
  void SetUnderline(int mode);
  int GetUnderline() const { return m_nUnderline; }
  void SetLinkCursor(HCURSOR cursor) { m_hLinkCursor = cursor; }
  void SetVisited(bool visited);
  bool IsVisited() const { return m_bVisited; }
  bool IsOver() const { return m_bOverControl; }
  // The text colour of the current state.
  COLORREF TextColour() const;
  // Whether the underlined font is the one in use.
  bool IsUnderlined() const { return m_bUnderlinedInUse; }

  // What a tap does: opens the URL; success marks the link visited,
  // failure beeps and shows the failure box. TRUE on success.
  BOOL OnClicked();
  // Opens a URL as a link does: on a platform whose type is not
  // "PocketPC" nothing is opened and that counts as success.
  static BOOL GotoURL(const CString& url, int showCommand);

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void MakeFonts();
  void UseFont(bool underlined);
  // Fits the window to its text, keeping the alignment (left, centre or
  // right; vertical centring).
  void PositionWindow();
  void OnPointerMove(POINT client);
  void OnHoverTimer();

  COLORREF m_crLinkColour = kLinkColour;
  COLORREF m_crVisitedColour = kVisitedColour;
  COLORREF m_crHoverColour = kHoverColour;
  bool m_bOverControl = false;
  bool m_bVisited = false;
  int m_nUnderline = kUnderlineHover;
  CString m_csURL;
  CFont m_NormalFont;
  CFont m_UnderlineFont;
  HCURSOR m_hLinkCursor = nullptr;
  UINT_PTR m_nTimerID = kHoverTimer;
  bool m_bUnderlinedInUse = false;
  // The pointer's last position over the device seen by the link (client
  // coordinates): there is no pointer position to ask for, so the hover
  // ends when the pointer was last seen outside, or lifted.
  POINT m_LastPointer{-1, -1};
};
