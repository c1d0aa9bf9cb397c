// The main program's frame window: a top-level window titled with the
// application name, the main window of the application object. The menu,
// the command bar and the main property sheet come with a later stage.
#pragma once

#include "ui/Mfc.h"

class CMainFrame : public CFrameWnd {
 public:
  CMainFrame();
  ~CMainFrame() override;
};
