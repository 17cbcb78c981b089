// The auto-send dialog: the period and the sequence that auto-send repeats. Made once at
// start-up, shown non-modally; its fields are read by the main window at every run.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace terminal {
class TFormRS;
}

namespace automation {

class TFormAutosend : public QDialog {
 public:
  // Runs FormCreate: fills the fields from the settings file.
  explicit TFormAutosend(terminal::TFormRS& formRS);

  QLineEdit* EditPeriodAutosend;
  QPlainTextEdit* MemoAutosend;
  QCheckBox* CheckBoxAutosend;  // never shown: whether auto-send ran when the dialog was shown
  QPushButton* ButtonOK;
  QPushButton* ButtonCancel;

  // The sequence exactly as typed, each line break a CR LF pair.
  QString SequenceText() const;
  void SetSequenceText(const QString& text);

  void FormCreate();
  void FormShow();
  void ButtonOKClick();
  void ButtonCancelClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  terminal::TFormRS& formRS_;
};

}  // namespace automation
