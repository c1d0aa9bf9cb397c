// The Backup page: what to back up (the component tree, bound to the global
// content index, so every check mark is at once the index's selection),
// where (the location, chosen with the save dialog), and the Backup button,
// which fills the global operation descriptor and restarts the device; the
// backup runs after the restart.
#pragma once

#include "app/BitmapButton.h"
#include "app/ComponentTree.h"
#include "app/DynamicDialog.h"
#include "ce/cstring.h"
#include "engine/Operation.h"
#include "image/BackupLocation.h"
#include "image/Index.h"

class CBackupPage : public CDynamicPropertyPage {
 public:
  static constexpr UINT IDD = 200;
  static constexpr UINT kCaptionId = 57679;
  static constexpr int kLocationEditId = 1999;
  static constexpr int kBrowseId = 2000;
  static constexpr int kBackupId = 2001;
  static constexpr int kAnnotationId = 2002;
  static constexpr int kTreeId = 2015;
  static constexpr int kLabelId = 2039;
  static constexpr int kWaitTextId = 2071;
  static constexpr UINT_PTR kTreeTimer = 1;
  static constexpr UINT kTreeTimerMs = 100;
  static constexpr int kMargin = 3;
  static constexpr int kInputPanelShift = 80;  // pixels the controls rise while the panel is up
  static constexpr int kNarrowEditWiden = 30;  // the edit takes the browse button's room

  CBackupPage();

  // Asks for a rebuild of the tree at the next tree decision; on the shown
  // page the decision runs at once. The sheet calls it after the exclusion
  // options changed what a backup leaves out.
  void UpdateTreeState();

  // The sheet swallows Enter while the location edit has the focus.
  bool IsEditFocused() const { return m_bEditHasFocus; }
  const ABackupFilePath& GetLocation() const { return m_Location; }
  const OperationDescriptor& GetDescriptorCopy() const { return m_DescriptorCopy; }
  bool IsTreePopulated() const { return m_bTreePopulated; }
  bool IsShiftedForInputPanel() const { return m_bShifted; }
  CComponentTree& GetTree() { return m_Tree; }

  BOOL OnInitDialog() override;
  BOOL OnSetActive() override;
  BOOL OnKillActive() override;
  // Places the controls for the page's size: the tree on top, the location
  // below it, the annotation and Backup buttons along the bottom.
  virtual BOOL RelayoutDialog();
  BOOL OnOrientationChange() override;

  // Builds the tree from a fresh content index.
  void OnInitTree();
  // The Backup button.
  void OnBackup();
  void OnBrowse();
  void OnAnnotation();

 protected:
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnTimer(UINT_PTR id) override;
  void OnSize(UINT type, int cx, int cy) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  // Where the page meets the rest of the program; tests replace them.
  // Starts the one-shot timer that builds the tree; false when it cannot.
  virtual bool StartTreeTimer();
  // The save dialog on location (name editable, the host allowed when the
  // host link is on, the annotation shown); true when a path was chosen.
  virtual bool RunSaveDialog(ABackupFilePath& location);
  // The reset warning when it is due for this case; false when the user
  // cancelled it.
  virtual bool ConfirmResetWarning(int operationKind);
  // The password dialog for a protected backup; true on OK.
  virtual bool AskPassword();
  // Saves the state and restarts the device (the backup runs after it).
  virtual void ShutdownAndRestart();

 private:
  void DecideTree();
  void StartTreeBuild();
  void SetWaitText();
  void ShowLocation();
  void LoadHostDetails();
  void OnWindowPosChanged();
  void ShiftForInputPanel(bool shown);
  void MoveControl(int id, int dy, int dHeight);
  void EnableControl(int id, bool enable);
  void ShowControl(int id, bool show);
  void FocusBackupButton();
  void LowerInputPanel();
  bool RunBackupSteps();

  CComponentTree m_Tree;
  BitmapButton m_AnnotationButton;  // its template text names its pictures
  CString m_csLocationText;
  Index m_PageList;  // the page's own list, empty as a fresh content index
  OperationDescriptor m_DescriptorCopy;
  ABackupFilePath m_Location;
  UINT_PTR m_nTimer = 0;
  bool m_bEditHasFocus = false;
  bool m_bTreeIsCurrent = true;
  bool m_bInputPanelFrozen = false;
  bool m_bFirstActivation = true;
  bool m_bAnnotationOpen = false;
  bool m_bRebuildRequested = false;
  bool m_bTreePopulated = false;
  bool m_bShifted = false;       // the controls stand 80 pixels up for the input panel
  bool m_bPathSelection = true;  // the AllowBackupPathSelection setting at OnInitDialog
};
