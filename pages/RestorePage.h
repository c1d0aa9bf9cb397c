// the Restore page: the image to restore from, what to restore, and the Restore button.
#pragma once

#include "app/DynamicDialog.h"

class CRestorePage : public CDynamicPropertyPage {
 public:
  static constexpr UINT IDD = 201;
  CRestorePage();
};
