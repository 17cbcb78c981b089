// Error codes of the port engine with their fixed messages, the port error exception, and the
// type of the port's error notification.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "runtime/component.h"
#include "runtime/exceptions.h"

namespace serial {

// The member of ordinal n stands for error code n + 1.
enum TSerialExceptions : uint8_t {
  peOpenFailed,       // 1
  peWriteFailed,      // 2
  peReadFailed,       // 3
  peInvalidAsync,     // 4
  pePurgeFailed,      // 5
  peAsyncCheck,       // 6
  peSetStateFailed,   // 7
  peTimeoutsFailed,   // 8
  peSetupComFailed,   // 9
  peClearComFailed,   // 10
  peModemStatFailed,  // 11
  peEscapeComFailed,  // 12
  peTransmitFailed,   // 13
  peConnChangeProp,   // 14
  peEnumPortsFailed,  // 15
  peStoreFailed,      // 16
  peLoadFailed,       // 17
  peRegFailed,        // 18
  peLedStateFailed,   // 19
  peThreadCreated,    // 20
  peWaitFailed,       // 21
  peHasLink,          // 22
  peRegError,         // 23
  pePortNotOpen       // 24
};

// The messages of the error codes, indexed by the code itself (1 ... 24).
class TPortErrorMessages {
 public:
  static constexpr int32_t Low = 1;
  static constexpr int32_t High = 24;
  // The message of code; empty for a number that is no code.
  std::u16string_view operator[](int32_t code) const;
  static constexpr size_t size() { return High - Low + 1; }
};
inline constexpr TPortErrorMessages PortErrorMessages{};

// The port error exception: Code is the error code, WinCode the system error number or -1.
class ESerialPort : public rtl::Exception {
 public:
  // Message: the code's text followed by " (Error: <AWinCode>)".
  ESerialPort(int32_t ACode, int32_t AWinCode);
  // WinCode -1, message: the code's text alone.
  explicit ESerialPort(int32_t ACode);

  static ESerialPort Create(int32_t ACode, int32_t AWinCode) { return ESerialPort(ACode, AWinCode); }
  static ESerialPort CreateNoWinCode(int32_t ACode) { return ESerialPort(ACode); }

  int32_t WinCode() const { return FWinCode; }
  void SetWinCode(int32_t value) { FWinCode = value; }
  int32_t Code() const { return FCode; }
  void SetCode(int32_t value) { FCode = value; }

 private:
  int32_t FWinCode;
  int32_t FCode;
};

// The port's OnException notification: Sender, the error, its message, the system error number
// as given (all 64 bits), and the system's text for it (empty when the number is not positive).
using TSerialExceptionEvent =
    std::function<void(rtl::TObject* Sender, TSerialExceptions PortException, const std::u16string& PortMessage,
                       int64_t WinError, const std::u16string& WinMessage)>;

}  // namespace serial
