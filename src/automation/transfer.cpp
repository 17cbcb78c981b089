#include "automation/transfer.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include <QToolButton>

#include "runtime/strtoint.h"
#include "runtime/textreader.h"
#include "terminal/formrs.h"
#include "terminal/globals.h"
#include "toolkit/display/display_view.h"
#include "toolkit/errorbox.h"

namespace automation {

TFormTransfer::TFormTransfer(terminal::TFormRS& formRS)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      formRS_(formRS) {
  setObjectName(QStringLiteral("FormTransfer"));
  setWindowTitle(QStringLiteral("File Transfer"));
  setModal(false);

  auto* labelFile = new QLabel(QString::fromUtf8("Fichier à transférer :"), this);
  labelFile->setObjectName(QStringLiteral("LabelFile"));
  EditFile = new QLineEdit(this);
  EditFile->setObjectName(QStringLiteral("EditFile"));
  EditFile->setMinimumWidth(260);
  labelFile->setBuddy(EditFile);
  ButtonSelect = new QPushButton(QStringLiteral("..."), this);
  ButtonSelect->setObjectName(QStringLiteral("ButtonSelect"));
  ButtonSelect->setAutoDefault(false);
  ButtonSelect->setFixedWidth(32);
  auto* labelDelay = new QLabel(QString::fromUtf8("Pause en ms entre chaque caractère :"), this);
  labelDelay->setObjectName(QStringLiteral("LabelDelay"));
  EditDelay = new QLineEdit(QStringLiteral("20"), this);
  EditDelay->setObjectName(QStringLiteral("EditDelay"));
  EditDelay->setMaxLength(4);
  EditDelay->setFixedWidth(60);
  labelDelay->setBuddy(EditDelay);
  CheckBoxWait = new QCheckBox(QString::fromUtf8("Attendre un caractère entre chaque ligne :"), this);
  CheckBoxWait->setObjectName(QStringLiteral("CheckBoxWait"));
  EditPrompt = new QLineEdit(QStringLiteral(">"), this);
  EditPrompt->setObjectName(QStringLiteral("EditPrompt"));
  EditPrompt->setMaxLength(1);
  EditPrompt->setFixedWidth(30);
  ButtonOK = new QPushButton(QStringLiteral("OK"), this);
  ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
  ButtonOK->setDefault(true);
  ButtonCancel = new QPushButton(QStringLiteral("Annuler"), this);
  ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));
  ButtonCancel->setAutoDefault(false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(labelFile, 0, 0, 1, 3);
  grid->addWidget(EditFile, 1, 0, 1, 2);
  grid->addWidget(ButtonSelect, 1, 2);
  grid->addWidget(labelDelay, 2, 0);
  grid->addWidget(EditDelay, 2, 1, 1, 2, Qt::AlignLeft);
  grid->addWidget(CheckBoxWait, 3, 0);
  grid->addWidget(EditPrompt, 3, 1, 1, 2, Qt::AlignLeft);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonOK);
  buttons->addWidget(ButtonCancel);
  grid->addLayout(buttons, 4, 0, 1, 3);

  connect(ButtonSelect, &QPushButton::clicked, this,
          [this] { toolkit::RunGuarded([this] { ButtonSelectClick(); }); });
  connect(ButtonCancel, &QPushButton::clicked, this,
          [this] { toolkit::RunGuarded([this] { ButtonCancelClick(); }); });
  connect(ButtonOK, &QPushButton::clicked, this, [this] { toolkit::RunGuarded([this] { ButtonOKClick(); }); });

  adjustSize();
  setFixedSize(sizeHint());
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

void TFormTransfer::ButtonSelectClick() {
  QString name = QFileDialog::getOpenFileName(this, QString(), EditFile->text());
  if (!name.isEmpty()) EditFile->setText(name);
}

void TFormTransfer::ButtonCancelClick() { hide(); }

void TFormTransfer::ButtonOKClick() {
  terminal::TFormRS& rs = formRS_;
  rs.ButtonOpen->setEnabled(false);
  // However the transfer ends, the file is closed (the reader's destructor) and Open comes back.
  struct OpenBack {
    QToolButton* button;
    ~OpenBack() { button->setEnabled(true); }
  } openBack{rs.ButtonOpen};
  rtl::TTextFileReader reader;
  reader.Open(EditFile->text().toStdString());
  hide();

  // The pause is read anew each time, so a change made during the transfer counts at once.
  auto pause = [&] { return rs.Delay(rtl::StrToInt(EditDelay->text().toStdU16String())); };
  auto send = [&](char16_t c) { rs.SerialPort->WriteStr(std::u16string(1, c)); };
  const QColor red(255, 0, 0), black(0, 0, 0);
  while (!reader.Eof()) {
    char16_t c;
    while (reader.ReadLineChar(c)) {
      send(c);
      if (rs.CheckBoxEcho->isChecked()) {
        rs.Editor->MoveCaretToEnd();
        rs.Editor->SetInsertionColour(red);
        rs.Editor->InsertAtCaret(QString(QChar(c)));
        rs.Editor->SetInsertionColour(black);
      }
      if (!pause()) return;  // the main window closed
    }
    terminal::PromptSeen = false;
    if (!pause()) return;
    send(u'\r');
    if (!pause()) return;
    send(u'\n');
    if (CheckBoxWait->isChecked()) {
      // No prompt can come from a closed port: the wait ends with the session.
      auto outcome = rs.Waits.RunUntil([&] { return terminal::PromptSeen || !rs.SerialPort->Connected(); });
      if (outcome == toolkit::TLoopWaits::Outcome::Abandoned) return;
    }
    if (!pause() || !pause()) return;
  }
}

}  // namespace automation
