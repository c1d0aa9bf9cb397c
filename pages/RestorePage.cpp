#include "pages/RestorePage.h"

CRestorePage::CRestorePage() : CDynamicPropertyPage(IDD) {}
