// The main window: the terminal. Session control and the settings file, the display and what
// writes into it, typed keys and the line switches, auto-send runs and the transfer's pauses.
#pragma once

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "serial/serialport.h"
#include "terminal/logfile.h"
#include "terminal/settings.h"
#include "terminal/statusline.h"
#include "toolkit/loopwaits.h"
#include "toolkit/timer.h"

class QCheckBox;
class QDialog;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace serial {
class TSerialComboBox;
}
namespace toolkit {
class TDisplayView;
}

namespace terminal {

// The fields of the two dialogs that the main window reads and the dialogs it shows.
struct TDialogFields {
  QDialog* FormAutosend = nullptr;
  QLineEdit* EditPeriodAutosend = nullptr;
  QPlainTextEdit* MemoAutosend = nullptr;
  QDialog* FormTransfer = nullptr;
  QLineEdit* EditPrompt = nullptr;
};

class TFormRS : public QWidget {
 public:
  // Builds the window and runs FormCreate (reads the settings file in the working directory).
  TFormRS();
  ~TFormRS() override;

  // The dialogs, made after this window; until then their fields read as empty.
  void AttachDialogs(const TDialogFields& dialogs);
  const TDialogFields& Dialogs() const { return dialogs_; }

  // --- Controls (each one's objectName is its member name) -----------------------------------
  toolkit::TDisplayView* Editor;
  QGroupBox* GroupBoxSerial;
  serial::TSerialComboBox* ComNumberComboBoxSerial;
  serial::TSerialComboBox* BaudRateComboBoxSerial;
  QLabel* LabelDataBits;
  serial::TSerialComboBox* DataBitsComboBoxSerial;
  QLabel* LabelParity;
  serial::TSerialComboBox* ParityComboBoxSerial;
  QLabel* LabelStopBits;
  serial::TSerialComboBox* StopBitsComboBoxSerial;
  QCheckBox* CheckBoxEcho;
  QCheckBox* CheckBoxAutosend;
  QCheckBox* CheckBoxRTS;
  QCheckBox* CheckBoxDTR;
  QCheckBox* CheckBoxTimeStamp;
  QCheckBox* CheckBoxLog;
  QGroupBox* GroupBoxButtons;
  QToolButton* ButtonOpen;
  QToolButton* ButtonClose;
  QToolButton* ButtonErase;
  QToolButton* ButtonSave;
  QToolButton* ButtonFile;
  QToolButton* ButtonTimer;
  QGroupBox* GroupBoxAbout;
  QLabel* LabelAbout;
  QLabel* LabelLink;
  TStatusLine* StatusLine;

  // --- Non-visual parts ----------------------------------------------------------------------
  std::unique_ptr<serial::TSerialPort> SerialPort;
  std::unique_ptr<TSettingsFile> IniSettings;
  toolkit::TTimer* TimerAuto;
  toolkit::TTimer* TimerPause;
  toolkit::TTimer* TimerRefreshPorts;
  toolkit::TTimer* TimerLog;
  // Every message-loop wait of the window; all of them end when the window closes.
  toolkit::TLoopWaits Waits;

  // --- Session control and settings ----------------------------------------------------------
  void FormCreate();
  void FormActivate();
  // The exit steps; false when the settings file could not be written (the window stays open).
  bool FormClose();
  void ButtonOpenClick();
  void ButtonCloseClick();
  void TimerRefreshPortsTimer() { RefreshPorts(); }
  void OpenSession();
  void CloseSession();
  void RefreshPorts();
  bool IsPortAvailable();
  void SerialPortException(rtl::TObject* Sender, serial::TSerialExceptions PortException,
                           const std::u16string& PortMessage, int64_t WinError,
                           const std::u16string& WinMessage);

  // --- Display: received text, clear, save, log ---------------------------------------------
  void SerialPortRxChar(rtl::TObject* Sender, int32_t Count);
  void ButtonEraseClick();
  void ButtonSaveClick();
  void TimerLogTimer();
  // The folder of "log.txt": the executable's, unless a test points the window elsewhere.
  void SetLogFolder(const QString& folder) { logFolder_ = folder; }
  QString LogPath() const;
  QFileDialog* SaveDialog;

  // --- Keys and line switches ----------------------------------------------------------------
  // Key is the typed character; setting it to 0 consumes it.
  void EditorKeyPress(QChar& Key);
  void CheckBoxRTSChange();
  void CheckBoxDTRChange();

  // --- Auto-send ------------------------------------------------------------------------------
  void ButtonTimerClick();
  void CheckBoxAutosendChange();
  // One run of the sequence.
  void TimerAutoTimer();
  void TimerPauseTimer();
  // Interval 100 ms, stopped, then started again when condition holds.
  void ArmAutosend(bool condition);
  // The auto-send dialog's sequence, each line break a CR LF pair.
  QString AutosendSequence() const;
  // Runs the message loop until TimerPause ends the pause; false when the window is closing.
  bool PauseOneSecond();

  // --- File transfer --------------------------------------------------------------------------
  void ButtonFileClick();
  // Returns once more than laps ms have passed, serving the window meanwhile; false when the
  // window is closing (the caller then stops at once).
  bool Delay(int32_t laps);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void ConfigurePort();
  void SetDisplayBackground(const QColor& colour);
  void SetSelectorsEnabled(bool enabled);

  TDialogFields dialogs_;
  TLogFile log_;
  QString logFolder_;
  QString saveName_ = QStringLiteral("data.txt");
  bool autosendRunning_ = false;
  bool shownOnce_ = false;
  QPointer<QWidget> lastActive_;  // the window of this application that was active last
  bool opening_ = false;          // inside OpenSession's Open
};

}  // namespace terminal
