// What the far end streams in the stream check, and what the display must then hold: a seeded
// source of bytes (random, or text lines whose line end changes from segment to segment) and
// an independent model of the receive rules that matches the display's text piece by piece.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "soak_util.h"

namespace soak {

class StreamSource {
 public:
  // Text: line ends change from segment to segment; LfOnly: every line ends with LF alone, so
  // the display gets one line that grows for the whole stream.
  enum class Kind { Random, Text, LfOnly };
  StreamSource(Kind kind, uint64_t seed);
  // The next n bytes of the stream; the same seed gives the same stream however it is cut.
  void Fill(uint8_t* out, size_t n);

 private:
  void NextLine();

  Kind kind_;
  ByteStream random_;
  uint64_t word_ = 0;
  int wordLeft_ = 0;
  std::string line_;
  size_t linePos_ = 0;
  int lineEnd_ = 0;  // 0: CR LF, 1: LF only, 2: CR only
  uint64_t segmentLeft_ = 0;
};

// How many display characters one received byte becomes (the device drops NUL; without stamps
// an LF goes and a CR becomes CR LF; with stamps a CR goes and an LF becomes CR LF, the
// 19-character stamp and a TAB).
inline uint64_t ShownLength(uint8_t b, bool stamps) {
  if (b == 0) return 0;
  if (b == '\n') return stamps ? 2 + 19 + 1 : 0;
  if (b == '\r') return stamps ? 0 : 2;
  return 1;
}

// Holds the display's text, handed over piece by piece, to what the same source makes under
// the receive rules. A stamp must read dd?mm?yyyy hh?nn?ss with the same separators each time
// and never go back in time.
class DisplayMatcher {
 public:
  DisplayMatcher(StreamSource source, bool stamps);
  // Consumes the next piece of display text; false at the first difference (see Error()).
  bool Consume(std::u16string_view piece);
  uint64_t Matched() const { return matched_; }
  uint64_t Stamps() const { return stamps_; }
  const std::string& Error() const { return error_; }

 private:
  static constexpr char16_t kStampMark = 0xFFFF;  // no byte decodes to it
  void Refill();
  bool StampDone();

  StreamSource source_;
  bool withStamps_;
  std::u16string expected_;
  size_t pos_ = 0;
  std::u16string stamp_;  // the stamp being read
  bool inStamp_ = false;
  std::u16string lastStamp_;
  char16_t dateSep_ = 0, timeSep_ = 0;
  uint64_t matched_ = 0;
  uint64_t stamps_ = 0;
  std::string error_;
};

// Windows-1252 bytes of a character, built from the decoding model alone; -1 when none.
int ByteOfChar(char16_t c);

}  // namespace soak
