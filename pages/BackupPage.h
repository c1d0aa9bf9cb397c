// the Backup page: what to back up, where, and the Backup button.
#pragma once

#include "app/DynamicDialog.h"

class CBackupPage : public CDynamicPropertyPage {
 public:
  static constexpr UINT IDD = 200;
  CBackupPage();
};
