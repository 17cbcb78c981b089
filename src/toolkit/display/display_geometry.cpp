#include "toolkit/display/display_geometry.h"

#include <algorithm>
#include <cmath>

namespace toolkit {

namespace {

bool SplitsPair(const DisplayLine& line, std::size_t column) {
  if (column == 0 || column >= line.Length()) return false;
  const char16_t before = line.At(column - 1);
  const char16_t at = line.At(column);
  return before >= 0xD800 && before < 0xDC00 && at >= 0xDC00 && at < 0xE000;
}

}  // namespace

DisplayGeometry::DisplayGeometry(const DisplayText& text) : text_(text), metrics_(QFont()) {
  SetFont(QFont());
}

void DisplayGeometry::SetFont(const QFont& font) {
  metrics_ = QFontMetricsF(font);
  lineHeight_ = std::max(1, static_cast<int>(std::ceil(metrics_.lineSpacing())));
  tabWidth_ = std::max(1.0, 8 * metrics_.averageCharWidth());
  // Measured between two letters, as inside a line.
  const QString pair = QStringLiteral("aa");
  const double around = metrics_.horizontalAdvance(pair);
  for (int c = 0; c < 256; ++c) {
    narrowAdvance_[c] = IsControl(char16_t(c))
                            ? 0
                            : metrics_.horizontalAdvance(QLatin1Char('a') + QChar(char16_t(c)) + QLatin1Char('a')) - around;
  }
  anchors_.clear();
  contentWidth_ = 0;
}

QString DisplayGeometry::Piece(std::size_t line, std::size_t from, std::size_t to) const {
  const DisplayLine& text = text_.Line(line);
  to = std::min(to, text.Length());
  if (from >= to) return QString();
  const auto count = static_cast<qsizetype>(to - from);
  if (text.IsWide())
    return QString::fromRawData(reinterpret_cast<const QChar*>(text.Wide().data() + from), count);
  return QString::fromLatin1(text.Narrow().data() + from, count);
}

double DisplayGeometry::NextTabStop(double x) const {
  return (std::floor(x / tabWidth_ + 1e-9) + 1) * tabWidth_;
}

double DisplayGeometry::Advance(std::size_t line, std::size_t from, std::size_t to, double x) const {
  const DisplayLine& text = text_.Line(line);
  to = std::min(to, text.Length());
  if (from >= to) return x;
  if (!text.IsWide()) {
    // Advances of one-byte characters add up exactly (no kerning, no shaping).
    const std::string_view bytes = text.Narrow();
    for (std::size_t i = from; i < to; ++i) {
      const auto c = static_cast<unsigned char>(bytes[i]);
      x = c == '\t' ? NextTabStop(x) : x + narrowAdvance_[c];
    }
    return x;
  }
  const std::u16string_view chars = text.Wide();
  std::size_t begin = from;
  for (std::size_t i = from; i <= to; ++i) {
    if (i < to && !IsControl(chars[i])) continue;
    if (i > begin) x += metrics_.horizontalAdvance(Piece(line, begin, i));
    if (i < to && chars[i] == u'\t') x = NextTabStop(x);
    begin = i + 1;
  }
  return x;
}

template <class Done>
std::vector<DisplayGeometry::Anchor>& DisplayGeometry::Extend(std::size_t line, Done done) {
  std::vector<Anchor>& anchors = anchors_[line];
  if (anchors.empty()) anchors.push_back(Anchor{0, 0});
  const DisplayLine& text = text_.Line(line);
  const std::size_t length = text.Length();
  if (anchors.back().column >= length || done(anchors.back())) return anchors;
  // The last anchor may mark where the line ended before an append; a line that grows a little
  // at a time must not gather one anchor per append.
  if (anchors.size() >= 2 && anchors.back().column - anchors[anchors.size() - 2].column < kStep)
    anchors.pop_back();
  while (anchors.back().column < length && !done(anchors.back())) {
    const Anchor last = anchors.back();
    std::size_t next = std::min(last.column + kStep, length);
    if (SplitsPair(text, next)) ++next;
    anchors.push_back(Anchor{next, Advance(line, last.column, next, last.x)});
  }
  return anchors;
}

double DisplayGeometry::X(std::size_t line, std::size_t column) {
  const std::size_t length = text_.LineLength(line);
  column = std::min(column, length);
  if (length <= kShortLine) return Advance(line, 0, column, 0);
  const std::vector<Anchor>& anchors =
      Extend(line, [column](const Anchor& a) { return a.column >= column; });
  auto it = std::upper_bound(anchors.begin(), anchors.end(), column,
                             [](std::size_t c, const Anchor& a) { return c < a.column; });
  const Anchor& anchor = *(it - 1);
  return Advance(line, anchor.column, column, anchor.x);
}

DisplayGeometry::Anchor DisplayGeometry::AnchorAtX(std::size_t line, double x) {
  if (text_.LineLength(line) <= kShortLine) return Anchor{0, 0};
  const std::vector<Anchor>& anchors = Extend(line, [x](const Anchor& a) { return a.x > x; });
  auto it = std::upper_bound(anchors.begin(), anchors.end(), x,
                             [](double px, const Anchor& a) { return px < a.x; });
  return it == anchors.begin() ? anchors.front() : *(it - 1);
}

std::size_t DisplayGeometry::ColumnAt(std::size_t line, double x) {
  const DisplayLine& text = text_.Line(line);
  const std::size_t length = text.Length();
  if (x <= 0 || length == 0) return 0;
  const Anchor anchor = AnchorAtX(line, x);
  std::size_t low = anchor.column;
  std::size_t high = std::min(length, length <= kShortLine ? length : anchor.column + 2 * kStep);
  // The last column low with Advance(anchor..low) <= x.
  while (low < high) {
    const std::size_t mid = low + (high - low + 1) / 2;
    if (Advance(line, anchor.column, mid, anchor.x) <= x) {
      low = mid;
    } else {
      high = mid - 1;
    }
  }
  if (SplitsPair(text, low)) --low;
  if (low >= length) return length;
  std::size_t next = low + 1;
  if (SplitsPair(text, next)) ++next;
  const double left = Advance(line, anchor.column, low, anchor.x);
  const double right = Advance(line, anchor.column, next, anchor.x);
  return x - left <= right - x ? low : next;
}

void DisplayGeometry::Changed(const TextChange& change) {
  if (!change.changed) return;
  auto first = anchors_.find(change.firstLine);
  if (first != anchors_.end()) {
    std::vector<Anchor>& anchors = first->second;
    auto keep = std::upper_bound(anchors.begin(), anchors.end(), change.column,
                                 [](std::size_t c, const Anchor& a) { return c < a.column; });
    anchors.erase(keep, anchors.end());
  }
  anchors_.erase(anchors_.upper_bound(change.firstLine), anchors_.upper_bound(change.oldLastLine));
  if (change.newLastLine != change.oldLastLine) {
    std::map<std::size_t, std::vector<Anchor>> moved;
    for (auto it = anchors_.upper_bound(change.oldLastLine); it != anchors_.end();) {
      auto node = anchors_.extract(it++);
      node.key() = node.key() - change.oldLastLine + change.newLastLine;
      moved.insert(std::move(node));
    }
    anchors_.merge(moved);
  }
  for (std::size_t line = change.firstLine; line <= change.newLastLine; ++line)
    contentWidth_ = std::max(contentWidth_, Width(line));
}

void DisplayGeometry::Reset() {
  anchors_.clear();
  contentWidth_ = 0;
}

}  // namespace toolkit
