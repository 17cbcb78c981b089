#include "terminal/globals.h"

namespace terminal {

QString StartDir;
bool PromptSeen = false;
bool PauseActive = false;

QString SettingsFilePath() {
  return StartDir.endsWith(u'/') ? StartDir + QStringLiteral("corvane.ini")
                                 : StartDir + QStringLiteral("/corvane.ini");
}

}  // namespace terminal
