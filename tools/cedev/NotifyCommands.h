// cedev notify: the device's user notifications seen through the device API.
//   notify DIR list           every notification, in registration order
//   notify DIR clear HANDLE   removes one (HANDLE decimal, or hex with 0x)
#pragma once

namespace cedev {

// argv as main's: "cedev" "notify" DIR VERB ...; the device is open already.
int CmdNotify(int argc, char** argv);

}  // namespace cedev
