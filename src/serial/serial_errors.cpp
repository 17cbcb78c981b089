#include "serial/serial_errors.h"

#include "runtime/text.h"

namespace serial {

namespace {

constexpr std::array<std::u16string_view, TPortErrorMessages::size()> kMessages = {
    u"Unable to open com port",
    u"WriteFile function failed",
    u"ReadFile function failed",
    u"Invalid Async parameter",
    u"PurgeComm function failed",
    u"Unable to get async status",
    u"SetCommState function failed",
    u"SetCommTimeouts failed",
    u"SetupComm function failed",
    u"ClearCommError function failed",
    u"GetCommModemStatus function failed",
    u"EscapeCommFunction function failed",
    u"TransmitCommChar function failed",
    u"Cannot set property while connected",
    u"EnumPorts function failed",
    u"Failed to store settings",
    u"Failed to load settings",
    u"Link (un)registration failed",
    u"Cannot change led state if port is selected",
    u"Cannot wait for event if event thread is created",
    u"WaitForEvent method failed",
    u"A component is linked to OnRxBuf event",
    u"Registry error",
    u"Port Not Open",
};

}  // namespace

std::u16string_view TPortErrorMessages::operator[](int32_t code) const {
  if (code < Low || code > High) return {};
  return kMessages[static_cast<size_t>(code - Low)];
}

ESerialPort::ESerialPort(int32_t ACode, int32_t AWinCode)
    : rtl::Exception(std::u16string(PortErrorMessages[ACode]) + rtl::Format(u" (Error: %d)", {AWinCode})),
      FWinCode(AWinCode),
      FCode(ACode) {}

ESerialPort::ESerialPort(int32_t ACode)
    : rtl::Exception(std::u16string(PortErrorMessages[ACode])), FWinCode(-1), FCode(ACode) {}

}  // namespace serial
