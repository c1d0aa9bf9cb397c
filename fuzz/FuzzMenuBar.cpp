// Fuzz entry point of the menu-bar resource reader: any bytes either fail
// cleanly or parse to a bar within the reader's limits whose canonical form
// reads back to the same canonical form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ce/menubar.h"

namespace {

// Items within the limits a parsed bar promises.
bool WithinLimits(const std::vector<ce::MenuTemplateItem>& items, int depth) {
  if (depth > ce::kMaxMenuDepth || items.size() > ce::kMaxMenuItems) return false;
  for (const auto& i : items) {
    if (i.kind != ce::MenuTemplateItem::Kind::Popup && !i.items.empty()) return false;
    if (i.kind == ce::MenuTemplateItem::Kind::Popup && !WithinLimits(i.items, depth + 1)) return false;
  }
  return true;
}

}  // namespace

int FuzzMenuBar(const uint8_t* data, size_t size) {
  ce::MenuBarTemplate bar;
  std::string error;
  if (!ce::ParseMenuBarTemplate(data, size, &bar, &error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (bar.buttons.size() > ce::kMaxMenuBarButtons) std::abort();
  for (const auto& b : bar.buttons)
    if (!WithinLimits(b.items, 1) || (!b.items.empty() && !b.hasMenu)) std::abort();
  const std::string canonical = ce::FormatMenuBarTemplate(bar);
  ce::MenuBarTemplate back;
  if (!ce::ParseMenuBarTemplate(canonical.data(), canonical.size(), &back, &error)) std::abort();
  if (ce::FormatMenuBarTemplate(back) != canonical) std::abort();
  return 0;
}
