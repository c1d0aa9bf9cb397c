// cedev db: the device's property databases seen through the device API.
//   db DIR volumes                     the mounted volumes
//   db DIR list [VOLUME]               databases (of one store, or of all)
//   db DIR dump VOLUME NAME            one database with its records
//   db DIR digest                      a hash per database
// VOLUME is a volume's device path or "SystemHeap" (the object store);
// --cedb or --edb picks the generation (both when left out).
#pragma once

namespace cedev {

// argv as main's: "cedev" "db" DIR VERB ...; the device is open already.
int CmdDb(int argc, char** argv);

}  // namespace cedev
