// The personal-information agent dialog (template 251): one check box that
// turns the agent program on (started now and at every boot) or off (asked
// first, then both agent programs are told to quit).
#pragma once

#include "app/DynamicDialog.h"
#include "engine/CorvaneIF.h"

class CPIMPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 251;
  static constexpr const WCHAR* kHelpTopic = u"pim";
  static constexpr int kExplanationId = 2096;
  static constexpr int kAgentOnId = 2095;

  explicit CPIMPage(CWnd* parent = nullptr);

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  void OnAgentClicked();

  ACorvaneIF m_Corvane;
};

// For the main sheet's menu: the dialog, modally; its end (IDOK, or -1
// when it could not be made).
INT_PTR RunPIMDialog(CWnd* parent);
