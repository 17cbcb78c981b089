#include "terminal/statusline.h"

namespace terminal {

TStatusLine::TStatusLine(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("StatusLine"));
  setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void TStatusLine::Reset() {
  first_.clear();
  count_ = 0;
  clear();
  setToolTip(QString());
}

void TStatusLine::Report(const QString& portMessage, const QString& systemText) {
  if (count_++ == 0) {
    first_ = systemText.isEmpty() ? portMessage : portMessage + QStringLiteral(": ") + systemText;
    setToolTip(first_);
  }
  setText(count_ == 1 ? first_ : QStringLiteral("%1  (+%2 more)").arg(first_).arg(count_ - 1));
}

}  // namespace terminal
