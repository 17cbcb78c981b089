#include "toolkit/errorbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "runtime/exceptions.h"

namespace toolkit {

QString ErrorBoxText(const QString& message) {
  if (!message.isEmpty() && message.back() > QChar(u'.')) return message + u'.';
  return message;
}

void ShowErrorBox(const QString& message) {
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(),
                  ErrorBoxText(message), QMessageBox::Ok, QApplication::activeWindow());
  box.setObjectName(QStringLiteral("ErrorBox"));
  box.exec();
}

QString ExceptionMessage(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const rtl::Exception& e) {
    return QString::fromStdU16String(e.Message());
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("Exception inconnue");
  }
}

bool RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    ShowErrorBox(ExceptionMessage(std::current_exception()));
    return false;
  }
}

bool RunGuardedBoxLater(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (...) {
    QTimer::singleShot(0, qApp, [message = ExceptionMessage(std::current_exception())] { ShowErrorBox(message); });
    return false;
  }
}

}  // namespace toolkit
