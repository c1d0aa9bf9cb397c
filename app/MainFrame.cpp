#include "app/MainFrame.h"

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() = default;
