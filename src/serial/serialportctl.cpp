#include "serial/serialportctl.h"

#include "runtime/text.h"
#include "serial/serialport.h"

namespace serial {

// The combo box's items seen as the selector's list.
class TSerialComboBox::ItemList : public TStrings {
 public:
  explicit ItemList(QComboBox& box) : box_(box) {}
  void Clear() override { box_.clear(); }
  void Add(const std::u16string& text) override {
    // A combo box selects its first item by itself when it is filled; the selector decides.
    const bool wasEmpty = box_.count() == 0;
    box_.addItem(QString::fromStdU16String(text));
    if (wasEmpty) box_.setCurrentIndex(-1);
  }
  int Count() const override { return box_.count(); }
  std::u16string Get(int index) const override { return box_.itemText(index).toStdU16String(); }

 private:
  QComboBox& box_;
};

TSerialComboBox::TSerialComboBox(QWidget* parent)
    : QComboBox(parent), FSerialSelect(std::make_unique<TSerialSelect>()),
      items_(std::make_unique<ItemList>(*this)) {
  FSerialSelect->SetItems(items_.get());
  setEditable(false);  // drop-down list: only the items can be chosen
  connect(this, &QComboBox::activated, this, [this](int) { Change(); });
}

TSerialComboBox::~TSerialComboBox() {
  if (SerialPort()) RemoveFreeNotification(SerialPort());
}

void TSerialComboBox::SetSerialProperty(TSerialProperty value) {
  FSerialSelect->SetSerialProperty(value);
  if (count() == 0) return;
  if (!SerialPort()) {
    setCurrentIndex(0);
  } else {
    UpdateSettings();
  }
}

void TSerialComboBox::SetSerialPort(TCustomSerialPort* port) {
  if (port == SerialPort()) return;
  if (SerialPort()) RemoveFreeNotification(SerialPort());
  FSerialSelect->SetSerialPort(port);
  if (port) {
    FreeNotification(port);
    UpdateSettings();
  }
}

QString TSerialComboBox::Text() const { return currentIndex() < 0 ? QString() : itemText(currentIndex()); }

void TSerialComboBox::SetText(const QString& text) {
  const std::u16string wanted = text.toStdU16String();
  for (int i = 0; i < count(); ++i) {
    if (rtl::SameTextIgnoreCase(itemText(i).toStdU16String(), wanted)) {
      setCurrentIndex(i);
      return;
    }
  }
}

void TSerialComboBox::UpdateSettings() {
  if (!SerialPort()) return;
  int index = currentIndex();
  FSerialSelect->UpdateSettings(index);
  setCurrentIndex(index);
}

void TSerialComboBox::Change() {
  FSerialSelect->Change(Text().toStdU16String());
  if (AutoApply()) ApplySettings();
}

void TSerialComboBox::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == SerialPort()) {
    FSerialSelect->SetSerialPort(nullptr);
    if (count() > 0) setCurrentIndex(0);
  }
}

}  // namespace serial
