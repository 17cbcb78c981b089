#include "stream_source.h"

#include <QString>
#include <vector>

#include "fuzz/reference.h"

namespace soak {

StreamSource::StreamSource(Kind kind, uint64_t seed) : kind_(kind), random_(seed) {}

void StreamSource::Fill(uint8_t* out, size_t n) {
  if (kind_ == Kind::Random) {
    for (size_t i = 0; i < n; ++i) {
      if (wordLeft_ == 0) {
        word_ = random_.Next64();
        wordLeft_ = 8;
      }
      out[i] = static_cast<uint8_t>(word_);
      word_ >>= 8;
      --wordLeft_;
    }
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    if (linePos_ == line_.size()) NextLine();
    out[i] = static_cast<uint8_t>(line_[linePos_++]);
  }
}

void StreamSource::NextLine() {
  if (kind_ == Kind::LfOnly) {
    lineEnd_ = 1;
    segmentLeft_ = UINT64_MAX;
  } else if (segmentLeft_ == 0) {
    // A new segment: another line end for the next 4 KB to 2 MB.
    lineEnd_ = static_cast<int>(random_.Below(3));
    segmentLeft_ = 4096 + random_.Below(2u << 20);
  }
  line_.clear();
  linePos_ = 0;
  const uint64_t length = random_.Below(121);
  for (uint64_t i = 0; i < length; ++i) {
    const uint64_t r = random_.Next64();
    // Mostly printable ASCII, sometimes a byte of the upper half (letters, symbols, the five
    // undefined bytes) or a TAB.
    if ((r & 15) == 0) {
      line_ += static_cast<char>(0x80 + ((r >> 8) & 0x7F));
    } else if ((r & 63) == 1) {
      line_ += '\t';
    } else {
      line_ += static_cast<char>(0x20 + (r >> 8) % 95);
    }
  }
  line_ += lineEnd_ == 0 ? "\r\n" : lineEnd_ == 1 ? "\n" : "\r";
  segmentLeft_ = line_.size() >= segmentLeft_ ? 0 : segmentLeft_ - line_.size();
}

DisplayMatcher::DisplayMatcher(StreamSource source, bool stamps) : source_(std::move(source)), withStamps_(stamps) {}

void DisplayMatcher::Refill() {
  std::vector<uint8_t> bytes(64 * 1024);
  source_.Fill(bytes.data(), bytes.size());
  expected_.clear();
  pos_ = 0;
  for (uint8_t b : bytes) {
    if (b == 0) continue;  // the device drops NUL
    const char16_t c = fuzzref::DecodeByte(b);
    if (withStamps_) {
      if (c == u'\r') continue;
      if (c == u'\n') {
        expected_ += u"\r\n";
        expected_ += kStampMark;
        expected_ += u'\t';
        continue;
      }
    } else {
      if (c == u'\n') continue;
      if (c == u'\r') {
        expected_ += u"\r\n";
        continue;
      }
    }
    expected_ += c;
  }
}

bool DisplayMatcher::StampDone() {
  auto digit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  static constexpr int kDigits[] = {0, 1, 3, 4, 6, 7, 8, 9, 11, 12, 14, 15, 17, 18};
  bool ok = stamp_[10] == u' ';
  for (int i : kDigits) ok = ok && digit(stamp_[static_cast<size_t>(i)]);
  if (ok && stamps_ == 0) {
    dateSep_ = stamp_[2];
    timeSep_ = stamp_[13];
  }
  ok = ok && stamp_[2] == dateSep_ && stamp_[5] == dateSep_ && stamp_[13] == timeSep_ && stamp_[16] == timeSep_ &&
       !digit(dateSep_) && !digit(timeSep_);
  if (!ok) {
    error_ = Fmt("display character %llu: \"%s\" is no time stamp", static_cast<unsigned long long>(matched_),
                 QString::fromStdU16String(stamp_).toUtf8().constData());
    return false;
  }
  // Year, month, day, hour, minute, second: in this order the text sorts as the time does.
  std::u16string when = stamp_.substr(6, 4) + stamp_.substr(3, 2) + stamp_.substr(0, 2) + stamp_.substr(11, 2) +
                        stamp_.substr(14, 2) + stamp_.substr(17, 2);
  if (when < lastStamp_) {
    error_ = Fmt("display character %llu: time stamp \"%s\" is earlier than the one before",
                 static_cast<unsigned long long>(matched_), QString::fromStdU16String(stamp_).toUtf8().constData());
    return false;
  }
  lastStamp_ = when;
  ++stamps_;
  inStamp_ = false;
  stamp_.clear();
  return true;
}

bool DisplayMatcher::Consume(std::u16string_view piece) {
  for (char16_t c : piece) {
    if (inStamp_) {
      stamp_ += c;
      ++matched_;
      if (stamp_.size() == 19 && !StampDone()) return false;
      continue;
    }
    if (pos_ == expected_.size()) Refill();
    const char16_t want = expected_[pos_++];
    if (want == kStampMark) {
      inStamp_ = true;
      stamp_.assign(1, c);
      ++matched_;
      continue;
    }
    if (c != want) {
      error_ = Fmt("display character %llu is U+%04X, the receive rules give U+%04X",
                   static_cast<unsigned long long>(matched_), static_cast<unsigned>(c), static_cast<unsigned>(want));
      return false;
    }
    ++matched_;
  }
  return true;
}

int ByteOfChar(char16_t c) {
  static const std::vector<int> table = [] {
    std::vector<int> t(65536, -1);
    for (int b = 0; b < 256; ++b) t[fuzzref::DecodeByte(static_cast<uint8_t>(b))] = b;
    return t;
  }();
  return table[c];
}

}  // namespace soak
