// Start-up: the application object, the hand-over pump, the windows, the message loop.
#include <QApplication>
#include <QMainWindow>

#include "toolkit/handoverpump.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Corvane"));
  QApplication::setApplicationDisplayName(QStringLiteral("Corvane"));
  toolkit::THandoverPump pump;

  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Corvane"));
  window.resize(612, 584);
  window.show();
  return QApplication::exec();
}
