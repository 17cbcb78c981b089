// The four settings objects a port owns: driver timeouts, flow control, parity and driver queue
// sizes. A changed value is pushed to the owning port's device at once (when it is open).
#pragma once

#include <cstdint>

#include "runtime/component.h"
#include "serial/serial_types.h"

namespace serial {

class TCustomSerialPort;

// Driver timeouts in milliseconds, as the device's COMMTIMEOUTS record defines them.
// A change runs the owning port's ApplyTimeoutSettings. Window thread only.
class TSerialTimeouts : public rtl::TObject {
 public:
  explicit TSerialTimeouts(TCustomSerialPort* ASerialPort = nullptr) : FSerialPort(ASerialPort) {}
  TSerialTimeouts(const TSerialTimeouts&) = delete;
  TSerialTimeouts& operator=(const TSerialTimeouts&) = delete;
  const char* ClassName() const override { return "TSerialTimeouts"; }

  // Copies every value of Source (a TSerialTimeouts) without applying anything; any other
  // class raises the runtime's assignment error.
  virtual void Assign(const rtl::TObject* Source);

  TCustomSerialPort* SerialPort() const { return FSerialPort; }
  int32_t ReadInterval() const { return FReadInterval; }
  int32_t ReadTotalMultiplier() const { return FReadTotalM; }
  int32_t ReadTotalConstant() const { return FReadTotalC; }
  int32_t WriteTotalMultiplier() const { return FWriteTotalM; }
  int32_t WriteTotalConstant() const { return FWriteTotalC; }
  void SetReadInterval(int32_t value);
  void SetReadTotalMultiplier(int32_t value);
  void SetReadTotalConstant(int32_t value);
  void SetWriteTotalMultiplier(int32_t value);
  void SetWriteTotalConstant(int32_t value);

 private:
  void Change(int32_t& field, int32_t value);

  TCustomSerialPort* FSerialPort;
  int32_t FReadInterval = -1;
  int32_t FReadTotalM = 0;
  int32_t FReadTotalC = 0;
  int32_t FWriteTotalM = 100;
  int32_t FWriteTotalC = 1000;
};

// Flow control of the line; FlowControl is a preset read from and written into the fields.
// A change runs the owning port's ApplyLineSettings. Window thread only.
class TSerialFlowControl : public rtl::TObject {
 public:
  explicit TSerialFlowControl(TCustomSerialPort* ASerialPort = nullptr) : FSerialPort(ASerialPort) {}
  TSerialFlowControl(const TSerialFlowControl&) = delete;
  TSerialFlowControl& operator=(const TSerialFlowControl&) = delete;
  const char* ClassName() const override { return "TSerialFlowControl"; }

  // Copies every field of Source (a TSerialFlowControl) without applying anything; any other
  // class raises the runtime's assignment error.
  virtual void Assign(const rtl::TObject* Source);

  TCustomSerialPort* SerialPort() const { return FSerialPort; }
  bool OutCTSFlow() const { return FOutCTSFlow; }
  bool OutDSRFlow() const { return FOutDSRFlow; }
  TDTRFlowControl ControlDTR() const { return FControlDTR; }
  TRTSFlowControl ControlRTS() const { return FControlRTS; }
  bool XonXoffOut() const { return FXonXoffOut; }
  bool XonXoffIn() const { return FXonXoffIn; }
  bool DSRSensitivity() const { return FDSRSensitivity; }
  bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
  char16_t XonChar() const { return FXonChar; }
  char16_t XoffChar() const { return FXoffChar; }
  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char16_t value);
  void SetXoffChar(char16_t value);

  // The preset the fields make: fcHardware, fcSoftware, fcNone, or fcCustom for any other mix.
  TFlowControl FlowControl() const;
  // Writes the preset's fields (fcCustom writes none), then applies the line settings once,
  // even when nothing changed.
  void SetFlowControl(TFlowControl value);

 private:
  template <class T>
  void Change(T& field, T value);
  void Apply();

  TCustomSerialPort* FSerialPort;
  bool FOutCTSFlow = false;
  bool FOutDSRFlow = false;
  TDTRFlowControl FControlDTR = dtrDisable;
  TRTSFlowControl FControlRTS = rtsDisable;
  bool FXonXoffOut = false;
  bool FXonXoffIn = false;
  bool FDSRSensitivity = false;
  bool FTxContinueOnXoff = false;
  char16_t FXonChar = 17;
  char16_t FXoffChar = 19;
};

// Parity of the line. A change runs the owning port's ApplyLineSettings. Window thread only.
class TSerialParity : public rtl::TObject {
 public:
  explicit TSerialParity(TCustomSerialPort* ASerialPort = nullptr) : FSerialPort(ASerialPort) {}
  TSerialParity(const TSerialParity&) = delete;
  TSerialParity& operator=(const TSerialParity&) = delete;
  const char* ClassName() const override { return "TSerialParity"; }

  // Copies every field of Source (a TSerialParity) without applying anything; any other class
  // raises the runtime's assignment error.
  virtual void Assign(const rtl::TObject* Source);

  TCustomSerialPort* SerialPort() const { return FSerialPort; }
  TParityBits Bits() const { return FBits; }
  bool Check() const { return FCheck; }
  bool Replace() const { return FReplace; }
  char16_t ReplaceChar() const { return FReplaceChar; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char16_t value);

 private:
  template <class T>
  void Change(T& field, T value);

  TCustomSerialPort* FSerialPort;
  TParityBits FBits = prNone;
  bool FCheck = false;
  bool FReplace = false;
  char16_t FReplaceChar = 0;
};

// Driver queue sizes in bytes. A positive odd size is stored one lower; a change runs the
// owning port's ApplyBufferSizes. Window thread only.
class TSerialBuffer : public rtl::TObject {
 public:
  explicit TSerialBuffer(TCustomSerialPort* ASerialPort = nullptr) : FSerialPort(ASerialPort) {}
  TSerialBuffer(const TSerialBuffer&) = delete;
  TSerialBuffer& operator=(const TSerialBuffer&) = delete;
  const char* ClassName() const override { return "TSerialBuffer"; }

  // Copies both sizes of Source (a TSerialBuffer) as they are, without applying anything; any
  // other class raises the runtime's assignment error.
  virtual void Assign(const rtl::TObject* Source);

  TCustomSerialPort* SerialPort() const { return FSerialPort; }
  int32_t InputSize() const { return FInputSize; }
  int32_t OutputSize() const { return FOutputSize; }
  void SetInputSize(int32_t value);
  void SetOutputSize(int32_t value);

 private:
  void Change(int32_t& field, int32_t value);

  TCustomSerialPort* FSerialPort;
  int32_t FInputSize = 1024;
  int32_t FOutputSize = 1024;
};

}  // namespace serial
