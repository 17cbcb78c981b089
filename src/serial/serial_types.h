// Value types of the port engine: the setting enumerations with their ordinals, the sets over
// them (bit n stands for the member of ordinal n), the setting texts and their conversions.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace serial {

// A set of the members of an enumeration whose ordinals run from 0 to N - 1; bit n of Bits()
// stands for the member of ordinal n. Bits beyond N - 1 are never held.
template <class E, unsigned N>
class TSet {
  static_assert(N > 0 && N <= 32);

 public:
  static constexpr uint32_t Mask = N == 32 ? 0xFFFFFFFFu : ((1u << N) - 1u);

  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E e : members) Include(e);
  }

  // The set whose members are the bits of bits (bits beyond the last ordinal are dropped).
  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.bits_ = bits & Mask;
    return s;
  }
  static constexpr TSet All() { return FromBits(Mask); }

  constexpr uint32_t Bits() const { return bits_; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool Contains(E e) const { return InRange(e) && (bits_ >> Ordinal(e)) & 1u; }
  constexpr TSet& Include(E e) {
    if (InRange(e)) bits_ |= 1u << Ordinal(e);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    if (InRange(e)) bits_ &= ~(1u << Ordinal(e));
    return *this;
  }

  friend constexpr bool operator==(TSet a, TSet b) = default;
  friend constexpr TSet operator+(TSet a, TSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TSet operator*(TSet a, TSet b) { return FromBits(a.bits_ & b.bits_); }
  friend constexpr TSet operator-(TSet a, TSet b) { return FromBits(a.bits_ & ~b.bits_); }

 private:
  static constexpr unsigned Ordinal(E e) { return static_cast<unsigned>(e); }
  static constexpr bool InRange(E e) { return Ordinal(e) < N; }

  uint32_t bits_ = 0;
};

// --- Enumerations, members in ordinal order from 0 ------------------------------------------------

enum TBaudRate : uint8_t {
  brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
  br56000, br57600, br115200, br128000, br256000
};
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TSerialEvent : uint8_t {
  evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
enum TSerialSignal : uint8_t { csCTS, csDSR, csRing, csRLSD };
enum TSerialError : uint8_t { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TThreadPriority : uint8_t { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
// The hold flags of the driver's status record, bits 0 to 6 of its flag word.
enum TSerialStateFlag : uint8_t { fCtlHold, fDsrHold, fRlsHold, fXoffHold, fXOffSent, fEof, fTxim };

using TSerialEvents = TSet<TSerialEvent, 10>;
using TSerialSignals = TSet<TSerialSignal, 4>;
using TSerialErrors = TSet<TSerialError, 8>;
using TSerialStateFlags = TSet<TSerialStateFlag, 7>;

// --- Numbers handed to the device -------------------------------------------------------------

// The speed in the member's name (110 ... 256000); 0 for brCustom and for a value outside the
// enumeration (brCustom takes its speed from the port's CustomBaudRate).
uint32_t BaudRateSpeed(TBaudRate value);
// The numbers below map a value outside its enumeration as the type's default member.
// 5, 6, 7 or 8.
uint8_t DataBitsValue(TDataBits value);
// The device's ONESTOPBIT / ONE5STOPBITS / TWOSTOPBITS.
uint8_t StopBitsValue(TStopBits value);
// The device's NOPARITY ... SPACEPARITY.
uint8_t ParityValue(TParityBits value);
// The device's DTR_CONTROL_* and RTS_CONTROL_* values.
uint32_t DTRControlValue(TDTRFlowControl value);
uint32_t RTSControlValue(TRTSFlowControl value);

// The device's event mask for a set of events, and back; mask bits of no event are ignored.
uint32_t EventsToMask(TSerialEvents events);
TSerialEvents MaskToEvents(uint32_t mask);

// --- Setting texts, indexed by ordinal ----------------------------------------------------------

inline constexpr std::array<std::u16string_view, 16> BaudRateTexts = {
    u"Custom", u"110",   u"300",   u"600",   u"1200",  u"2400",   u"4800",   u"9600",
    u"14400",  u"19200", u"38400", u"56000", u"57600", u"115200", u"128000", u"256000"};
inline constexpr std::array<std::u16string_view, 3> StopBitsTexts = {u"1", u"1.5", u"2"};
inline constexpr std::array<std::u16string_view, 4> DataBitsTexts = {u"5", u"6", u"7", u"8"};
inline constexpr std::array<std::u16string_view, 5> ParityTexts = {u"None", u"Odd", u"Even", u"Mark",
                                                                   u"Space"};
inline constexpr std::array<std::u16string_view, 4> FlowControlTexts = {u"Hardware", u"Software", u"None",
                                                                        u"Custom"};

// Value to text by the tables above; a value outside its enumeration gives an empty text.
std::u16string BaudRateToText(TBaudRate value);
std::u16string StopBitsToText(TStopBits value);
std::u16string DataBitsToText(TDataBits value);
std::u16string ParityToText(TParityBits value);
std::u16string FlowControlToText(TFlowControl value);

// Text to value: the first entry equal to text once a-z are folded to A-Z (nothing trimmed);
// without a match br9600, sbOneStopBit, dbEight, prNone and fcCustom.
TBaudRate TextToBaudRate(std::u16string_view text);
TStopBits TextToStopBits(std::u16string_view text);
TDataBits TextToDataBits(std::u16string_view text);
TParityBits TextToParity(std::u16string_view text);
TFlowControl TextToFlowControl(std::u16string_view text);

}  // namespace serial
