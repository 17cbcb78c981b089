// The logic of a port setting selector: which setting it offers, the list of its texts, the
// last chosen value, and the bound port it reads and writes. Window thread only.
#pragma once

#include <string>

#include "serial/serial_types.h"

namespace serial {

class TCustomSerialPort;

enum TSerialProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// A list of texts that a selector fills: the item list of the control that owns it.
class TStrings {
 public:
  virtual ~TStrings() = default;
  virtual void Clear() = 0;
  virtual void Add(const std::u16string& text) = 0;
  virtual int Count() const = 0;
  virtual std::u16string Get(int index) const = 0;
};

class TSerialSelect {
 public:
  TSerialSelect() = default;

  TStrings* Items() const { return FItems; }
  void SetItems(TStrings* items) { FItems = items; }
  TSerialProperty SerialProperty() const { return FSerialProperty; }
  // Stores the setting and fills the list with its texts in ordinal order (the ports for cpPort).
  void SetSerialProperty(TSerialProperty value);
  TCustomSerialPort* SerialPort() const { return FSerialPort; }
  void SetSerialPort(TCustomSerialPort* port) { FSerialPort = port; }
  bool AutoApply() const { return FAutoApply; }
  void SetAutoApply(bool value) { FAutoApply = value; }

  void SelectPort();
  void SelectBaudRate();
  void SelectDataBits();
  void SelectStopBits();
  void SelectParity();
  void SelectFlowControl();

  // The user chose text: stores its value for the setting.
  void Change(const std::u16string& text);
  // With a port bound: ItemIndex becomes the index of the item showing the port's current value
  // (-1 when none does) and that value is stored. Otherwise ItemIndex is left as it is.
  void UpdateSettings(int& ItemIndex);
  // With a port bound: writes the stored value of the setting to the port.
  void ApplySettings();

 private:
  void Fill(const std::u16string_view* texts, size_t count);

  std::u16string FPort;
  TBaudRate FBaudRate = brCustom;
  TDataBits FDataBits = dbFive;
  TStopBits FStopBits = sbOneStopBit;
  TParityBits FParity = prNone;
  TFlowControl FFlowControl = fcHardware;
  TStrings* FItems = nullptr;
  TSerialProperty FSerialProperty = cpNone;
  TCustomSerialPort* FSerialPort = nullptr;
  bool FAutoApply = false;
};

}  // namespace serial
