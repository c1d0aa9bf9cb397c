// Bases of every dialog and property page of the program. They fit the
// window to the handheld's screen: the application name as title, the
// standard buttons laid out for portrait or landscape and again when the
// screen turns, the title separator and colour, text measuring, the help
// viewer and the input panel on edit fields.
#pragma once

#include <set>

#include "ce/cstring.h"
#include "ce/types.h"
#include "ui/Mfc.h"

class AResBitmap;

// Draws a library bitmap into the rectangle of a window's control (a
// picture frame); nothing for a missing control or an empty bitmap.
void DrawBitmapOverControl(CDC& dc, CWnd& owner, int controlId, const AResBitmap& bitmap);

class CDynamicDialog : public CDialog {
 public:
  static constexpr COLORREF kTitleColour = 0x960000;  // RGB(0, 0, 0x96)
  static constexpr int kTitleControlId = 2128;
  static constexpr int kThirdButtonId = 2057;
  static constexpr int kButtonMargin = 3;
  static constexpr int kSeparatorY = 20;      // times the display scale
  static constexpr int kTitleFontWeight = 700;
  static constexpr int kSmallTitleHeight = 13;  // times the scale, AllowSmallFonts
  static constexpr int kLargeTitleHeight = 16;  // times the scale otherwise
  static constexpr int kMaxMeasuredText = 260;
  static constexpr const WCHAR* kDefaultHelpTopic = u"Main_Contents";
  static constexpr const WCHAR* kHelpViewer = u"peghelp.exe";

  // helpTopic null or empty: "Main_Contents". titleStyle: title font, title
  // colour and separator. dynamicLayout: the base lays the buttons out.
  explicit CDynamicDialog(UINT templateId, CWnd* parent = nullptr, LPCWSTR helpTopic = nullptr,
                          bool titleStyle = true, bool dynamicLayout = true);
  ~CDynamicDialog() override;

  // Title = the ApplicationName setting, the title font on control 2128,
  // the button layout (dynamic layout), RelayoutDialog, then the base
  // initialisation (whose result is returned).
  BOOL OnInitDialog() override;
  // Lays the controls out for the current screen. Base: the buttons when
  // dynamic layout is on; TRUE.
  virtual BOOL RelayoutDialog();

  // Starts the help viewer on the dialog's topic: "peghelp.exe" with the
  // Windows folder + the HelpFileName setting + "#" + topic (exactly one
  // backslash between folder and file name). TRUE when it started.
  BOOL ShowHelp();
  // The viewer's argument for a topic (empty: "Main_Contents").
  static CString HelpArgument(const CString& topic);

  // Measures the control's text (up to 260 characters) in its font and
  // fits rect: height = text height + 3; wrap: a text wider than the
  // rectangle's width (minus 20 with an icon) takes two lines (2 x height
  // + 3) and the width stays; no wrap: width = text width + 3 (+ 20 with
  // an icon). rect.bottom = rect.top + height.
  void FitTextHeight(CWnd* control, CRect& rect, bool wrap, bool icon);

  // Lays the standard buttons out (OK, Cancel and the optional 2057) and
  // fills the screen below the title bar; remembers the orientation.
  void LayoutButtons();

  bool IsLandscapeLayout() const { return m_bLandscape; }

 protected:
  // After the base handling: on a turn of the screen RelayoutDialog; a
  // square screen always lays the buttons out again (dynamic layout). The
  // vertical scroll bar style is removed in both cases.
  void OnSettingChange(UINT flags, LPCWSTR section) override;
  // With title style: the separator line at y = 20 x scale.
  void OnPaint() override;
  // The base colours; with title style control 2128 gets kTitleColour.
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor) override;
  // WM_HELP starts the help viewer before the base handling.
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  // Routes EN_SETFOCUS / EN_KILLFOCUS of the registered edit fields to the
  // input panel handlers.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

  // Edit fields whose focus raises (and losing it lowers) the input panel.
  void UseInputPanel(int editId) { m_inputPanelEdits.insert(editId); }
  virtual void OnInputPanelSetFocus(int editId);
  virtual void OnInputPanelKillFocus(int editId);

  CFont m_TitleFont;
  CFont m_Font1;  // for derived dialogs
  CFont m_Font2;
  bool m_bTitleStyle;
  bool m_bDynamicLayout;
  CString m_csHelpTopic;
  bool m_bLandscape = false;
  HBRUSH m_hBrush = nullptr;  // deleted by the destructor when set

 private:
  void CreateTitleFont();
  std::set<int> m_inputPanelEdits;
};

class CDynamicPropertyPage : public CPropertyPage {
 public:
  explicit CDynamicPropertyPage(UINT templateId, UINT captionId = 0);

  // Remembers the orientation, title = ApplicationName, the orientation
  // hook, then the base initialisation.
  BOOL OnInitDialog() override;
  // Removes the vertical scroll bar style, invalidates the page and calls
  // the orientation hook of this base.
  virtual BOOL RelayoutPage();
  // Called when the page meets a new orientation. Base: TRUE.
  virtual BOOL OnOrientationChange();

  bool IsLandscapeLayout() const { return m_bLandscape; }

 protected:
  // After the base handling: unless the screen is square, a turn calls the
  // orientation hook and removes the vertical scroll bar style; the
  // orientation is always remembered.
  void OnSettingChange(UINT flags, LPCWSTR section) override;

  bool m_bLandscape = false;
};
