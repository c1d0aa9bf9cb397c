// the Basic page: one-tap backup and one-tap restore of the newest image.
#pragma once

#include "app/DynamicDialog.h"

class CBasicPage : public CDynamicPropertyPage {
 public:
  static constexpr UINT IDD = 314;
  CBasicPage();
};
