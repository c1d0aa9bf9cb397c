// Fuzz entry point of the screen file reader (what the screen front end
// draws): any bytes either fail with a reason or give a model that keeps
// every limit the renderer relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ui/qt/ScreenModel.h"

namespace {

bool RectOk(int x, int y, int w, int h) {
  const int m = 8 * ui::qt::kMaxScreenSide;
  return x >= -m && x <= m && y >= -m && y <= m && w >= 0 && w <= m && h >= 0 && h <= m;
}

}  // namespace

int FuzzScreenFile(const uint8_t* data, size_t size) {
  using namespace ui::qt;
  const std::string xml(reinterpret_cast<const char*>(data), size);
  ScreenModel m;
  std::string error;
  if (!ParseScreen(xml, &m, &error)) {
    if (error.empty() || !m.windows.empty() || m.width != 0) std::abort();  // a refusal says why, writes nothing
    return 0;
  }
  if (!error.empty()) std::abort();
  if (m.width < 1 || m.width > kMaxScreenSide || m.height < 1 || m.height > kMaxScreenSide) std::abort();
  if (m.workTop < 0 || m.workTop > m.workBottom || m.workBottom > m.height || m.scale < 1) std::abort();
  if (m.windows.size() > kMaxScreenWindows) std::abort();
  size_t controls = 0, items = 0;
  for (const auto& w : m.windows) {
    if (!w.hwnd || !RectOk(w.x, w.y, w.width, w.height)) std::abort();
    controls += w.controls.size();
    for (const auto& c : w.controls) {
      if (!c.hwnd || !RectOk(c.x, c.y, c.width, c.height)) std::abort();
      if (c.checked < 0 || c.checked > 2 || c.curSel < -1) std::abort();
      items += c.items.size();
    }
  }
  if (controls > kMaxScreenControls || items > kMaxScreenItems) std::abort();
  return 0;
}
