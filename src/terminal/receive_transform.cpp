#include "terminal/receive_transform.h"

namespace terminal {

bool PromptOccurs(std::u16string_view text, std::u16string_view prompt) {
  return !prompt.empty() && text.find(prompt) != std::u16string_view::npos;
}

std::u16string TransformReceived(std::u16string_view text, bool timeStamps, std::u16string_view stamp) {
  // The stamp goes through the line-end rules too (an LF dropped, a CR shown as CR LF), so that
  // the display only ever gets CR LF pairs whatever the locale's separators hold.
  std::u16string shownStamp;
  if (timeStamps) {
    for (char16_t c : stamp) {
      if (c == u'\r') shownStamp += u"\r\n";
      else if (c != u'\n') shownStamp += c;
    }
  }
  std::u16string out;
  out.reserve(text.size() + text.size() / 16 + 8);
  for (char16_t c : text) {
    if (timeStamps) {
      // A CR is dropped; an LF ends the line and the next one starts with the stamp.
      if (c == u'\r') continue;
      if (c == u'\n') {
        out += u"\r\n";
        out += shownStamp;
        out += u'\t';
        continue;
      }
    } else {
      if (c == u'\n') continue;
      if (c == u'\r') {
        out += u"\r\n";
        continue;
      }
    }
    out += c;
  }
  return out;
}

namespace {

void TwoDigits(std::u16string& out, int v) {
  out += static_cast<char16_t>(u'0' + (v / 10) % 10);
  out += static_cast<char16_t>(u'0' + v % 10);
}

}  // namespace

std::u16string FormatStamp(int day, int month, int year, int hour, int minute, int second,
                           std::u16string_view dateSeparator, std::u16string_view timeSeparator) {
  std::u16string out;
  TwoDigits(out, day);
  out += dateSeparator;
  TwoDigits(out, month);
  out += dateSeparator;
  TwoDigits(out, year / 100);
  TwoDigits(out, year % 100);
  out += u' ';
  TwoDigits(out, hour);
  out += timeSeparator;
  TwoDigits(out, minute);
  out += timeSeparator;
  TwoDigits(out, second);
  return out;
}

}  // namespace terminal
