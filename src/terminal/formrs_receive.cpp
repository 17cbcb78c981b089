// The display's writers that belong to the main window: received text, clear, save and log.
#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>

#include "runtime/codepage.h"
#include "runtime/textfile.h"
#include "terminal/formrs.h"
#include "terminal/globals.h"
#include "terminal/receive_transform.h"
#include "toolkit/display/display_view.h"

namespace terminal {

namespace {

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);

// The first character of a locale format that is not a field letter or a blank.
QString SeparatorOf(const QString& format, const QString& fallback) {
  for (QChar c : format)
    if (!c.isLetter() && c != u' ' && c != u'\'') return QString(c);
  return fallback;
}

QString Stamp() {
  const QLocale locale = QLocale::system();
  const QString dateSep = SeparatorOf(locale.dateFormat(QLocale::ShortFormat), QStringLiteral("/"));
  const QString timeSep = SeparatorOf(locale.timeFormat(QLocale::ShortFormat), QStringLiteral(":"));
  const QDateTime now = QDateTime::currentDateTime();
  const QDate d = now.date();
  const QTime t = now.time();
  return QString::fromStdU16String(FormatStamp(d.day(), d.month(), d.year(), t.hour(), t.minute(), t.second(),
                                               dateSep.toStdU16String(), timeSep.toStdU16String()));
}

}  // namespace

void TFormRS::SerialPortRxChar(rtl::TObject*, int32_t Count) {
  std::u16string text;
  SerialPort->ReadStr(text, Count);
  const QString prompt = dialogs_.EditPrompt ? dialogs_.EditPrompt->text() : QString();
  if (PromptOccurs(text, prompt.toStdU16String())) PromptSeen = true;
  const bool stamps = CheckBoxTimeStamp->isChecked();
  const QString stamp = stamps ? Stamp() : QString();
  text = TransformReceived(text, stamps, stamp.toStdU16String());
  // The display becomes the window's focus widget; an inactive window is not activated by it.
  Editor->setFocus(Qt::OtherFocusReason);
  Editor->MoveCaretToEnd();
  Editor->SetInsertionColour(kBlack);
  Editor->InsertAtCaret(QString::fromStdU16String(text));
  Editor->MoveCaretToEnd();
  Editor->SetInsertionColour(kRed);
}

void TFormRS::ButtonEraseClick() {
  if (QMessageBox::warning(this, QGuiApplication::applicationDisplayName(), QStringLiteral("Clear history ?"),
                           QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes)
    Editor->Clear();
  Editor->setFocus();
}

void TFormRS::ButtonSaveClick() {
  struct FocusBack {
    QWidget* w;
    ~FocusBack() { w->setFocus(); }
  } focusBack{Editor};
  SaveDialog->selectFile(saveName_);
  if (SaveDialog->exec() != QDialog::Accepted || SaveDialog->selectedFiles().isEmpty()) return;
  QString name = SaveDialog->selectedFiles().constFirst();
  saveName_ = QFileInfo(name).fileName();
  rtl::ReplaceFile(name.toStdString(), rtl::AnsiFromUnicode(Editor->PlainText().toStdU16String()));
}

void TFormRS::TimerLogTimer() {
  if (!CheckBoxLog->isChecked()) return;
  log_.Write(*Editor, LogPath());
}

QString TFormRS::LogPath() const {
  const QString folder = logFolder_.isEmpty() ? QCoreApplication::applicationDirPath() : logFolder_;
  return QDir(folder).filePath(QStringLiteral("log.txt"));
}

}  // namespace terminal
