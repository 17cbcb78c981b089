#include "automation/autosend.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include "terminal/formrs.h"
#include "terminal/globals.h"
#include "terminal/settings.h"
#include "toolkit/errorbox.h"

namespace automation {

namespace {

void CentreOnScreen(QWidget& w) {
  if (QScreen* screen = QGuiApplication::primaryScreen())
    w.move(screen->availableGeometry().center() - QPoint(w.width() / 2, w.height() / 2));
}

}  // namespace

TFormAutosend::TFormAutosend(terminal::TFormRS& formRS)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      formRS_(formRS) {
  setObjectName(QStringLiteral("FormAutosend"));
  setWindowTitle(QStringLiteral("File Transfer"));
  setModal(false);

  auto* labelPeriod = new QLabel(QString::fromUtf8("Période en secondes :"), this);
  labelPeriod->setObjectName(QStringLiteral("LabelPeriod"));
  EditPeriodAutosend = new QLineEdit(QStringLiteral("10"), this);
  EditPeriodAutosend->setObjectName(QStringLiteral("EditPeriodAutosend"));
  EditPeriodAutosend->setMaxLength(4);
  EditPeriodAutosend->setFixedWidth(60);
  labelPeriod->setBuddy(EditPeriodAutosend);
  MemoAutosend = new QPlainTextEdit(this);
  MemoAutosend->setObjectName(QStringLiteral("MemoAutosend"));
  MemoAutosend->setLineWrapMode(QPlainTextEdit::NoWrap);
  MemoAutosend->setTabChangesFocus(true);
  auto* labelPause = new QLabel(QString::fromUtf8("(Caractère \"-\" = Pause de 1 s)"), this);
  labelPause->setObjectName(QStringLiteral("LabelPause"));
  CheckBoxAutosend = new QCheckBox(this);
  CheckBoxAutosend->setObjectName(QStringLiteral("CheckBoxAutosend"));
  CheckBoxAutosend->setVisible(false);
  ButtonOK = new QPushButton(QStringLiteral("OK"), this);
  ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
  ButtonOK->setDefault(true);
  ButtonCancel = new QPushButton(QStringLiteral("Annuler"), this);
  ButtonCancel->setObjectName(QStringLiteral("ButtonCancel"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(labelPeriod, 0, 0);
  grid->addWidget(EditPeriodAutosend, 0, 1, Qt::AlignLeft);
  grid->addWidget(MemoAutosend, 1, 0, 1, 2);
  grid->addWidget(labelPause, 2, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ButtonOK);
  buttons->addWidget(ButtonCancel);
  grid->addLayout(buttons, 3, 0, 1, 2);
  MemoAutosend->setMinimumSize(300, 140);

  connect(ButtonOK, &QPushButton::clicked, this, [this] { toolkit::RunGuarded([this] { ButtonOKClick(); }); });
  connect(ButtonCancel, &QPushButton::clicked, this,
          [this] { toolkit::RunGuarded([this] { ButtonCancelClick(); }); });

  adjustSize();
  setFixedSize(sizeHint());
  CentreOnScreen(*this);
  FormCreate();
}

QString TFormAutosend::SequenceText() const {
  QString text = MemoAutosend->toPlainText();
  text.replace(u'\n', QStringLiteral("\r\n"));
  return text;
}

void TFormAutosend::SetSequenceText(const QString& text) {
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  plain.replace(u'\r', u'\n');
  MemoAutosend->setPlainText(plain);
}

void TFormAutosend::FormCreate() {
  terminal::StartDir = QDir::currentPath();
  terminal::TSettingsFile ini(terminal::SettingsFilePath());
  EditPeriodAutosend->setText(ini.Read(terminal::kAutoSendSection, u"Period", QStringLiteral("10")));
  SetSequenceText(ini.ReadSequence());
}

void TFormAutosend::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  toolkit::RunGuarded([this] { FormShow(); });
}

void TFormAutosend::FormShow() {
  CheckBoxAutosend->setChecked(formRS_.TimerAuto->Enabled());
  formRS_.TimerAuto->SetEnabled(false);
}

void TFormAutosend::ButtonOKClick() {
  formRS_.ArmAutosend(CheckBoxAutosend->isChecked());
  hide();
}

void TFormAutosend::ButtonCancelClick() { hide(); }

}  // namespace automation
