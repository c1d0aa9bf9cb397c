#include "postboot/HalveyShell.h"

#include "postboot/HalveyFormat.h"

void WaitForReadyEvents() {
  // The device keeps no named events yet: none of them can be opened, so
  // there is nothing to wait for.
}

bool AddHalveyBubble(const HalveyBubble&) {
  // The device's shell shows no bubbles yet.
  return false;
}
