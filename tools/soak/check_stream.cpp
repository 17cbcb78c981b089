// The stream check: a far end writes seeded random bytes (all 256 values) or text whose line
// ends change between CR LF, LF only and CR only, as fast as the pseudo-terminal takes them.
// The display is held to the receive rules while it fills (piece by piece, never the whole text
// at once), must end with exactly the expected length, and the log file must then hold the
// display's text in Windows-1252 followed by CR LF.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "checks.h"
#include "runtime/clock.h"
#include "stream_source.h"
#include "support/boxcatcher.h"
#include "terminal/terminal_fixture.h"
#include "toolkit/display/display_view.h"
#include "toolkit/errorbox.h"

namespace soak {

namespace {

struct Run {
  const char* name;
  StreamSource::Kind kind;
  bool stamps;
  uint64_t bytes;
};

// Compares the log file with the display's text in Windows-1252 and the final CR LF.
bool LogMatches(const toolkit::DisplayText& text, const std::string& path, std::string& error, uint64_t& size) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "the log file is missing";
    return false;
  }
  uint64_t offset = 0;
  std::string expected, got;
  bool same = true;
  text.Write([&](std::u16string_view piece) {
    if (!same) return;
    expected.clear();
    for (char16_t c : piece) {
      const int b = ByteOfChar(c);
      expected += static_cast<char>(b < 0 ? '?' : b);
    }
    got.resize(expected.size());
    file.read(got.data(), static_cast<std::streamsize>(got.size()));
    got.resize(static_cast<size_t>(file.gcount()));
    if (got != expected) {
      size_t i = 0;
      while (i < got.size() && got[i] == expected[i]) ++i;
      error = Fmt("the log differs from the display at byte %llu", static_cast<unsigned long long>(offset + i));
      same = false;
    }
    offset += expected.size();
  });
  if (!same) return false;
  char tail[3] = {};
  file.read(tail, 3);
  if (file.gcount() != 2 || tail[0] != '\r' || tail[1] != '\n') {
    error = Fmt("the log does not end with the display's text and CR LF (at byte %llu)",
                static_cast<unsigned long long>(offset));
    return false;
  }
  size = offset + 2;
  return true;
}

void StreamOne(const Run& run, uint64_t seed, Check& check, Watchdog& dog) {
  ResetPeakRss();
  const uint64_t t0 = rtl::MonotonicNs();
  const uint64_t cpu0 = ProcessCpuNs();
  PtySession s;
  terminal::TFormRS& rs = s.rs();
  rs.CheckBoxLog->setChecked(true);
  rs.CheckBoxTimeStamp->setChecked(run.stamps);
  BoxCatcher boxes;
  const int fd = s.pty.master.Get();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

  std::atomic<bool> written{false}, abort{false};
  std::atomic<uint64_t> sent{0};
  uint64_t expectedChars = 0;  // set by the writer before `written`
  std::thread writer([&] {
    StreamSource source(run.kind, seed);
    std::vector<uint8_t> buf(64 * 1024);
    uint64_t chars = 0;
    while (sent < run.bytes && !abort) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), run.bytes - sent));
      source.Fill(buf.data(), n);
      for (size_t i = 0; i < n; ++i) chars += ShownLength(buf[i], run.stamps);
      size_t off = 0;
      while (off < n && !abort) {
        const ssize_t w = ::write(fd, buf.data() + off, n - off);
        if (w > 0) {
          off += static_cast<size_t>(w);
        } else {
          pollfd p{fd, POLLOUT, 0};
          ::poll(&p, 1, 100);
        }
      }
      sent += n;
    }
    expectedChars = chars;
    written = true;
  });

  // The display is compared while it fills; the log timer writes meanwhile as it always does.
  DisplayMatcher matcher(StreamSource(run.kind, seed), run.stamps);
  const toolkit::DisplayText& text = rs.Editor->Text();
  toolkit::DisplayText::Mark mark = text.EndMark();
  bool same = true;
  auto compareNew = [&] {
    if (!same) return;
    if (!text.WriteSince(mark, [&](std::u16string_view piece) {
          if (same && !matcher.Consume(piece)) same = false;
        })) {
      check.Fail(std::string(run.name) + ": the display's older text changed while text was only received");
      same = false;
    }
    mark = text.EndMark();
  };
  const int limitS = static_cast<int>(120 + run.bytes / (1u << 20));  // at least 1 MiB/s
  {
    Deadline d(dog, std::string("stream ") + run.name, limitS + 120);
    uint64_t lastLength = 0, lastGrowth = rtl::MonotonicMs();
    while (same) {
      RunLoopFor(100);
      compareNew();
      const uint64_t length = text.Length();
      if (length != lastLength) {
        lastLength = length;
        lastGrowth = rtl::MonotonicMs();
      }
      if (written && length >= expectedChars) break;
      if (rtl::MonotonicMs() - lastGrowth > 30'000) {
        check.Fail(Fmt("%s: the display stopped growing at %llu of %llu characters", run.name,
                       static_cast<unsigned long long>(length),
                       static_cast<unsigned long long>(written ? expectedChars : 0)));
        break;
      }
    }
    abort = true;
    writer.join();
    RunLoopFor(200);  // anything beyond the expected text would show now
    compareNew();
  }
  const double seconds = static_cast<double>(rtl::MonotonicNs() - t0) / 1e9;
  const double cpuS = static_cast<double>(ProcessCpuNs() - cpu0) / 1e9;
  if (!same && !matcher.Error().empty()) check.Fail(std::string(run.name) + ": " + matcher.Error());
  if (same) {
    check.Expect(text.Length() == expectedChars,
                 Fmt("%s: the display holds %llu characters, the receive rules give %llu", run.name,
                     static_cast<unsigned long long>(text.Length()), static_cast<unsigned long long>(expectedChars)));
  }

  // One more log writing (as a tick does), timed, then the whole log against the display.
  const uint64_t logT0 = rtl::MonotonicNs();
  toolkit::RunGuarded([&] { rs.TimerLogTimer(); });
  const double logMs = static_cast<double>(rtl::MonotonicNs() - logT0) / 1e6;
  std::string logError;
  uint64_t logSize = 0;
  const bool logOk = LogMatches(text, rs.LogPath().toStdString(), logError, logSize);
  if (!logOk) check.Fail(std::string(run.name) + ": " + logError);
  check.Expect(boxes.texts.isEmpty(),
               std::string(run.name) + ": an error box showed: " + boxes.texts.join(u'|').toStdString());

  check.Row({run.name, Fmt("%.1f", static_cast<double>(run.bytes) / (1 << 20)),
             Fmt("%llu / %llu", static_cast<unsigned long long>(text.Length()),
                 static_cast<unsigned long long>(expectedChars)),
             run.stamps ? Fmt("%llu", static_cast<unsigned long long>(matcher.Stamps())) : std::string("-"),
             Fmt("%zu", text.LineCount()), Fmt("%.1f", seconds),
             Fmt("%.1f", static_cast<double>(run.bytes) / 1e6 / seconds),
             Fmt("%.4f", cpuS / (static_cast<double>(run.bytes) / 1e6)), Fmt("%.0f", PeakRssKb() / 1024.0),
             logOk ? Fmt("%.1f", static_cast<double>(logSize) / (1 << 20)) : std::string("wrong"),
             Fmt("%.1f", logMs), same && logOk ? "yes" : "NO"});
  std::printf("  %s: %.1f s, %s\n", run.name, seconds, same && logOk ? "matches" : "differs");
  std::fflush(stdout);
  // The log of a gigabyte is not kept.
  QFile::remove(rs.LogPath());
}

}  // namespace

bool CheckStream(const Options& options, Watchdog& dog) {
  Check check("Stream: display and log against the receive rules");
  check.Columns({"stream", "MiB sent", "display chars / expected", "stamps", "lines", "s", "MB/s", "CPU s/MB",
                 "peak RSS MB", "log MiB", "last log write ms", "equal"});
  const uint64_t big = (options.streamMiB ? options.streamMiB : options.quick ? 32 : 1024) << 20;
  const uint64_t small = options.quick ? 8ull << 20 : 64ull << 20;
  const Run runs[] = {
      {"random bytes", StreamSource::Kind::Random, false, big},
      {"text, CR LF / LF / CR", StreamSource::Kind::Text, false, big},
      {"text with time stamps", StreamSource::Kind::Text, true, small},
      {"text, LF only: one growing line", StreamSource::Kind::LfOnly, false, big},
  };
  uint64_t seed = options.seed;
  for (const Run& run : runs) StreamOne(run, seed++, check, dog);
  return check.Report();
}

}  // namespace soak
