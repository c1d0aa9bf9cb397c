// Internals shared by the loop, message-box and screen-file parts of the
// window layer (win_*.cpp).
#pragma once

#include "ce/msgbox.h"

namespace ui::detail {

// Installs the layer's idle behaviour into GetMessageW (once).
void EnsureInstalled();
// The message-box service of screen mode: the box as a modal window.
int WindowMessageBox(const ce::MessageBoxRequest& request);
// Writes DIR/screen.xml when the model changed since the last write.
void UpdateScreenFile();

}  // namespace ui::detail
