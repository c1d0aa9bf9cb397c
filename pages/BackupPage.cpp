#include "pages/BackupPage.h"

CBackupPage::CBackupPage() : CDynamicPropertyPage(IDD) {}
