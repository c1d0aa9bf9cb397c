// Fuzz entry point of the dialog template reader: any bytes either fail
// cleanly or parse to a template whose canonical form reads back to the
// same canonical form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ce/dlgtemplate.h"

int FuzzDialogTemplate(const uint8_t* data, size_t size) {
  ce::DialogTemplate d;
  std::string error;
  if (!ce::ParseDialogTemplate(data, size, &d, &error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  const std::string canonical = ce::FormatDialogTemplate(d);
  ce::DialogTemplate back;
  if (!ce::ParseDialogTemplate(canonical.data(), canonical.size(), &back, &error)) std::abort();
  if (ce::FormatDialogTemplate(back) != canonical) std::abort();
  return 0;
}
