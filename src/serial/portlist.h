// The system's serial ports as a list of names the port component can open.
#pragma once

#include "serial/serialselect.h"

namespace serial {

// Replaces the content of list with the names of the system's ports, sorted without regard to
// case; when the system's list cannot be read, list is left as it is.
void ListSerialPorts(TStrings& list);

}  // namespace serial
