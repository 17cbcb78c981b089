#include "serial/serial_settings.h"

#include "runtime/exceptions.h"
#include "serial/serialport.h"

namespace serial {

namespace {

// The source as a T, or the runtime's assignment error naming both classes.
template <class T>
const T& SourceAs(const rtl::TObject* source, const T& target) {
  const T* same = dynamic_cast<const T*>(source);
  if (!same) rtl::RaiseAssignError(source ? source->ClassName() : nullptr, target.ClassName());
  return *same;
}

}  // namespace

// --- TSerialTimeouts -------------------------------------------------------------------------

void TSerialTimeouts::Assign(const rtl::TObject* Source) {
  const auto& s = SourceAs(Source, *this);
  FReadInterval = s.FReadInterval;
  FReadTotalM = s.FReadTotalM;
  FReadTotalC = s.FReadTotalC;
  FWriteTotalM = s.FWriteTotalM;
  FWriteTotalC = s.FWriteTotalC;
}

void TSerialTimeouts::Change(int32_t& field, int32_t value) {
  if (field == value) return;
  field = value;
  if (FSerialPort) FSerialPort->ApplyTimeoutSettings();
}

void TSerialTimeouts::SetReadInterval(int32_t value) { Change(FReadInterval, value); }
void TSerialTimeouts::SetReadTotalMultiplier(int32_t value) { Change(FReadTotalM, value); }
void TSerialTimeouts::SetReadTotalConstant(int32_t value) { Change(FReadTotalC, value); }
void TSerialTimeouts::SetWriteTotalMultiplier(int32_t value) { Change(FWriteTotalM, value); }
void TSerialTimeouts::SetWriteTotalConstant(int32_t value) { Change(FWriteTotalC, value); }

// --- TSerialFlowControl ----------------------------------------------------------------------

void TSerialFlowControl::Assign(const rtl::TObject* Source) {
  const auto& s = SourceAs(Source, *this);
  FOutCTSFlow = s.FOutCTSFlow;
  FOutDSRFlow = s.FOutDSRFlow;
  FControlDTR = s.FControlDTR;
  FControlRTS = s.FControlRTS;
  FXonXoffOut = s.FXonXoffOut;
  FXonXoffIn = s.FXonXoffIn;
  FDSRSensitivity = s.FDSRSensitivity;
  FTxContinueOnXoff = s.FTxContinueOnXoff;
  FXonChar = s.FXonChar;
  FXoffChar = s.FXoffChar;
}

void TSerialFlowControl::Apply() {
  if (FSerialPort) FSerialPort->ApplyLineSettings();
}

template <class T>
void TSerialFlowControl::Change(T& field, T value) {
  if (field == value) return;
  field = value;
  Apply();
}

void TSerialFlowControl::SetOutCTSFlow(bool value) { Change(FOutCTSFlow, value); }
void TSerialFlowControl::SetOutDSRFlow(bool value) { Change(FOutDSRFlow, value); }
void TSerialFlowControl::SetControlDTR(TDTRFlowControl value) { Change(FControlDTR, value); }
void TSerialFlowControl::SetControlRTS(TRTSFlowControl value) { Change(FControlRTS, value); }
void TSerialFlowControl::SetXonXoffOut(bool value) { Change(FXonXoffOut, value); }
void TSerialFlowControl::SetXonXoffIn(bool value) { Change(FXonXoffIn, value); }
void TSerialFlowControl::SetDSRSensitivity(bool value) { Change(FDSRSensitivity, value); }
void TSerialFlowControl::SetTxContinueOnXoff(bool value) { Change(FTxContinueOnXoff, value); }
void TSerialFlowControl::SetXonChar(char16_t value) { Change(FXonChar, value); }
void TSerialFlowControl::SetXoffChar(char16_t value) { Change(FXoffChar, value); }

TFlowControl TSerialFlowControl::FlowControl() const {
  const bool noXonXoff = !FXonXoffIn && !FXonXoffOut;
  if (FControlRTS == rtsHandshake && FOutCTSFlow && noXonXoff) return fcHardware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && FXonXoffIn && FXonXoffOut) return fcSoftware;
  if (FControlRTS == rtsDisable && !FOutCTSFlow && noXonXoff) return fcNone;
  return fcCustom;
}

void TSerialFlowControl::SetFlowControl(TFlowControl value) {
  if (value != fcCustom) {
    FControlRTS = rtsDisable;
    FOutCTSFlow = false;
    FXonXoffIn = false;
    FXonXoffOut = false;
    if (value == fcHardware) {
      FControlRTS = rtsHandshake;
      FOutCTSFlow = true;
    } else if (value == fcSoftware) {
      FXonXoffIn = true;
      FXonXoffOut = true;
    }
  }
  Apply();
}

// --- TSerialParity ---------------------------------------------------------------------------

void TSerialParity::Assign(const rtl::TObject* Source) {
  const auto& s = SourceAs(Source, *this);
  FBits = s.FBits;
  FCheck = s.FCheck;
  FReplace = s.FReplace;
  FReplaceChar = s.FReplaceChar;
}

template <class T>
void TSerialParity::Change(T& field, T value) {
  if (field == value) return;
  field = value;
  if (FSerialPort) FSerialPort->ApplyLineSettings();
}

void TSerialParity::SetBits(TParityBits value) { Change(FBits, value); }
void TSerialParity::SetCheck(bool value) { Change(FCheck, value); }
void TSerialParity::SetReplace(bool value) { Change(FReplace, value); }
void TSerialParity::SetReplaceChar(char16_t value) { Change(FReplaceChar, value); }

// --- TSerialBuffer ---------------------------------------------------------------------------

void TSerialBuffer::Assign(const rtl::TObject* Source) {
  const auto& s = SourceAs(Source, *this);
  FInputSize = s.FInputSize;
  FOutputSize = s.FOutputSize;
}

void TSerialBuffer::Change(int32_t& field, int32_t value) {
  if (field == value) return;
  // Drivers want even queue sizes.
  field = (value > 0 && value % 2 == 1) ? value - 1 : value;
  if (FSerialPort) FSerialPort->ApplyBufferSizes();
}

void TSerialBuffer::SetInputSize(int32_t value) { Change(FInputSize, value); }
void TSerialBuffer::SetOutputSize(int32_t value) { Change(FOutputSize, value); }

}  // namespace serial
