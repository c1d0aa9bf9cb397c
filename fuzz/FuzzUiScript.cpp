// Fuzz entry point of the UI script reader: the input is a script file.
// A parse either yields steps whose fields are in their ranges or an error
// naming a line of the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ui/Automation.h"

int FuzzUiScript(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<ui::test::ScriptStep> steps;
  std::string error;
  if (!ui::test::ParseScript(text, &steps, &error)) {
    if (error.rfind("line ", 0) != 0 || !steps.empty()) abort();
    return 0;
  }
  if (!error.empty()) abort();
  int last = 0;
  for (const auto& s : steps) {
    if (s.line <= last || s.id < 0 || s.id > 0x7FFFFFFF || s.value < 0) abort();
    last = s.line;
  }
  return 0;
}
