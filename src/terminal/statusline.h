// The line under the display that tells the first port failure since the session was opened,
// and how many followed it, so that a failed open or a vanished device never goes unnoticed.
#pragma once

#include <QLabel>

namespace terminal {

class TStatusLine : public QLabel {
 public:
  explicit TStatusLine(QWidget* parent = nullptr);

  // Forgets what was shown (a session is being opened).
  void Reset();
  // Records one failure: the first one is shown, later ones are counted after it.
  void Report(const QString& portMessage, const QString& systemText);
  int Count() const { return count_; }

 private:
  QString first_;
  int count_ = 0;
};

}  // namespace terminal
