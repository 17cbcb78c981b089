// The state the terminal's windows share for the whole run.
#pragma once

#include <QString>

namespace terminal {

// The working directory when the main window was created; the settings file lives there.
extern QString StartDir;
// Set when the transfer prompt occurs in a received batch; cleared and awaited by the transfer.
extern bool PromptSeen;
// True while auto-send's one-second pause runs.
extern bool PauseActive;

// StartDir followed by the settings file's name.
QString SettingsFilePath();

}  // namespace terminal
