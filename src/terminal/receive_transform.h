// What a received batch becomes on the display: the prompt test, the time stamps and the line
// end rules. Standard library only, so it is tested and fuzzed without a window.
#pragma once

#include <string>
#include <string_view>

namespace terminal {

// Whether prompt occurs anywhere in text (exact, case counts); an empty prompt never matches.
bool PromptOccurs(std::u16string_view text, std::u16string_view prompt);

// The text to show for a received batch. Without stamps a CR ends a line (shown as CR LF) and
// an LF is dropped; with stamps a CR is dropped and an LF ends a line, the next one starting
// with stamp and a TAB.
std::u16string TransformReceived(std::u16string_view text, bool timeStamps, std::u16string_view stamp);

// "dd/mm/yyyy hh:nn:ss" with the given date and time separators.
std::u16string FormatStamp(int day, int month, int year, int hour, int minute, int second,
                           std::u16string_view dateSeparator, std::u16string_view timeSeparator);

}  // namespace terminal
