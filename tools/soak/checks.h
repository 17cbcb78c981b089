// The soak checks. Each runs the real windows (made in the application's order, hand-overs
// served from the event loop) on the offscreen platform, prints its table and its verdict, and
// returns whether every part of it held.
#pragma once

#include "soak_util.h"

namespace soak {

// Random bytes and text with every kind of line end streamed in from a pseudo-terminal: the
// display and the log hold exactly what the receive rules make of what was sent.
bool CheckStream(const Options& options, Watchdog& dog);

// The far end vanishing during open, reception, a paced transfer, a prompt wait and an
// auto-send pause: no hang, an idle process afterwards, the next key closes, reopening works.
bool CheckVanish(const Options& options, Watchdog& dog);

// Open/close cycles on LOOPBACK and on a streaming pseudo-terminal: descriptors and threads
// back to their start, resident memory flat after warm-up.
bool CheckCycles(const Options& options, Watchdog& dog);

// The settings file written by the window's exit steps in a child killed at random moments:
// the file always parses, every key holds its old or its new value.
bool CheckSettingsKill(const Options& options, Watchdog& dog);
// The child of CheckSettingsKill (sub-command "settings-writer").
int RunSettingsWriter(int argc, char* argv[]);

// Save and log onto a full disk: the error box, nothing else changes.
bool CheckFullDisk(const Options& options, Watchdog& dog);

}  // namespace soak
