// ui::InitFromEnvironment: the mode from QUILMO_UI, the script from
// QUILMO_UI_SCRIPT.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ui/Loop.h"
#include "win_hooks.h"

namespace ui {

bool InitFromEnvironment() {
  bool ok = true;
  const char* mode = std::getenv("QUILMO_UI");
  if (!mode || !*mode || std::strcmp(mode, "headless") == 0) {
    SetMode(Mode::Headless);
  } else if (std::strcmp(mode, "screen") == 0) {
    SetMode(Mode::Screen);
  } else {
    std::fprintf(stderr, "QUILMO_UI: unknown mode \"%s\" (headless or screen)\n", mode);
    SetMode(Mode::Headless);
    ok = false;
  }
  const char* script = std::getenv("QUILMO_UI_SCRIPT");
  if (script && *script && !detail::LoadScriptFromEnvironment()) ok = false;
  return ok;
}

}  // namespace ui
