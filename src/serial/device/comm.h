// The serial device interface: the platform's communications calls, with their records,
// constants and error numbers, over several backends chosen by the device path.
// Every call sets the calling thread's last-error number (rtl::GetLastError) when it fails.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/event.h"
#include "runtime/lasterror.h"

namespace comm {

using HANDLE = uint32_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFF;

// CreateFile arguments.
inline constexpr uint32_t GENERIC_READ = 0x80000000;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t FILE_FLAG_OVERLAPPED = 0x40000000;

// Event mask bits.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;
inline constexpr uint32_t EV_RX80FULL = 0x0400;

// PurgeComm flags.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// EscapeCommFunction functions.
inline constexpr uint32_t SETXOFF = 1;
inline constexpr uint32_t SETXON = 2;
inline constexpr uint32_t SETRTS = 3;
inline constexpr uint32_t CLRRTS = 4;
inline constexpr uint32_t SETDTR = 5;
inline constexpr uint32_t CLRDTR = 6;
inline constexpr uint32_t SETBREAK = 8;
inline constexpr uint32_t CLRBREAK = 9;

// Modem status bits.
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;
inline constexpr uint32_t MS_RING_ON = 0x0040;
inline constexpr uint32_t MS_RLSD_ON = 0x0080;

// Line error bits of ClearCommError.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;
inline constexpr uint32_t CE_TXFULL = 0x0100;
inline constexpr uint32_t CE_IOE = 0x0400;
inline constexpr uint32_t CE_MODE = 0x8000;

// DCB values.
inline constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
inline constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
inline constexpr uint32_t DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                          RTS_CONTROL_TOGGLE = 3;

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFF;

// The device control block: line format, flow control and special characters.
struct DCB {
  uint32_t DCBlength = sizeof(DCB);
  uint32_t BaudRate = 0;
  uint32_t fBinary : 1 = 0;
  uint32_t fParity : 1 = 0;
  uint32_t fOutxCtsFlow : 1 = 0;
  uint32_t fOutxDsrFlow : 1 = 0;
  uint32_t fDtrControl : 2 = 0;
  uint32_t fDsrSensitivity : 1 = 0;
  uint32_t fTXContinueOnXoff : 1 = 0;
  uint32_t fOutX : 1 = 0;
  uint32_t fInX : 1 = 0;
  uint32_t fErrorChar : 1 = 0;
  uint32_t fNull : 1 = 0;
  uint32_t fRtsControl : 2 = 0;
  uint32_t fAbortOnError : 1 = 0;
  uint32_t fDummy2 : 17 = 0;
  uint16_t wReserved = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;
  uint8_t StopBits = 0;
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
  uint16_t wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28);

struct COMMTIMEOUTS {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Queue counts and hold flags of ClearCommError.
struct COMSTAT {
  uint32_t fCtsHold : 1 = 0;
  uint32_t fDsrHold : 1 = 0;
  uint32_t fRlsdHold : 1 = 0;
  uint32_t fXoffHold : 1 = 0;
  uint32_t fXoffSent : 1 = 0;
  uint32_t fEof : 1 = 0;
  uint32_t fTxim : 1 = 0;
  uint32_t fReserved : 25 = 0;
  uint32_t cbInQue = 0;
  uint32_t cbOutQue = 0;
};
// The flag word of a COMSTAT (fCtsHold is bit 0 ... fTxim bit 6).
uint32_t ComStatFlags(const COMSTAT& stat);

class Device;

// The record of one overlapped operation. hEvent is signalled when the operation ends.
// Internal holds ERROR_IO_PENDING while the operation runs, then its error number (0: success);
// InternalHigh the bytes transferred. Destroying a record whose operation is still pending
// cancels that operation first, so the device never writes into a freed record.
struct OVERLAPPED {
  OVERLAPPED() = default;
  ~OVERLAPPED();
  OVERLAPPED(const OVERLAPPED&) = delete;
  OVERLAPPED& operator=(const OVERLAPPED&) = delete;

  std::atomic<uint32_t> Internal{0};
  std::atomic<uint32_t> InternalHigh{0};
  uint32_t Offset = 0;
  uint32_t OffsetHigh = 0;
  rtl::EventHandle hEvent;

  // Set by the device that holds an operation of this record (caller's thread only).
  std::weak_ptr<Device> pendingOn;
};

// --- Device paths ------------------------------------------------------------------------------

// The path that opens the port of this name: "LOOPBACK" for the loopback, "" for an empty name
// (which fails to open with 2), a name starting with "/" as it stands, otherwise the device
// folder (normally "/dev") followed by "/" and the name.
std::string PortPath(std::u16string_view portName);

// Roots of the file system that the layer reads; tests point them at a tree of their own.
struct DeviceRoots {
  std::string sysClassTty = "/sys/class/tty";  // tty devices with their "device" links
  std::string dev = "/dev";                    // device nodes and links to pseudo-terminals
  std::string startDir;                        // the folder the application started in
};
void SetDeviceRoots(const DeviceRoots& roots);
DeviceRoots GetDeviceRoots();

// --- The calls -------------------------------------------------------------------------------

// Opens the device at path. share 0 asks for exclusive use: a second opener gets 5.
// Missing device 2, permission denied 5. Returns INVALID_HANDLE_VALUE on failure.
HANDLE CreateFile(const std::string& path, uint32_t access, uint32_t shareMode, void* security,
                  uint32_t creation, uint32_t flags, HANDLE templateFile);
bool CloseHandle(HANDLE h);

bool SetupComm(HANDLE h, uint32_t inQueue, uint32_t outQueue);
bool GetCommState(HANDLE h, DCB* dcb);
bool SetCommState(HANDLE h, const DCB* dcb);
bool GetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts);
bool SetCommTimeouts(HANDLE h, const COMMTIMEOUTS* timeouts);
bool GetCommMask(HANDLE h, uint32_t* mask);
// Ends a pending WaitCommEvent (its mask becomes 0) and forgets the events kept so far.
bool SetCommMask(HANDLE h, uint32_t mask);
// Completes when an event of the mask occurs, writing the events that occurred to *mask.
// Returns true when it completed at once, else false with ERROR_IO_PENDING.
bool WaitCommEvent(HANDLE h, uint32_t* mask, OVERLAPPED* overlapped);
// Overlapped transfers: true when done at once (*done set), else false with ERROR_IO_PENDING.
// The buffer must stay valid until the operation has ended.
bool ReadFile(HANDLE h, void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* overlapped);
bool WriteFile(HANDLE h, const void* buffer, uint32_t count, uint32_t* done, OVERLAPPED* overlapped);
// The outcome of the record's operation; without wait, ERROR_IO_INCOMPLETE while it runs.
bool GetOverlappedResult(HANDLE h, OVERLAPPED* overlapped, uint32_t* transferred, bool wait);
bool PurgeComm(HANDLE h, uint32_t flags);
bool ClearCommError(HANDLE h, uint32_t* errors, COMSTAT* stat);
bool GetCommModemStatus(HANDLE h, uint32_t* status);
bool EscapeCommFunction(HANDLE h, uint32_t function);
bool TransmitCommChar(HANDLE h, char c);

// --- Backends --------------------------------------------------------------------------------

// Makes a device for path, or returns null with error set. shareMode 0 asks for exclusive use.
using DeviceFactory =
    std::function<std::shared_ptr<Device>(const std::string& path, uint32_t shareMode, uint32_t& error)>;
// Installs a backend for the paths that start with prefix, ahead of the built-in ones (tests
// install the scripted device this way). An empty factory removes the prefix's backend.
void RegisterDeviceFactory(const std::string& prefix, DeviceFactory factory);

}  // namespace comm
