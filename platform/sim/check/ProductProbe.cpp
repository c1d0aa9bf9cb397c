// Compiled only by the test product_include_path_refuses_simulator_controls,
// with the product libraries' include path: the include below must fail.
#include "cesim/device.h"

int ProductProbe() { return ce::Device::Current() != nullptr; }
