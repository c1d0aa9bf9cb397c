// Internal: which keys may have a hold (a row of the share table in
// device.db), known across processes without reading device.db.
//
// A small table shared by every process of a device ("files.holds" in the
// device folder, mapped into memory) has one byte per bucket of keys. A
// hold marks its key's bucket before its row is written, and marks are
// never cleared: a released hold's bucket only costs the keys that fall in
// it a read of device.db. The table is made from the share table's rows
// before it gets its name, so a device whose rows predate it loses none.
//
// An open that checks its key's bucket under the file's guard, and finds it
// clear, knows that no hold of the key exists: a hold of an existing file
// is marked before its guard is taken (RegisterOpen). Like the tree lock's
// file, the table is opened once per device object, so a device folder is
// taken to stay in place while a process uses it.
#pragma once

#include <string>

#include "cesim/device.h"

namespace ce::filestate {

// Marks key's bucket; false when the table cannot be had or made (no hold
// may be made then).
bool MarkHold(Device* dev, const std::u16string& key);
// Whether key may have a hold: false only when its bucket is clear; true
// when the table cannot be had.
bool MayHaveHold(Device* dev, const std::u16string& key);

}  // namespace ce::filestate
