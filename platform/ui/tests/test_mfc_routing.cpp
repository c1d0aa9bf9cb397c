// CWnd/CDialog message routing: handlers, results through the dialog
// procedure, modal results, pre-translation in modal loops, handle maps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mfc_test_support.h"

namespace {

using namespace mfctest;

constexpr int kTemplate = 600, kEdit = 100, kButton = 101;

ce::DialogTemplate RoutingTemplate() {
  return Dlg(kTemplate, 200, 120, u"Routing",
             {Ctl(kEdit, u"EDIT", 4, WS_TABSTOP | ES_AUTOHSCROLL), Ctl(kButton, u"BUTTON", 20, WS_TABSTOP, u"Go"),
              Ctl(IDOK, u"BUTTON", 40, BS_DEFPUSHBUTTON | WS_TABSTOP, u"OK"),
              Ctl(IDCANCEL, u"BUTTON", 60, WS_TABSTOP, u"Cancel")});
}

class RoutingDlg : public CDialog {
 public:
  RoutingDlg() : CDialog(kTemplate) {}
  std::vector<std::string> log;
  HWND hwndSeen = nullptr;
  bool consumeEscape = false;
  int keyDowns = 0;
  BOOL OnInitDialog() override {
    hwndSeen = m_hWnd;
    log.push_back("init");
    SetTimer(5, 100);
    return CDialog::OnInitDialog();
  }
  BOOL OnCommand(WPARAM w, LPARAM l) override {
    if (LOWORD(w) == kButton && HIWORD(w) == BN_CLICKED) {
      log.push_back("button");
      return TRUE;
    }
    return CDialog::OnCommand(w, l);
  }
  BOOL OnNotify(WPARAM, LPARAM l, LRESULT* result) override {
    log.push_back("notify " + std::to_string(reinterpret_cast<NMHDR*>(l)->code));
    *result = 42;
    return TRUE;
  }
  void OnTimer(UINT_PTR id) override {
    log.push_back("timer " + std::to_string(id));
    KillTimer(id);
  }
  void OnSettingChange(UINT flags, LPCWSTR section) override {
    log.push_back("setting " + std::to_string(flags) + (section != nullptr && section[0] == u'x' ? " x" : ""));
  }
  BOOL OnHelpInfo(HELPINFO* info) override {
    log.push_back("help " + std::to_string(info->iCtrlId));
    return TRUE;
  }
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) override {
    log.push_back("ctlcolor " + std::to_string(kind) + (wnd != nullptr && wnd->GetDlgCtrlID() == kEdit ? " edit" : ""));
    if (dc != nullptr) dc->SetBkMode(TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH));
  }
  void OnOK() override {
    log.push_back("ok");
    CDialog::OnOK();
  }
  void OnDestroy() override {
    log.push_back("destroy");
    CDialog::OnDestroy();
  }
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_KEYDOWN) {
      ++keyDowns;
      if (consumeEscape && msg->wParam == VK_ESCAPE) return TRUE;
    }
    return CDialog::PreTranslateMessage(msg);
  }
};

class MfcRouting : public ::testing::Test {
 protected:
  quilmo::test::TestDevice device;
  ResourceModule res{device, {RoutingTemplate()}, {}};
};

TEST_F(MfcRouting, MessagesReachTheirHandlersAndResultsComeBack) {
  RoutingDlg dlg;
  Steps steps;
  LRESULT notifyResult = 0, ctlColor = 0;
  steps.Then([&] { Click(dlg.m_hWnd, kButton); })
      .Then([&] {
        NMHDR hdr{GetDlgItem(dlg.m_hWnd, kEdit), kEdit, 1234u};
        notifyResult = SendMessageW(dlg.m_hWnd, WM_NOTIFY, kEdit, reinterpret_cast<LPARAM>(&hdr));
        SendMessageW(dlg.m_hWnd, WM_SETTINGCHANGE, 3, reinterpret_cast<LPARAM>(u"x"));
        HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, kEdit, nullptr, 0, {0, 0}};
        SendMessageW(dlg.m_hWnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        HDC dc = GetDC(dlg.m_hWnd);
        ctlColor = SendMessageW(dlg.m_hWnd, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc),
                                reinterpret_cast<LPARAM>(GetDlgItem(dlg.m_hWnd, kEdit)));
        EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
        ReleaseDC(dlg.m_hWnd, dc);
      })
      .WaitFor([&] { return !dlg.log.empty() && dlg.log.back() == "timer 5"; })
      .Then([&] { Click(dlg.m_hWnd, IDOK); });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(notifyResult, 42);  // through DWL_MSGRESULT
  EXPECT_EQ(ctlColor, reinterpret_cast<LRESULT>(GetStockObject(HOLLOW_BRUSH)));
  // The timer fired once while the loop waited (the clock jumped to it).
  std::vector<std::string> want{"init",     "button",          "notify 1234", "setting 3 x", "help 100",
                                "ctlcolor 1 edit", "timer 5", "ok",          "destroy"};
  EXPECT_EQ(dlg.log, want);
  // Detached once the window is gone.
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(CWnd::FromHandlePermanent(dlg.hwndSeen), nullptr);
}

TEST_F(MfcRouting, EndDialogResultAndStallCancel) {
  class Ender : public CDialog {
   public:
    Ender() : CDialog(kTemplate) {}
    LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
      if (msg == WM_APP + 1) {
        EndDialog(static_cast<int>(w));
        return 0;
      }
      return CDialog::WindowProc(msg, w, l);
    }
    BOOL OnInitDialog() override {
      PostMessage(WM_APP + 1, 77);
      return CDialog::OnInitDialog();
    }
  } ender;
  EXPECT_EQ(ender.DoModal(), 77);

  // Nothing drives the dialog: the loop stalls and the dialog is cancelled.
  RoutingDlg idle;
  Steps steps;
  EXPECT_EQ(idle.DoModal(), IDCANCEL);
  EXPECT_GE(steps.stalls, 1);

  CDialog missing(999);
  EXPECT_EQ(missing.DoModal(), -1);
}

TEST_F(MfcRouting, PreTranslateSeesKeysOfChildrenBeforeTheDialogManager) {
  RoutingDlg dlg;
  dlg.consumeEscape = true;
  Steps steps;
  steps.Then([&] { PostMessageW(GetDlgItem(dlg.m_hWnd, kEdit), WM_KEYDOWN, VK_ESCAPE, 0); })
      .Then([&] {
        // Escape was consumed: the dialog is still up.
        EXPECT_TRUE(IsWindow(dlg.m_hWnd));
        PostMessageW(GetDlgItem(dlg.m_hWnd, kEdit), WM_KEYDOWN, VK_RETURN, 0);
      });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.keyDowns, 2);
}

TEST_F(MfcRouting, FromHandleGivesPermanentObjectsOrStableTemporaries) {
  EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
  RoutingDlg dlg;
  Steps steps;
  steps.Then([&] {
    EXPECT_EQ(CWnd::FromHandle(dlg.m_hWnd), &dlg);
    EXPECT_EQ(CWnd::FromHandlePermanent(dlg.m_hWnd), &dlg);
    HWND edit = GetDlgItem(dlg.m_hWnd, kEdit);
    CWnd* temp = CWnd::FromHandle(edit);
    ASSERT_NE(temp, nullptr);
    EXPECT_EQ(dlg.GetDlgItem(kEdit), temp);  // the same wrapper again
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), nullptr);
    temp->SetWindowText(u"via temp");
    EXPECT_EQ(ItemText(dlg.m_hWnd, kEdit), u"via temp");
    EXPECT_EQ(temp->GetParent(), &dlg);
    // Attaching a real object replaces the temporary.
    CEdit edit2;
    ASSERT_TRUE(edit2.SubclassDlgItem(kEdit, &dlg));
    EXPECT_EQ(CWnd::FromHandle(edit), &edit2);
    EXPECT_EQ(temp->GetDlgCtrlID(), kEdit);  // the old wrapper stays usable until idle clean-up
    EXPECT_FALSE(CWnd().SubclassWindow(edit));  // bound already
    edit2.UnsubclassWindow();
    EXPECT_EQ(CWnd::FromHandlePermanent(edit), nullptr);
    Click(dlg.m_hWnd, IDCANCEL);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  AfxDeleteTempObjects();  // the edit is gone: its wrapper is dropped without harm
}

// A subclassed control sees its messages first and passes the rest on.
class CountingEdit : public CEdit {
 public:
  int chars = 0;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_CHAR) {
      ++chars;
      if (w == u'x') return 0;  // swallowed
    }
    return CEdit::WindowProc(msg, w, l);
  }
};

class ControlDlg : public CDialog {
 public:
  ControlDlg() : CDialog(kTemplate) {}
  CountingEdit edit;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, kEdit, edit); }
};

TEST_F(MfcRouting, DdxControlSubclassesAndDetachesWithTheDialog) {
  ControlDlg dlg;
  Steps steps;
  steps.Then([&] {
    ASSERT_NE(dlg.edit.m_hWnd, nullptr);
    dlg.edit.SetWindowText(u"");
    SendMessageW(dlg.edit.m_hWnd, WM_CHAR, u'a', 0);
    SendMessageW(dlg.edit.m_hWnd, WM_CHAR, u'x', 0);
    SendMessageW(dlg.edit.m_hWnd, WM_CHAR, u'b', 0);
    CString text;
    dlg.edit.GetWindowText(text);
    EXPECT_EQ(text.str(), u"ab");
    dlg.edit.LimitText(7);
    EXPECT_EQ(dlg.edit.GetLimitText(), 7u);
    Click(dlg.m_hWnd, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.edit.chars, 3);
  EXPECT_EQ(dlg.edit.m_hWnd, nullptr);
}

}  // namespace

namespace {

// A window of the class library's own class: creation, painting, focus,
// closing.
class OwnWnd : public CWnd {
 public:
  std::vector<std::string> log;
  int OnCreate(LPCREATESTRUCTW cs) override {
    log.push_back("create " + std::to_string(cs != nullptr && m_hWnd != nullptr));
    return CWnd::OnCreate(cs);
  }
  void OnPaint() override {
    log.push_back("paint");
    CWnd::OnPaint();  // validates
  }
  void OnSetFocus(CWnd* old) override {
    log.push_back("setfocus");
    (void)old;
    CWnd::OnSetFocus(old);
  }
  void OnKillFocus(CWnd* next) override {
    log.push_back(std::string("killfocus ") + (next != nullptr && next->GetDlgCtrlID() == 9 ? "to 9" : "?"));
    CWnd::OnKillFocus(next);
  }
  void OnDestroy() override {
    log.push_back("destroy");
    CWnd::OnDestroy();
  }
  void PostNcDestroy() override { log.push_back("gone"); }
};

TEST(MfcOwnWindow, CreatePaintFocusAndCloseReachTheObject) {
  quilmo::test::TestDevice device;
  OwnWnd top;
  ASSERT_TRUE(top.CreateEx(0, nullptr, u"own", WS_POPUP | WS_VISIBLE, CRect(0, 0, 100, 100), nullptr, 0));
  EXPECT_EQ(CWnd::FromHandlePermanent(top.m_hWnd), &top);
  OwnWnd child;
  ASSERT_TRUE(child.Create(nullptr, u"child", WS_CHILD | WS_VISIBLE, CRect(0, 0, 10, 10), &top, 8));
  CEdit other;
  ASSERT_TRUE(other.Create(WS_VISIBLE, CRect(0, 20, 50, 40), &top, 9));
  EXPECT_EQ(other.GetStyle() & WS_CHILD, static_cast<DWORD>(WS_CHILD));

  top.Invalidate();
  top.UpdateWindow();
  top.UpdateWindow();  // validated by the first paint: no second one
  child.SetFocus();
  other.SetFocus();
  EXPECT_EQ(CWnd::GetFocus(), &other);

  // WM_CLOSE's default destroys the window; both objects are detached.
  top.SendMessage(WM_CLOSE);
  EXPECT_EQ(top.m_hWnd, nullptr);
  EXPECT_EQ(child.m_hWnd, nullptr);
  EXPECT_EQ(other.m_hWnd, nullptr);
  std::vector<std::string> wantTop{"create 1", "paint", "destroy", "gone"};
  EXPECT_EQ(top.log, wantTop);
  std::vector<std::string> wantChild{"create 1", "setfocus", "killfocus to 9", "destroy", "gone"};
  EXPECT_EQ(child.log, wantChild);
}

}  // namespace
