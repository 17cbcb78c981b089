#include "serial/serial_types.h"

#include "runtime/text.h"
#include "serial/device/comm.h"

namespace serial {

namespace {

// The entry of table at the ordinal of value, or an empty text outside the table.
template <class E, size_t N>
std::u16string TextOf(const std::array<std::u16string_view, N>& table, E value) {
  const auto i = static_cast<size_t>(value);
  return i < N ? std::u16string(table[i]) : std::u16string();
}

// The ordinal of the first entry equal to text after folding a-z, or fallback.
template <class E, size_t N>
E ValueOf(const std::array<std::u16string_view, N>& table, std::u16string_view text, E fallback) {
  const std::u16string wanted = rtl::AsciiUpper(text);
  for (size_t i = 0; i < N; ++i) {
    if (rtl::AsciiUpper(table[i]) == wanted) return static_cast<E>(i);
  }
  return fallback;
}

// Event ordinal to the device's event bit.
constexpr std::array<uint32_t, 10> kEventBits = {
    comm::EV_RXCHAR, comm::EV_TXEMPTY, comm::EV_RXFLAG, comm::EV_RING, comm::EV_BREAK,
    comm::EV_CTS,    comm::EV_DSR,     comm::EV_ERR,    comm::EV_RLSD, comm::EV_RX80FULL};

}  // namespace

uint32_t BaudRateSpeed(TBaudRate value) {
  static constexpr std::array<uint32_t, 16> kSpeeds = {0,     110,   300,   600,   1200,   2400,
                                                       4800,  9600,  14400, 19200, 38400,  56000,
                                                       57600, 115200, 128000, 256000};
  const auto i = static_cast<size_t>(value);
  return i < kSpeeds.size() ? kSpeeds[i] : 0;
}

uint8_t DataBitsValue(TDataBits value) { return value <= dbEight ? static_cast<uint8_t>(5 + value) : 8; }

uint8_t StopBitsValue(TStopBits value) {
  switch (value) {
    case sbOne5StopBits: return comm::ONE5STOPBITS;
    case sbTwoStopBits: return comm::TWOSTOPBITS;
    default: return comm::ONESTOPBIT;
  }
}

uint8_t ParityValue(TParityBits value) {
  switch (value) {
    case prOdd: return comm::ODDPARITY;
    case prEven: return comm::EVENPARITY;
    case prMark: return comm::MARKPARITY;
    case prSpace: return comm::SPACEPARITY;
    default: return comm::NOPARITY;
  }
}

uint32_t DTRControlValue(TDTRFlowControl value) {
  switch (value) {
    case dtrEnable: return comm::DTR_CONTROL_ENABLE;
    case dtrHandshake: return comm::DTR_CONTROL_HANDSHAKE;
    default: return comm::DTR_CONTROL_DISABLE;
  }
}

uint32_t RTSControlValue(TRTSFlowControl value) {
  switch (value) {
    case rtsEnable: return comm::RTS_CONTROL_ENABLE;
    case rtsHandshake: return comm::RTS_CONTROL_HANDSHAKE;
    case rtsToggle: return comm::RTS_CONTROL_TOGGLE;
    default: return comm::RTS_CONTROL_DISABLE;
  }
}

uint32_t EventsToMask(TSerialEvents events) {
  uint32_t mask = 0;
  for (size_t i = 0; i < kEventBits.size(); ++i) {
    if (events.Contains(static_cast<TSerialEvent>(i))) mask |= kEventBits[i];
  }
  return mask;
}

TSerialEvents MaskToEvents(uint32_t mask) {
  TSerialEvents events;
  for (size_t i = 0; i < kEventBits.size(); ++i) {
    if (mask & kEventBits[i]) events.Include(static_cast<TSerialEvent>(i));
  }
  return events;
}

std::u16string BaudRateToText(TBaudRate value) { return TextOf(BaudRateTexts, value); }
std::u16string StopBitsToText(TStopBits value) { return TextOf(StopBitsTexts, value); }
std::u16string DataBitsToText(TDataBits value) { return TextOf(DataBitsTexts, value); }
std::u16string ParityToText(TParityBits value) { return TextOf(ParityTexts, value); }
std::u16string FlowControlToText(TFlowControl value) { return TextOf(FlowControlTexts, value); }

TBaudRate TextToBaudRate(std::u16string_view text) { return ValueOf(BaudRateTexts, text, br9600); }
TStopBits TextToStopBits(std::u16string_view text) { return ValueOf(StopBitsTexts, text, sbOneStopBit); }
TDataBits TextToDataBits(std::u16string_view text) { return ValueOf(DataBitsTexts, text, dbEight); }
TParityBits TextToParity(std::u16string_view text) { return ValueOf(ParityTexts, text, prNone); }
TFlowControl TextToFlowControl(std::u16string_view text) {
  return ValueOf(FlowControlTexts, text, fcCustom);
}

}  // namespace serial
