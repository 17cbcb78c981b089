// The system's list of serial ports, read from the file system alone (no device is opened).
#pragma once

#include <string>
#include <vector>

namespace comm {

// The names of the ports this machine has, in byte order: tty devices of the sysfs tty folder
// that have a "device" link (without legacy 8250 entries whose "type" reads 0), symbolic links
// directly in the device folder that point to a live pseudo-terminal, such links in the start-up
// folder by absolute path, and "LOOPBACK". The folders come from GetDeviceRoots(); a folder that
// cannot be read gives no names. Any thread.
std::vector<std::string> SystemPortNames();

}  // namespace comm
