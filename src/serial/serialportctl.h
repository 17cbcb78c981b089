// A drop-down list of the values of one port setting, bound to a port component: binding shows
// the port's current value, and with AutoApply on, a value the user picks is written at once.
#pragma once

#include <QComboBox>
#include <memory>

#include "runtime/component.h"
#include "serial/serialselect.h"

namespace serial {

class TCustomSerialPort;

class TSerialComboBox : public QComboBox, public rtl::TComponent {
 public:
  explicit TSerialComboBox(QWidget* parent = nullptr);
  ~TSerialComboBox() override;
  const char* ClassName() const override { return "TSerialComboBox"; }

  TSerialProperty SerialProperty() const { return FSerialSelect->SerialProperty(); }
  // Chooses the setting: fills the list and selects the bound port's value (or the first item).
  void SetSerialProperty(TSerialProperty value);
  TCustomSerialPort* SerialPort() const { return FSerialSelect->SerialPort(); }
  // Binds the port (or none) and asks to be told when it is destroyed.
  void SetSerialPort(TCustomSerialPort* port);
  bool AutoApply() const { return FSerialSelect->AutoApply(); }
  void SetAutoApply(bool value) { FSerialSelect->SetAutoApply(value); }

  // The selected item's text, empty when nothing is selected.
  QString Text() const;
  // Selects the first item equal to text without regard to case; otherwise nothing changes.
  void SetText(const QString& text);

  void ApplySettings() { FSerialSelect->ApplySettings(); }
  // Selects the item showing the bound port's current value (none when no item does).
  void UpdateSettings();
  // The user's choice of an item (the combo box's "activated"): stores, applies when AutoApply.
  void Change();

 protected:
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

 private:
  class ItemList;
  std::unique_ptr<TSerialSelect> FSerialSelect;
  std::unique_ptr<ItemList> items_;
};

}  // namespace serial
