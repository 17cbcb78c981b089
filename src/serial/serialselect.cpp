#include "serial/serialselect.h"

#include "runtime/text.h"
#include "serial/portlist.h"
#include "serial/serialport.h"

namespace serial {

void TSerialSelect::Fill(const std::u16string_view* texts, size_t count) {
  if (!FItems) return;
  FItems->Clear();
  for (size_t i = 0; i < count; ++i) FItems->Add(std::u16string(texts[i]));
}

void TSerialSelect::SetSerialProperty(TSerialProperty value) {
  FSerialProperty = value;
  switch (value) {
    case cpNone:
      if (FItems) FItems->Clear();
      break;
    case cpPort: SelectPort(); break;
    case cpBaudRate: SelectBaudRate(); break;
    case cpDataBits: SelectDataBits(); break;
    case cpStopBits: SelectStopBits(); break;
    case cpParity: SelectParity(); break;
    case cpFlowControl: SelectFlowControl(); break;
  }
}

void TSerialSelect::SelectPort() {
  if (!FItems) return;
  FItems->Clear();
  ListSerialPorts(*FItems);
}
void TSerialSelect::SelectBaudRate() { Fill(BaudRateTexts.data(), BaudRateTexts.size()); }
void TSerialSelect::SelectDataBits() { Fill(DataBitsTexts.data(), DataBitsTexts.size()); }
void TSerialSelect::SelectStopBits() { Fill(StopBitsTexts.data(), StopBitsTexts.size()); }
void TSerialSelect::SelectParity() { Fill(ParityTexts.data(), ParityTexts.size()); }
void TSerialSelect::SelectFlowControl() { Fill(FlowControlTexts.data(), FlowControlTexts.size()); }

void TSerialSelect::Change(const std::u16string& text) {
  switch (FSerialProperty) {
    case cpNone: break;
    case cpPort: FPort = text; break;
    case cpBaudRate: FBaudRate = TextToBaudRate(text); break;
    case cpDataBits: FDataBits = TextToDataBits(text); break;
    case cpStopBits: FStopBits = TextToStopBits(text); break;
    case cpParity: FParity = TextToParity(text); break;
    case cpFlowControl: FFlowControl = TextToFlowControl(text); break;
  }
}

void TSerialSelect::UpdateSettings(int& ItemIndex) {
  if (!FSerialPort || FSerialProperty == cpNone) return;
  std::u16string current;
  switch (FSerialProperty) {
    case cpNone: return;
    case cpPort: current = FSerialPort->Port(); break;
    case cpBaudRate: current = BaudRateToText(FSerialPort->BaudRate()); break;
    case cpDataBits: current = DataBitsToText(FSerialPort->DataBits()); break;
    case cpStopBits: current = StopBitsToText(FSerialPort->StopBits()); break;
    case cpParity: current = ParityToText(FSerialPort->Parity().Bits()); break;
    case cpFlowControl: current = FlowControlToText(FSerialPort->FlowControl().FlowControl()); break;
  }
  ItemIndex = -1;
  const int count = FItems ? FItems->Count() : 0;
  for (int i = 0; i < count; ++i) {
    if (rtl::SameTextIgnoreCase(FItems->Get(i), current)) {
      ItemIndex = i;
      break;
    }
  }
  if (ItemIndex >= 0) Change(FItems->Get(ItemIndex));
}

void TSerialSelect::ApplySettings() {
  if (!FSerialPort) return;
  switch (FSerialProperty) {
    case cpNone: break;
    case cpPort: FSerialPort->SetPort(FPort); break;
    case cpBaudRate: FSerialPort->SetBaudRate(FBaudRate); break;
    case cpDataBits: FSerialPort->SetDataBits(FDataBits); break;
    case cpStopBits: FSerialPort->SetStopBits(FStopBits); break;
    case cpParity: FSerialPort->Parity().SetBits(FParity); break;
    case cpFlowControl: FSerialPort->FlowControl().SetFlowControl(FFlowControl); break;
  }
}

}  // namespace serial
