// Fuzz target of the receive rules: what a batch shows, with and without time stamps, is what
// the steps give when applied one after the other; the prompt test is a plain search; a stamp
// is the date and time with two digits a field (four for the year) and the separators.
//
// Input: flags (bit 0: time stamps; bit 1: the text is 16-bit units; bit 2: the stamp is raw
// text, else made by FormatStamp from the next bytes), lengths of the stamp's parts and of the
// prompt, their characters, then the received text.
#include <cstdint>
#include <cstdio>

#include "fuzz/reference.h"
#include "terminal/receive_transform.h"

namespace {

std::u16string Ascii(const char* s) { return fuzzref::Latin1(s); }

// Date and time fields in their ranges and the separators, from the input.
std::u16string MadeStamp(fuzzref::Input& in) {
  const int day = 1 + in.Byte() % 31, month = 1 + in.Byte() % 12;
  const int year = (in.Byte() << 8 | in.Byte()) % 10000;
  const int hour = in.Byte() % 24, minute = in.Byte() % 60, second = in.Byte() % 60;
  const uint8_t lengths = in.Byte();
  const std::u16string dateSep = fuzzref::Units(in.Bytes(size_t{lengths & 3u} * 2));
  const std::u16string timeSep = fuzzref::Units(in.Bytes(size_t{(lengths >> 2) & 3u} * 2));
  std::u16string stamp = terminal::FormatStamp(day, month, year, hour, minute, second, dateSep, timeSep);

  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", day);
  std::u16string expected = Ascii(buf) + dateSep;
  std::snprintf(buf, sizeof buf, "%02d", month);
  expected += Ascii(buf) + dateSep;
  std::snprintf(buf, sizeof buf, "%04d ", year);
  expected += Ascii(buf);
  std::snprintf(buf, sizeof buf, "%02d", hour);
  expected += Ascii(buf) + timeSep;
  std::snprintf(buf, sizeof buf, "%02d", minute);
  expected += Ascii(buf) + timeSep;
  std::snprintf(buf, sizeof buf, "%02d", second);
  expected += Ascii(buf);
  FUZZ_CHECK(stamp == expected);
  return stamp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzref::Input in(data, size);
  const uint8_t flags = in.Byte();
  const bool stamps = flags & 1, units = flags & 2;
  const std::u16string stamp = (flags & 4) ? fuzzref::Units(in.Bytes(size_t{in.Byte() % 32u} * 2)) : MadeStamp(in);
  const uint8_t promptLength = in.Byte() % 4;
  const std::u16string prompt =
      units ? fuzzref::Units(in.Bytes(size_t{promptLength} * 2)) : fuzzref::Latin1(in.Bytes(promptLength));
  const std::string_view rest = in.Rest();
  const std::u16string text = units ? fuzzref::Units(rest) : fuzzref::Latin1(rest);

  FUZZ_CHECK(terminal::PromptOccurs(text, prompt) == fuzzref::Occurs(text, prompt));
  const std::u16string shown = terminal::TransformReceived(text, stamps, stamp);
  FUZZ_CHECK(shown == fuzzref::ShownText(text, stamps, stamp));
  // The display gets line ends as CR LF pairs only.
  for (size_t i = 0; i < shown.size(); ++i) {
    if (shown[i] == u'\r') FUZZ_CHECK(i + 1 < shown.size() && shown[i + 1] == u'\n');
    if (shown[i] == u'\n') FUZZ_CHECK(i > 0 && shown[i - 1] == u'\r');
  }
  return 0;
}
