// Line configuration of a tty through the kernel's termios2: a complete raw termios with exact
// speeds (BOTHER), read back. Kept apart: <asm/termbits.h> and <termios.h> cannot meet.
#pragma once

#include <cstdint>

namespace comm::tty {

// What SetCommState asks of the line.
struct LineSetup {
  uint32_t speed = 9600;
  int dataBits = 8;
  uint8_t parity = 0;        // NOPARITY ... SPACEPARITY
  bool extraStop = false;    // CSTOPB: 2 stop bits, or 1.5 with 5 data bits
  bool rtsCts = false;       // CRTSCTS
  bool xonOut = false;       // IXON: output obeys XON/XOFF from the far end
  bool xonIn = false;        // IXOFF: the kernel paces input with XON/XOFF
  uint8_t xonChar = 17, xoffChar = 19;
  bool checkParity = false;  // INPCK
  bool markErrors = false;   // PARMRK: breaks and bad bytes marked in the byte stream
};

// What the driver made of it.
struct LineState {
  uint32_t outSpeed = 0, inSpeed = 0;
  int dataBits = 8;
  uint8_t parity = 0;
  bool extraStop = false;
  bool rtsCts = false;
};

// A copy of the kernel's record, to put a refused configuration back.
struct SavedLine {
  alignas(8) unsigned char bytes[64];
};

// Each returns 0 or the errno of the failing ioctl.
int SaveLine(int fd, SavedLine& saved);
int RestoreLine(int fd, const SavedLine& saved);
// Writes a complete raw termios for setup (VMIN 1, VTIME 0, CREAD, CLOCAL, HUPCL).
int SetRawLine(int fd, const LineSetup& setup);
int ReadLine(int fd, LineState& state);
// Raw mode keeping the device's speed and character format: the state before SetCommState.
int MakeRawKeepingFormat(int fd, bool markErrors);

}  // namespace comm::tty
