// Hooks between the loop modes (win_*.cpp) and the UI scripts (auto_*.cpp).
#pragma once

namespace ui::detail {

// Reads the UI script named by QUILMO_UI_SCRIPT (when set), installs it as
// the idle driver and sets Mode::Script. True when the variable is unset or
// the script was loaded; false (message on stderr) when it cannot be read.
bool LoadScriptFromEnvironment();

}  // namespace ui::detail
