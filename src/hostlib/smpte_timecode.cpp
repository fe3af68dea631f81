#include <avikit/smpte_timecode.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

namespace avikit {

namespace {

constexpr double kNtsc30 = 30000.0 / 1001.0;
constexpr double kNtsc60 = 60000.0 / 1001.0;

struct Fields {
  std::int64_t hours = 0;
  int minutes = 0;
  int seconds = 0;
  int frames = 0;
};

// Frames dropped at each minute mark: 2 per 30 nominal frames (SMPTE 12M).
int drop_count(int nominal) { return nominal / 15; }

Fields to_fields(std::int64_t frame, int nominal, bool drop) {
  if (drop) {
    // Labels skipped before this frame: per full ten minutes 9 x drop, plus one drop per minute
    // mark passed inside the current ten minutes.
    const std::int64_t d = drop_count(nominal);
    const std::int64_t per_minute = std::int64_t{nominal} * 60 - d;
    const std::int64_t per_ten = per_minute * 10 + d;
    const std::int64_t tens = frame / per_ten;
    const std::int64_t rem = frame % per_ten;
    frame += 9 * d * tens;
    if (rem >= d) frame += d * ((rem - d) / per_minute);
  }
  Fields f;
  f.frames = static_cast<int>(frame % nominal);
  frame /= nominal;
  f.seconds = static_cast<int>(frame % 60);
  frame /= 60;
  f.minutes = static_cast<int>(frame % 60);
  f.hours = frame / 60;
  return f;
}

std::int64_t from_fields(const Fields& f, int nominal, bool drop) {
  const std::int64_t total_minutes = f.hours * 60 + f.minutes;
  std::int64_t frame = (total_minutes * 60 + f.seconds) * nominal + f.frames;
  if (drop) frame -= drop_count(nominal) * (total_minutes - total_minutes / 10);
  return frame;
}

// Splits "a:b:c:d" into up to four decimal fields; records whether ';' came before the last.
bool parse_fields(const char* text, std::int64_t (&values)[4], int& count, bool& semicolon) {
  count = 0;
  semicolon = false;
  const char* p = text;
  while (*p == ' ') ++p;
  for (;;) {
    if (count == 4 || *p < '0' || *p > '9') return false;
    std::int64_t v = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      if (++digits > 9) return false;
      v = v * 10 + (*p - '0');
      ++p;
    }
    values[count++] = v;
    if (*p == ':' || *p == ';' || *p == '.') {
      semicolon = *p == ';';
      ++p;
      continue;
    }
    while (*p == ' ') ++p;
    return *p == '\0';
  }
}

}  // namespace

SMPTE_TimeCode::SMPTE_TimeCode() : rate_(25.0), drop_(false), frame_(0) {}

int SMPTE_TimeCode::set_frame_rate(double rate) {
  if (!(rate >= 5.0 && rate <= 60.0)) return 0;
  rate_ = rate;
  return 1;
}

void SMPTE_TimeCode::set_drop_frame_flag(int drop) { drop_ = drop != 0; }

bool SMPTE_TimeCode::drop_frame_active() const {
  return drop_ && (std::fabs(rate_ - kNtsc30) < 0.005 || std::fabs(rate_ - kNtsc60) < 0.005);
}

int SMPTE_TimeCode::nominal_rate() const {
  return static_cast<int>(std::lround(rate_));  // 5..60 by set_frame_rate
}

int SMPTE_TimeCode::set_string(const char* text) {
  if (text == nullptr) return 0;
  std::int64_t v[4] = {};
  int count = 0;
  bool semicolon = false;
  if (!parse_fields(text, v, count, semicolon)) return 0;
  Fields f;
  switch (count) {
    case 4:
      f = {v[0], static_cast<int>(v[1]), static_cast<int>(v[2]), static_cast<int>(v[3])};
      break;
    case 3:
      f = {v[0], static_cast<int>(v[1]), static_cast<int>(v[2]), 0};
      break;
    case 2:
      f = {0, static_cast<int>(v[0]), static_cast<int>(v[1]), 0};
      break;
    default:
      return 0;
  }
  const int nominal = nominal_rate();
  if (f.minutes > 59 || f.seconds > 59 || f.frames >= nominal) return 0;
  if (count == 4 && semicolon) drop_ = true;
  const bool drop = drop_frame_active();
  if (drop && f.seconds == 0 && f.minutes % 10 != 0 && f.frames < drop_count(nominal)) return 0;
  const std::int64_t frame = from_fields(f, nominal, drop);
  if (frame > std::numeric_limits<int>::max()) return 0;
  frame_ = static_cast<int>(frame);
  return 1;
}

void SMPTE_TimeCode::set_frame(int frame) { frame_ = frame < 0 ? 0 : frame; }

void SMPTE_TimeCode::set_second(double seconds) {
  const double frames = seconds * rate_;
  if (!(frames > 0.0)) {
    frame_ = 0;
  } else if (frames >= static_cast<double>(std::numeric_limits<int>::max())) {
    frame_ = std::numeric_limits<int>::max();
  } else {
    frame_ = static_cast<int>(std::lround(frames));
  }
}

char* SMPTE_TimeCode::get_string(char* buffer, int mode) const {
  if (buffer == nullptr) return nullptr;
  const bool drop = drop_frame_active();
  const Fields f = to_fields(frame_, nominal_rate(), drop);
  const auto hours = static_cast<long long>(f.hours);
  // Frame numbers stop at 2^31, so the text fits kTimecodeBufferSize; the wider local buffer
  // only keeps the compiler's truncation analysis quiet.
  char text[48];
  if (mode == 0) {
    std::snprintf(text, sizeof text, "%02lld:%02d:%02d%c%02d", hours, f.minutes, f.seconds,
                  drop ? ';' : ':', f.frames);
  } else if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", hours, f.minutes, f.seconds);
  } else {
    std::snprintf(text, sizeof text, "%d:%02d", f.minutes, f.seconds);
  }
  const std::size_t n = std::min(std::strlen(text), std::size_t{kTimecodeBufferSize - 1});
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return buffer;
}

}  // namespace avikit
