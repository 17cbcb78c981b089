// The main window's life and its two session states: creation, activation, closing, the
// Open and Close buttons, the port list refresh and the settings file.
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QToolButton>

#include "runtime/syserror.h"
#include "serial/device/comm.h"
#include "serial/device/portlist.h"
#include "serial/serialportctl.h"
#include "terminal/formrs.h"
#include "terminal/globals.h"
#include "toolkit/display/display_view.h"
#include "toolkit/errorbox.h"

namespace terminal {

namespace {

const QColor kWhite(255, 255, 255);

QColor ButtonFace() { return QApplication::palette().color(QPalette::Button); }

// The system's list of ports, in its own order.
QStringList SystemPortList() {
  QStringList names;
  for (const std::string& name : comm::SystemPortNames()) names << QString::fromStdString(name);
  return names;
}

}  // namespace

TFormRS::TFormRS()
    : TimerAuto(new toolkit::TTimer(this)),
      TimerPause(new toolkit::TTimer(this)),
      TimerRefreshPorts(new toolkit::TTimer(this)),
      TimerLog(new toolkit::TTimer(this)) {
  BuildControls();
  ConfigurePort();

  ComNumberComboBoxSerial->SetSerialProperty(serial::cpPort);
  BaudRateComboBoxSerial->SetSerialProperty(serial::cpBaudRate);
  BaudRateComboBoxSerial->SetText(QStringLiteral("57600"));
  DataBitsComboBoxSerial->SetSerialProperty(serial::cpDataBits);
  ParityComboBoxSerial->SetSerialProperty(serial::cpParity);
  StopBitsComboBoxSerial->SetSerialProperty(serial::cpStopBits);
  for (serial::TSerialComboBox* box : {DataBitsComboBoxSerial, ParityComboBoxSerial, StopBitsComboBoxSerial})
    box->SetSerialPort(SerialPort.get());

  CheckBoxRTS->setChecked(true);
  CheckBoxDTR->setChecked(true);
  ButtonClose->hide();
  ButtonFile->setEnabled(false);

  SaveDialog = new QFileDialog(this);
  SaveDialog->setObjectName(QStringLiteral("SaveDialog"));
  SaveDialog->setAcceptMode(QFileDialog::AcceptSave);
  SaveDialog->setFileMode(QFileDialog::AnyFile);
  SaveDialog->setNameFilter(QStringLiteral("Text Files (*.txt)"));
  SaveDialog->setDefaultSuffix(QStringLiteral("txt"));
  SaveDialog->setOption(QFileDialog::DontConfirmOverwrite, false);
  SaveDialog->setSizeGripEnabled(true);

  // Every handler runs through the guard: an error ends it and shows the error box.
  auto guarded = [](auto fn) { return [fn] { toolkit::RunGuarded(fn); }; };
  connect(ButtonOpen, &QToolButton::clicked, this, guarded([this] { ButtonOpenClick(); }));
  connect(ButtonClose, &QToolButton::clicked, this, guarded([this] { ButtonCloseClick(); }));
  connect(ButtonErase, &QToolButton::clicked, this, guarded([this] { ButtonEraseClick(); }));
  connect(ButtonSave, &QToolButton::clicked, this, guarded([this] { ButtonSaveClick(); }));
  connect(ButtonFile, &QToolButton::clicked, this, guarded([this] { ButtonFileClick(); }));
  connect(ButtonTimer, &QToolButton::clicked, this, guarded([this] { ButtonTimerClick(); }));
  connect(CheckBoxRTS, &QCheckBox::toggled, this, guarded([this] { CheckBoxRTSChange(); }));
  connect(CheckBoxDTR, &QCheckBox::toggled, this, guarded([this] { CheckBoxDTRChange(); }));
  connect(CheckBoxAutosend, &QCheckBox::toggled, this, guarded([this] { CheckBoxAutosendChange(); }));
  Editor->OnKeyPress = [this](QChar& key) { toolkit::RunGuarded([&] { EditorKeyPress(key); }); };
  // The event thread waits while the handler runs: its error box comes after it, so that no
  // modal loop runs (and no Close can wait for the thread) inside the hand-over.
  SerialPort->SetOnRxChar([this](rtl::TObject* sender, int32_t count) {
    toolkit::RunGuardedBoxLater([&] { SerialPortRxChar(sender, count); });
  });

  // The timers' handlers run through the guard too (TTimer does it).
  TimerAuto->SetInterval(100);
  TimerAuto->OnTimer = [this] { TimerAutoTimer(); };
  TimerPause->SetInterval(1000);
  TimerPause->OnTimer = [this] { TimerPauseTimer(); };
  TimerRefreshPorts->SetInterval(1000);
  TimerRefreshPorts->OnTimer = [this] { TimerRefreshPortsTimer(); };
  TimerRefreshPorts->SetEnabled(true);
  TimerLog->SetInterval(10000);
  TimerLog->OnTimer = [this] { TimerLogTimer(); };
  TimerLog->SetEnabled(true);

  qApp->installEventFilter(this);
  FormCreate();
}

TFormRS::~TFormRS() {
  qApp->removeEventFilter(this);
  // The port reports into this window while it closes; close it while the window still exists.
  if (SerialPort) SerialPort->Close();
}

void TFormRS::AttachDialogs(const TDialogFields& dialogs) { dialogs_ = dialogs; }

void TFormRS::ConfigurePort() {
  SerialPort = std::make_unique<serial::TSerialPort>();
  serial::TSerialPort& p = *SerialPort;
  p.BeginLoading();
  p.SetPort(u"COM9");
  p.SetBaudRate(serial::br57600);
  p.SetDataBits(serial::dbEight);
  p.Parity().SetBits(serial::prNone);
  p.SetStopBits(serial::sbOneStopBit);
  p.SetDiscardNull(true);
  p.SetEvents(serial::TSerialEvents{serial::evRxChar});
  p.Buffer().SetInputSize(2048);
  p.FlowControl().SetOutCTSFlow(false);
  p.FlowControl().SetOutDSRFlow(false);
  p.FlowControl().SetControlDTR(serial::dtrDisable);
  p.FlowControl().SetControlRTS(serial::rtsDisable);
  p.FlowControl().SetXonXoffOut(false);
  p.FlowControl().SetXonXoffIn(false);
  p.Timeouts().SetReadInterval(500);
  p.Timeouts().SetReadTotalMultiplier(500);
  p.Timeouts().SetReadTotalConstant(5000);
  p.SetTriggersOnRxChar(true);
  p.SetSyncMethod(serial::smThreadSync);
  p.SetOnException([this](rtl::TObject* sender, serial::TSerialExceptions e, const std::u16string& message,
                          int64_t winError, const std::u16string& winMessage) {
    SerialPortException(sender, e, message, winError, winMessage);
  });
  // What must not propagate out of the port (a failure while it closes in its destructor) is
  // shown as any other error.
  p.SetExceptionDisplay([](std::exception_ptr e) { toolkit::ShowErrorBox(toolkit::ExceptionMessage(e)); });
  p.EndLoading();
}

void TFormRS::FormCreate() {
  StartDir = QDir::currentPath();
  // Links to pseudo-terminals that a user made in the start-up folder are listed as ports.
  comm::DeviceRoots roots = comm::GetDeviceRoots();
  roots.startDir = StartDir.toStdString();
  comm::SetDeviceRoots(roots);
  IniSettings = std::make_unique<TSettingsFile>(SettingsFilePath());
  ComNumberComboBoxSerial->SetText(IniSettings->Read(kSerialSection, u"Com Number", QStringLiteral("COM1")));
  BaudRateComboBoxSerial->SetText(IniSettings->Read(kSerialSection, u"Baud Rate", QStringLiteral("19200")));
  DataBitsComboBoxSerial->SetText(IniSettings->Read(kSerialSection, u"Data Bits", QStringLiteral("8")));
  ParityComboBoxSerial->SetText(IniSettings->Read(kSerialSection, u"Parity", QStringLiteral("N")));
  StopBitsComboBoxSerial->SetText(IniSettings->Read(kSerialSection, u"Stop Bits", QStringLiteral("1")));
  CheckBoxEcho->setChecked(IniSettings->ReadEcho());
  Editor->MoveCaretToEnd();
  Editor->SetInsertionColour(QColor(255, 0, 0));
}

void TFormRS::FormActivate() {
  if (IniSettings->Exists()) {
    OpenSession();
  } else {
    SetDisplayBackground(ButtonFace());
  }
}

bool TFormRS::FormClose() {
  TimerAuto->SetEnabled(false);
  SerialPort->Close();
  return toolkit::RunGuarded([this] {
    TSettingsFile& ini = *IniSettings;
    ini.Write(kSerialSection, u"Com Number", ComNumberComboBoxSerial->Text());
    ini.Write(kSerialSection, u"Baud Rate", BaudRateComboBoxSerial->Text());
    ini.Write(kSerialSection, u"Data Bits", DataBitsComboBoxSerial->Text());
    ini.Write(kSerialSection, u"Parity", ParityComboBoxSerial->Text());
    ini.Write(kSerialSection, u"Stop Bits", StopBitsComboBoxSerial->Text());
    ini.Write(kSerialSection, u"Echo", CheckBoxEcho->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    ini.Write(kAutoSendSection, u"Period",
              dialogs_.EditPeriodAutosend ? dialogs_.EditPeriodAutosend->text() : QString());
    ini.WriteSequence(AutosendSequence());
  });
}

void TFormRS::ButtonOpenClick() {
  if (!ComNumberComboBoxSerial->Text().isEmpty()) OpenSession();
}

void TFormRS::ButtonCloseClick() { CloseSession(); }

void TFormRS::OpenSession() {
  SerialPort->SetPort(ComNumberComboBoxSerial->Text().toStdU16String());
  if (int i = BaudRateComboBoxSerial->currentIndex(); i >= 0)
    SerialPort->SetBaudRate(static_cast<serial::TBaudRate>(i));
  if (int i = DataBitsComboBoxSerial->currentIndex(); i >= 0)
    SerialPort->SetDataBits(static_cast<serial::TDataBits>(i));
  if (int i = ParityComboBoxSerial->currentIndex(); i >= 0)
    SerialPort->Parity().SetBits(static_cast<serial::TParityBits>(i));
  if (int i = StopBitsComboBoxSerial->currentIndex(); i >= 0)
    SerialPort->SetStopBits(static_cast<serial::TStopBits>(i));
  if (!SerialPort->Connected()) {
    StatusLine->Reset();
    opening_ = true;
    SerialPort->Open();
    opening_ = false;
  }
  SetSelectorsEnabled(false);
  ButtonClose->show();
  ButtonOpen->hide();
  SetDisplayBackground(kWhite);
  if (Editor->isEnabled()) Editor->setFocus();
  ButtonFile->setEnabled(true);
  ButtonTimer->setEnabled(true);
  CheckBoxRTS->setEnabled(true);
  CheckBoxDTR->setEnabled(true);
  SerialPort->SetRTS(CheckBoxRTS->isChecked());
  SerialPort->SetDTR(CheckBoxDTR->isChecked());
  ArmAutosend(CheckBoxAutosend->isChecked());
}

void TFormRS::CloseSession() {
  SerialPort->Close();
  SetSelectorsEnabled(true);
  ButtonClose->hide();
  ButtonOpen->show();
  SetDisplayBackground(ButtonFace());
  ButtonFile->setEnabled(false);
  ButtonTimer->setEnabled(false);
  TimerAuto->SetEnabled(false);
  CheckBoxRTS->setEnabled(false);
  CheckBoxDTR->setEnabled(false);
}

void TFormRS::RefreshPorts() {
  if (SerialPort->Connected()) return;
  const QStringList system = SystemPortList();
  QStringList shown;
  for (int i = 0; i < ComNumberComboBoxSerial->count(); ++i) shown << ComNumberComboBoxSerial->itemText(i);
  if (system == shown) return;
  ComNumberComboBoxSerial->clear();
  ComNumberComboBoxSerial->addItems(system);
  ComNumberComboBoxSerial->setCurrentIndex(-1);
  ComNumberComboBoxSerial->SetText(QString::fromStdU16String(SerialPort->Port()));
}

bool TFormRS::IsPortAvailable() {
  return SystemPortList().contains(ComNumberComboBoxSerial->Text(), Qt::CaseSensitive);
}

void TFormRS::SerialPortException(rtl::TObject*, serial::TSerialExceptions, const std::u16string& PortMessage,
                                  int64_t WinError, const std::u16string&) {
  // Port failures never interrupt the user; the status line tells the first one of a session.
  if (!opening_ && !SerialPort->Connected()) return;
  QString system;
  if (WinError > 0) system = QString::fromStdU16String(rtl::SysErrorMessage(static_cast<uint32_t>(WinError)));
  StatusLine->Report(QString::fromStdU16String(PortMessage), system);
}

void TFormRS::SetDisplayBackground(const QColor& colour) { Editor->SetBackground(colour); }

void TFormRS::SetSelectorsEnabled(bool enabled) {
  for (QWidget* w : {static_cast<QWidget*>(ComNumberComboBoxSerial), static_cast<QWidget*>(BaudRateComboBoxSerial),
                     static_cast<QWidget*>(DataBitsComboBoxSerial), static_cast<QWidget*>(ParityComboBoxSerial),
                     static_cast<QWidget*>(StopBitsComboBoxSerial)})
    w->setEnabled(enabled);
  for (QLabel* l : {LabelDataBits, LabelParity, LabelStopBits}) l->setEnabled(enabled);
}

void TFormRS::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  lastActive_ = this;
  // The first showing is an activation, whatever the window manager does with the focus.
  QTimer::singleShot(0, this, [this] { toolkit::RunGuarded([this] { FormActivate(); }); });
}

bool TFormRS::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    auto* window = qobject_cast<QWidget*>(watched);
    if (window && window->isWindow()) {
      if (window == this) {
        QWidget* before = lastActive_;
        lastActive_ = this;
        // Focus coming back from one of the dialogs is an activation; from a message box, a
        // file dialog or another application it is not.
        const bool fromDialog = before && (before == dialogs_.FormAutosend || before == dialogs_.FormTransfer);
        if (fromDialog && shownOnce_)
          QTimer::singleShot(0, this, [this] { toolkit::RunGuarded([this] { FormActivate(); }); });
      } else {
        lastActive_ = window;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TFormRS::closeEvent(QCloseEvent* event) {
  if (!FormClose()) {
    event->ignore();
    return;
  }
  event->accept();
  // End every pause, delay and prompt wait, then the application, dialogs open or not.
  Waits.AbandonAll();
  for (QDialog* d : {dialogs_.FormAutosend, dialogs_.FormTransfer})
    if (d) d->hide();
  QCoreApplication::quit();
}

}  // namespace terminal
