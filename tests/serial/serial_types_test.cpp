// Setting sets and their bit layout, the event-mask conversions, the setting texts and the
// text-to-value rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/text.h"
#include "serial/device/comm.h"
#include "serial/serial_types.h"

using namespace serial;

namespace {

TEST(SerialSets, BitNStandsForOrdinalN) {
  EXPECT_EQ(TSerialEvents::All().Bits(), 0x3FFu);
  EXPECT_EQ(TSerialSignals::All().Bits(), 0xFu);
  EXPECT_EQ(TSerialErrors::All().Bits(), 0xFFu);
  EXPECT_EQ(TSerialStateFlags::All().Bits(), 0x7Fu);

  EXPECT_EQ((TSerialEvents{evRxChar, evRx80Full}).Bits(), 0x201u);
  EXPECT_EQ((TSerialSignals{csDSR, csRLSD}).Bits(), 0xAu);
  EXPECT_EQ((TSerialErrors{ceFrame, ceTxFull}).Bits(), 0x81u);
  EXPECT_EQ((TSerialStateFlags{fXOffSent}).Bits(), 0x10u);
}

TEST(SerialSets, IncludeExcludeContainsAndOperators) {
  TSerialErrors s;
  EXPECT_TRUE(s.Empty());
  s.Include(ceBreak).Include(ceIO).Include(ceBreak);
  EXPECT_EQ(s.Bits(), (1u << ceBreak) | (1u << ceIO));
  EXPECT_TRUE(s.Contains(ceBreak));
  EXPECT_FALSE(s.Contains(ceFrame));
  s.Exclude(ceBreak).Exclude(ceFrame);
  EXPECT_EQ(s, TSerialErrors{ceIO});

  const TSerialSignals a{csCTS, csDSR}, b{csDSR, csRing};
  EXPECT_EQ(a + b, (TSerialSignals{csCTS, csDSR, csRing}));
  EXPECT_EQ(a * b, TSerialSignals{csDSR});
  EXPECT_EQ(a - b, TSerialSignals{csCTS});
}

TEST(SerialSets, BitsBeyondTheLastMemberAreDropped) {
  EXPECT_EQ(TSerialEvents::FromBits(0xFFFFFFFF).Bits(), 0x3FFu);
  EXPECT_EQ(TSerialSignals::FromBits(0x30).Bits(), 0u);
  // A value outside the enumeration is never a member and cannot be added.
  TSerialSignals s;
  s.Include(static_cast<TSerialSignal>(9));
  EXPECT_TRUE(s.Empty());
  EXPECT_FALSE(TSerialSignals::All().Contains(static_cast<TSerialSignal>(9)));
}

TEST(EventMask, EachEventHasItsDeviceBit) {
  struct Case {
    TSerialEvent event;
    uint32_t bit;
  };
  const std::vector<Case> cases = {
      {evRxChar, comm::EV_RXCHAR}, {evTxEmpty, comm::EV_TXEMPTY}, {evRxFlag, comm::EV_RXFLAG},
      {evRing, comm::EV_RING},     {evBreak, comm::EV_BREAK},     {evCTS, comm::EV_CTS},
      {evDSR, comm::EV_DSR},       {evError, comm::EV_ERR},       {evRLSD, comm::EV_RLSD},
      {evRx80Full, comm::EV_RX80FULL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.event));
    EXPECT_EQ(EventsToMask(TSerialEvents{c.event}), c.bit);
    EXPECT_EQ(MaskToEvents(c.bit), TSerialEvents{c.event});
  }
  EXPECT_EQ(EventsToMask(TSerialEvents::All()), 0x05FFu);
  EXPECT_EQ(EventsToMask({}), 0u);
}

TEST(EventMask, UnknownBitsAreIgnored) {
  EXPECT_EQ(MaskToEvents(0x0200 | 0x0800 | 0x8000), TSerialEvents{});
  EXPECT_EQ(MaskToEvents(0xFFFFFFFF), TSerialEvents::All());
  EXPECT_EQ(MaskToEvents(comm::EV_CTS | 0x0200), TSerialEvents{evCTS});
}

TEST(DeviceNumbers, SpeedsAndFormatValues) {
  const std::vector<uint32_t> speeds = {0,     110,   300,   600,   1200,   2400,   4800,  9600,
                                        14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (size_t i = 0; i < speeds.size(); ++i) EXPECT_EQ(BaudRateSpeed(static_cast<TBaudRate>(i)), speeds[i]) << i;
  EXPECT_EQ(BaudRateSpeed(static_cast<TBaudRate>(16)), 0u);

  EXPECT_EQ(DataBitsValue(dbFive), 5);
  EXPECT_EQ(DataBitsValue(dbEight), 8);
  EXPECT_EQ(StopBitsValue(sbOneStopBit), comm::ONESTOPBIT);
  EXPECT_EQ(StopBitsValue(sbOne5StopBits), comm::ONE5STOPBITS);
  EXPECT_EQ(StopBitsValue(sbTwoStopBits), comm::TWOSTOPBITS);
  const std::vector<uint8_t> parity = {comm::NOPARITY, comm::ODDPARITY, comm::EVENPARITY, comm::MARKPARITY,
                                       comm::SPACEPARITY};
  for (size_t i = 0; i < parity.size(); ++i) EXPECT_EQ(ParityValue(static_cast<TParityBits>(i)), parity[i]) << i;
  EXPECT_EQ(DTRControlValue(dtrHandshake), comm::DTR_CONTROL_HANDSHAKE);
  EXPECT_EQ(RTSControlValue(rtsToggle), comm::RTS_CONTROL_TOGGLE);
  EXPECT_EQ(RTSControlValue(rtsHandshake), comm::RTS_CONTROL_HANDSHAKE);
}

// Every value goes to its text and back; a value outside the enumeration has no text.
TEST(SettingTexts, ValueToTextAndBack) {
  for (int i = 0; i < 16; ++i) {
    const auto v = static_cast<TBaudRate>(i);
    EXPECT_EQ(BaudRateToText(v), BaudRateTexts[i]);
    EXPECT_EQ(TextToBaudRate(BaudRateToText(v)), v) << i;
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(TextToStopBits(StopBitsToText(static_cast<TStopBits>(i))), i);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TextToDataBits(DataBitsToText(static_cast<TDataBits>(i))), i);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(TextToParity(ParityToText(static_cast<TParityBits>(i))), i);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(TextToFlowControl(FlowControlToText(static_cast<TFlowControl>(i))), i);

  EXPECT_EQ(BaudRateToText(br115200), u"115200");
  EXPECT_EQ(StopBitsToText(sbOne5StopBits), u"1.5");
  EXPECT_EQ(DataBitsToText(dbSeven), u"7");
  EXPECT_EQ(ParityToText(prSpace), u"Space");
  EXPECT_EQ(FlowControlToText(fcSoftware), u"Software");

  EXPECT_EQ(BaudRateToText(static_cast<TBaudRate>(16)), u"");
  EXPECT_EQ(ParityToText(static_cast<TParityBits>(200)), u"");
}

// Only a-z fold to A-Z; nothing is trimmed; a text that matches nothing gives the default.
TEST(SettingTexts, TextToValueCaseRules) {
  struct Case {
    std::u16string text;
    int expected;
  };
  const std::vector<Case> baud = {
      {u"custom", brCustom}, {u"CUSTOM", brCustom}, {u"cUsToM", brCustom}, {u"9600", br9600},
      {u"", br9600},         {u"fast", br9600},     {u"9600 ", br9600},   {u" 110", br9600},
      {u"110", br110},       {u"256000", br256000}, {u"0110", br9600},
  };
  for (const auto& c : baud) EXPECT_EQ(TextToBaudRate(c.text), c.expected) << rtl::Utf16ToUtf8(c.text);

  const std::vector<Case> stop = {{u"1", sbOneStopBit},  {u"1.5", sbOne5StopBits}, {u"1,5", sbOneStopBit},
                                  {u"2", sbTwoStopBits}, {u"", sbOneStopBit},      {u"3", sbOneStopBit}};
  for (const auto& c : stop) EXPECT_EQ(TextToStopBits(c.text), c.expected) << rtl::Utf16ToUtf8(c.text);

  const std::vector<Case> data = {{u"5", dbFive}, {u"7", dbSeven}, {u"", dbEight}, {u"9", dbEight}, {u"5 ", dbEight}};
  for (const auto& c : data) EXPECT_EQ(TextToDataBits(c.text), c.expected) << rtl::Utf16ToUtf8(c.text);

  const std::vector<Case> parity = {
      {u"SPACE", prSpace}, {u"space", prSpace}, {u"Odd", prOdd},   {u"eVEN", prEven},
      {u"mark", prMark},   {u"", prNone},       {u"Odd ", prNone},
      // Folding is a-z only: the long s, whose full upper case is S, stays what it is.
      {u"\u017Fpace", prNone},
  };
  for (const auto& c : parity) EXPECT_EQ(TextToParity(c.text), c.expected) << rtl::Utf16ToUtf8(c.text);

  const std::vector<Case> flow = {{u"none", fcNone},         {u"NONE", fcNone},   {u"hardware", fcHardware},
                                  {u"SoFtWaRe", fcSoftware}, {u"", fcCustom},     {u"custom", fcCustom},
                                  {u"None\t", fcCustom},     {u"xon", fcCustom}};
  for (const auto& c : flow) EXPECT_EQ(TextToFlowControl(c.text), c.expected) << rtl::Utf16ToUtf8(c.text);
}

}  // namespace
