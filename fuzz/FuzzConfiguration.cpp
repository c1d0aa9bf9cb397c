// Fuzz entry point of the XML configuration loader. No device: the
// document loads from memory and the registry writes fail, so only the
// reading and the conversion of the items run in full.
#include <cstddef>
#include <cstdint>

#include "core/Configuration.h"

int FuzzConfiguration(const uint8_t* data, size_t size) {
  AConfiguration config(u"\\Quilmo Backup", u"\\fuzz.xml", 0);
  if (!config.LoadBytes(data, size)) {
    config.GetError();
    return 0;
  }
  size_t bytes = 0;
  for (const auto& item : config.GetItems()) bytes += item->bytes.size() + item->name.GetLength();
  (void)bytes;
  config.WriteToRegistry();
  return 0;
}
