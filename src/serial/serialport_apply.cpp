// Pushing the settings into the open device: queue sizes, the device control block, timeouts.
#include "serial/serialport.h"

namespace serial {

bool TCustomSerialPort::CanApply() const { return FConnected && FUpdateCount == 0 && !Loading(); }

void TCustomSerialPort::ApplyPortSettings() {
  ApplyBufferSizes();
  ApplyLineSettings();
  ApplyTimeoutSettings();
}

void TCustomSerialPort::ApplyLineSettings() {
  if (!CanApply()) return;
  // Built from scratch: nothing of the device's current state is kept.
  comm::DCB dcb{};
  dcb.DCBlength = sizeof(comm::DCB);
  dcb.BaudRate = FBaudRate == brCustom ? static_cast<uint32_t>(FCustomBaudRate) : BaudRateSpeed(FBaudRate);
  dcb.fBinary = 1;
  dcb.fParity = FParity->Check();
  dcb.fOutxCtsFlow = FFlowControl->OutCTSFlow();
  dcb.fOutxDsrFlow = FFlowControl->OutDSRFlow();
  dcb.fDtrControl = DTRControlValue(FFlowControl->ControlDTR());
  dcb.fDsrSensitivity = FFlowControl->DSRSensitivity();
  dcb.fTXContinueOnXoff = FFlowControl->TxContinueOnXoff();
  dcb.fOutX = FFlowControl->XonXoffOut();
  dcb.fInX = FFlowControl->XonXoffIn();
  // Replacement only means something while the parity is checked.
  const bool replace = FParity->Check() && FParity->Replace();
  dcb.fErrorChar = replace;
  dcb.fNull = FDiscardNull;
  dcb.fRtsControl = RTSControlValue(FFlowControl->ControlRTS());
  dcb.fAbortOnError = 0;
  const auto limit = static_cast<uint16_t>(FBuffer->InputSize() / 4);
  dcb.XonLim = limit;
  dcb.XoffLim = limit;
  dcb.ByteSize = DataBitsValue(FDataBits);
  dcb.Parity = ParityValue(FParity->Bits());
  dcb.StopBits = StopBitsValue(FStopBits);
  dcb.XonChar = static_cast<char>(FFlowControl->XonChar() & 0xFF);
  dcb.XoffChar = static_cast<char>(FFlowControl->XoffChar() & 0xFF);
  dcb.ErrorChar = replace ? static_cast<char>(FParity->ReplaceChar() & 0xFF) : 0;
  dcb.EvtChar = static_cast<char>(FEventChar & 0xFF);
  if (!comm::SetCommState(FHandle, &dcb)) ReportLastError(7);
}

void TCustomSerialPort::ApplyTimeoutSettings() {
  if (!CanApply()) return;
  comm::COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = static_cast<uint32_t>(FTimeouts->ReadInterval());
  timeouts.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts->ReadTotalMultiplier());
  timeouts.ReadTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts->ReadTotalConstant());
  timeouts.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts->WriteTotalMultiplier());
  timeouts.WriteTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts->WriteTotalConstant());
  if (!comm::SetCommTimeouts(FHandle, &timeouts)) ReportLastError(8);
}

void TCustomSerialPort::ApplyBufferSizes() {
  if (!CanApply()) return;
  if (!comm::SetupComm(FHandle, static_cast<uint32_t>(FBuffer->InputSize()),
                       static_cast<uint32_t>(FBuffer->OutputSize())))
    ReportLastError(9);
}

}  // namespace serial
