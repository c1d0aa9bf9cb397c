// The exclusion options (template 262): whether exclusions apply, three of
// the backup options that exclude (images, programs, storage cards) and the
// user's own list of excluded folders and file types. Works on a copy of
// the backup options block; the caller takes it back on IDOK. The list
// itself is written to its file on OK and the program's list reloaded.
#pragma once

#include "app/DynamicDialog.h"
#include "core/OptionHandlers.h"
#include "image/ExclusionList.h"

class CExclusionOptionsPage : public CDynamicDialog {
 public:
  static constexpr UINT IDD = 262;
  static constexpr int kApplyCheckId = 2059;
  static constexpr int kImagesCheckId = 2148;
  static constexpr int kProgramsCheckId = 2149;
  static constexpr int kCardsCheckId = 2150;
  static constexpr int kListLabelId = 2151;
  static constexpr int kListId = 2114;
  static constexpr int kAddButtonId = 139;
  static constexpr int kRemoveButtonId = 141;
  static constexpr int kDefaultsButtonId = 2057;

  explicit CExclusionOptionsPage(const BackupOptionsBlock& options, CWnd* parent = nullptr);

  // The options as the dialog left them (meaningful after IDOK).
  const BackupOptionsBlock& GetOptions() const { return m_Options; }
  const AExclusionList& GetList() const { return m_List; }

 protected:
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  void OnOK() override;
  void OnPaint() override;
  BOOL RelayoutDialog() override;

 private:
  void FillList();
  void SetStates();
  void OnDefaults();
  void OnAdd();
  void OnRemove();

  BackupOptionsBlock m_Options;
  AExclusionList m_List;
  int m_nItems = 0;
};
