#include "pages/BasicPage.h"

CBasicPage::CBasicPage() : CDynamicPropertyPage(IDD) {}
