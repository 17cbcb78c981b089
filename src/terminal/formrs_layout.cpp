// The main window's controls and their layout.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>

#include "serial/serialportctl.h"
#include "terminal/formrs.h"
#include "toolkit/display/display_view.h"

// The button pictures live in this static library's resources, which need registering.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace terminal {

namespace {

constexpr int kColumnWidth = 130;

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QToolButton* PictureButton(QWidget* parent, const char* name, const char* icon, const char* hint) {
  auto* b = Named(new QToolButton(parent), name);
  b->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(icon))));
  b->setIconSize(QSize(32, 32));
  b->setToolTip(QString::fromLatin1(hint));
  b->setAutoRaise(false);
  b->setFixedSize(48, 44);
  b->setFocusPolicy(Qt::TabFocus);
  return b;
}

}  // namespace

void TFormRS::BuildControls() {
  InitIconResources();
  setObjectName(QStringLiteral("FormRS"));
  setWindowTitle(QStringLiteral("Corvane"));

  Editor = Named(new toolkit::TDisplayView(this), "Editor");

  GroupBoxSerial = Named(new QGroupBox(QStringLiteral(" Serial Port "), this), "GroupBoxSerial");
  ComNumberComboBoxSerial = Named(new serial::TSerialComboBox(GroupBoxSerial), "ComNumberComboBoxSerial");
  BaudRateComboBoxSerial = Named(new serial::TSerialComboBox(GroupBoxSerial), "BaudRateComboBoxSerial");
  LabelDataBits = Named(new QLabel(QStringLiteral("Data Bits"), GroupBoxSerial), "LabelDataBits");
  DataBitsComboBoxSerial = Named(new serial::TSerialComboBox(GroupBoxSerial), "DataBitsComboBoxSerial");
  LabelParity = Named(new QLabel(QStringLiteral("Parity"), GroupBoxSerial), "LabelParity");
  ParityComboBoxSerial = Named(new serial::TSerialComboBox(GroupBoxSerial), "ParityComboBoxSerial");
  LabelStopBits = Named(new QLabel(QStringLiteral("Stop Bits"), GroupBoxSerial), "LabelStopBits");
  StopBitsComboBoxSerial = Named(new serial::TSerialComboBox(GroupBoxSerial), "StopBitsComboBoxSerial");
  CheckBoxEcho = Named(new QCheckBox(QStringLiteral("Echo"), GroupBoxSerial), "CheckBoxEcho");
  CheckBoxAutosend = Named(new QCheckBox(QStringLiteral("Auto send"), GroupBoxSerial), "CheckBoxAutosend");
  CheckBoxRTS = Named(new QCheckBox(QStringLiteral("RTS"), GroupBoxSerial), "CheckBoxRTS");
  CheckBoxDTR = Named(new QCheckBox(QStringLiteral("DTR"), GroupBoxSerial), "CheckBoxDTR");
  CheckBoxTimeStamp = Named(new QCheckBox(QStringLiteral("Timestamp"), GroupBoxSerial), "CheckBoxTimeStamp");
  CheckBoxLog = Named(new QCheckBox(QStringLiteral("Log"), GroupBoxSerial), "CheckBoxLog");
  LabelDataBits->setBuddy(DataBitsComboBoxSerial);
  LabelParity->setBuddy(ParityComboBoxSerial);
  LabelStopBits->setBuddy(StopBitsComboBoxSerial);

  auto* serialGrid = new QGridLayout(GroupBoxSerial);
  serialGrid->setContentsMargins(6, 6, 6, 6);
  serialGrid->setHorizontalSpacing(4);
  serialGrid->setVerticalSpacing(4);
  serialGrid->addWidget(ComNumberComboBoxSerial, 0, 0, 1, 2);
  serialGrid->addWidget(BaudRateComboBoxSerial, 1, 0, 1, 2);
  serialGrid->addWidget(LabelDataBits, 2, 0);
  serialGrid->addWidget(DataBitsComboBoxSerial, 2, 1);
  serialGrid->addWidget(LabelParity, 3, 0);
  serialGrid->addWidget(ParityComboBoxSerial, 3, 1);
  serialGrid->addWidget(LabelStopBits, 4, 0);
  serialGrid->addWidget(StopBitsComboBoxSerial, 4, 1);
  int row = 5;
  for (QCheckBox* box : {CheckBoxEcho, CheckBoxAutosend, CheckBoxRTS, CheckBoxDTR, CheckBoxTimeStamp, CheckBoxLog})
    serialGrid->addWidget(box, row++, 0, 1, 2);
  serialGrid->setColumnStretch(1, 1);

  GroupBoxButtons = Named(new QGroupBox(this), "GroupBoxButtons");
  ButtonOpen = PictureButton(GroupBoxButtons, "ButtonOpen", "open", "Open Port");
  ButtonClose = PictureButton(GroupBoxButtons, "ButtonClose", "close", "Close Port");
  ButtonErase = PictureButton(GroupBoxButtons, "ButtonErase", "erase", "Clear dialog box");
  ButtonSave = PictureButton(GroupBoxButtons, "ButtonSave", "save", "Save to file");
  ButtonFile = PictureButton(GroupBoxButtons, "ButtonFile", "file", "Transfer File");
  ButtonTimer = PictureButton(GroupBoxButtons, "ButtonTimer", "timer", "Auto send");
  auto* buttonGrid = new QGridLayout(GroupBoxButtons);
  buttonGrid->setContentsMargins(6, 6, 6, 6);
  buttonGrid->addWidget(ButtonOpen, 0, 0);
  buttonGrid->addWidget(ButtonClose, 0, 0);  // the same place: one of the two shows
  buttonGrid->addWidget(ButtonErase, 0, 1);
  buttonGrid->addWidget(ButtonSave, 1, 0);
  buttonGrid->addWidget(ButtonFile, 1, 1);
  buttonGrid->addWidget(ButtonTimer, 2, 0);
  buttonGrid->setRowStretch(3, 1);

  GroupBoxAbout = Named(new QGroupBox(this), "GroupBoxAbout");
  LabelAbout = Named(new QLabel(QStringLiteral("Corvane V2.10\nSerial terminal"), GroupBoxAbout), "LabelAbout");
  LabelAbout->setAlignment(Qt::AlignCenter);
  LabelLink = Named(new QLabel(GroupBoxAbout), "LabelLink");
  LabelLink->setText(QStringLiteral(
      "<a href=\"https://corvane.org\" style=\"color:#0000ff; font-weight:bold; "
      "text-decoration:underline\">corvane.org</a>"));
  LabelLink->setTextFormat(Qt::RichText);
  LabelLink->setOpenExternalLinks(true);
  LabelLink->setAlignment(Qt::AlignCenter);
  LabelLink->setToolTip(QStringLiteral("https://corvane.org"));
  auto* aboutBox = new QVBoxLayout(GroupBoxAbout);
  aboutBox->setContentsMargins(4, 4, 4, 4);
  aboutBox->addWidget(LabelAbout);
  aboutBox->addWidget(LabelLink);

  auto* column = new QVBoxLayout;
  column->setSpacing(4);
  column->addWidget(GroupBoxSerial, 0);
  column->addWidget(GroupBoxButtons, 1);
  column->addWidget(GroupBoxAbout, 0);
  // The column is narrow: its controls use the small dialog font of the classic desktop.
  QFont small = font();
  small.setPixelSize(11);
  for (QWidget* w : {static_cast<QWidget*>(GroupBoxSerial), static_cast<QWidget*>(GroupBoxButtons),
                     static_cast<QWidget*>(GroupBoxAbout)}) {
    w->setFixedWidth(kColumnWidth);
    w->setFont(small);
  }

  StatusLine = new TStatusLine(this);

  auto* top = new QHBoxLayout;
  top->setSpacing(4);
  top->addWidget(Editor, 1);
  top->addLayout(column, 0);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(4, 4, 4, 2);
  root->setSpacing(2);
  root->addLayout(top, 1);
  root->addWidget(StatusLine, 0);

  setMinimumSize(612, 584);
  resize(612, 584);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(612 / 2, 584 / 2));
  }
}

}  // namespace terminal
