// The file-transfer dialog: the file, the pause after each character and the prompt to wait
// for. Made once at start-up, shown non-modally; ButtonOKClick runs the transfer.
#pragma once

#include <QDialog>

class QCheckBox;
class QFileDialog;
class QLineEdit;
class QPushButton;

namespace terminal {
class TFormRS;
}

namespace automation {

class TFormTransfer : public QDialog {
 public:
  explicit TFormTransfer(terminal::TFormRS& formRS);

  QLineEdit* EditFile;
  QPushButton* ButtonSelect;
  QLineEdit* EditDelay;
  QCheckBox* CheckBoxWait;
  QLineEdit* EditPrompt;
  QPushButton* ButtonOK;
  QPushButton* ButtonCancel;

  void ButtonSelectClick();
  void ButtonCancelClick();
  // Sends the file; returns when the transfer has ended.
  void ButtonOKClick();

 private:
  terminal::TFormRS& formRS_;
};

}  // namespace automation
