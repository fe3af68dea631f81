// Two small public pieces: SMPTE timecodes and the option store.
#include <avikit/options.h>
#include <avikit/smpte_timecode.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numeric>
#include <string>
#include <utility>

using namespace avikit;

namespace {

std::string text(SMPTE_TimeCode& tc, int mode) {
  char buffer[kTimecodeBufferSize];
  return tc.get_string(buffer, mode);
}

SMPTE_TimeCode timecode(double rate, int drop) {
  SMPTE_TimeCode tc;
  EXPECT_EQ(tc.set_frame_rate(rate), 1) << rate;
  tc.set_drop_frame_flag(drop);
  return tc;
}

using RateCase = std::pair<double, int>;  // frame rate, drop-frame flag

class TimecodeRoundTripTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(TimecodeRoundTripTest, FrameToStringToFrameIsExact) {
  const auto [rate, drop] = GetParam();
  SMPTE_TimeCode out = timecode(rate, drop);
  const int nominal = static_cast<int>(std::lround(rate));
  // The first minutes frame by frame (every minute mark and every drop), then ten-minute and
  // hour marks and some large numbers.
  std::vector<int> frames(static_cast<std::size_t>(nominal * 60 * 11 + 5));
  std::iota(frames.begin(), frames.end(), 0);
  frames.insert(frames.end(),
                {nominal * 3600 - 1, nominal * 3600, nominal * 36000 + 17, 107892, 2000000000});
  // Two frames with one label would parse back to one frame.
  for (const int f : frames) {
    out.set_frame(f);
    const std::string s = text(out, 0);
    SMPTE_TimeCode in = timecode(rate, drop);
    ASSERT_TRUE(in.set_string(s.c_str()) == 1 && in.get_frame() == f)
        << "frame " << f << " labelled " << s << " parses to " << in.get_frame();
  }
}

std::vector<RateCase> all_rates() {
  std::vector<RateCase> rates;
  for (int r = 5; r <= 60; ++r) rates.push_back({static_cast<double>(r), 0});
  // The drop flag too, which counts at the NTSC rates only.
  for (double r : {23.976, 24000.0 / 1001, 12.5, 7.5, 29.97, 30000.0 / 1001, 59.94, 60000.0 / 1001})
    for (const int drop : {0, 1}) rates.push_back({r, drop});
  return rates;
}

INSTANTIATE_TEST_SUITE_P(EveryRate, TimecodeRoundTripTest, ::testing::ValuesIn(all_rates()));

// Labels of chosen frames (mode 1: the short form without frames and leading hours), and the
// frame each label parses back to.
TEST(SmpteTimeCodeTest, LabelsOfChosenFramesAndBack) {
  constexpr double kNtsc = 30000.0 / 1001;
  const struct {
    double rate;
    int drop, frame, mode;
    const char* label;
  } cases[] = {
      {kNtsc, 1, 1799, 0, "00:00:59;29"},
      {kNtsc, 1, 1800, 0, "00:01:00;02"},    // the first two labels of most minutes are skipped
      {kNtsc, 1, 17982, 0, "00:10:00;00"},   // every tenth minute keeps them
      {kNtsc, 1, 107892, 0, "01:00:00;00"},  // one hour
      {60000.0 / 1001, 1, 3600, 0, "00:01:00;04"},  // 59.94 drops four
      {25.0, 1, 1500, 0, "00:01:00:00"},            // the drop flag counts only at NTSC rates
      {25.0, 0, 0, 1, "0:00"},
      {25.0, 0, 2100, 1, "1:24"},
      {25.0, 0, (7200 + 61) * 25, 1, "2:01:01"},
      {25.0, 0, (7200 + 61) * 25, 0, "02:01:01:00"},
  };
  for (const auto& c : cases) {
    SMPTE_TimeCode tc = timecode(c.rate, c.drop);
    tc.set_frame(c.frame);
    EXPECT_EQ(text(tc, c.mode), c.label);
    tc.set_frame(0);
    EXPECT_TRUE(tc.set_string(c.label) == 1 && tc.get_frame() == c.frame)
        << c.label << " parses to " << tc.get_frame();
  }
}

// A semicolon asks for drop frame; dropped labels, what is not a timecode and rates outside 5 to
// 60 are refused and change nothing.
TEST(SmpteTimeCodeTest, SemicolonAsksForDropFrameAndBadLabelsAndRatesAreRefused) {
  SMPTE_TimeCode tc;
  tc.set_frame_rate(29.97);
  EXPECT_TRUE(tc.set_string("00:01:00:02") == 1 && tc.get_frame() == 1802);
  EXPECT_TRUE(tc.set_string("00:01:00;02") == 1 && tc.get_frame() == 1800 &&
              tc.get_drop_frame_flag() == 1);
  // A dropped label is not a timecode.
  EXPECT_TRUE(tc.set_string("00:01:00;00") == 0 && tc.get_frame() == 1800);
  tc.set_frame_rate(25.0);
  tc.set_second(83.99);  // rounds to frame 2100
  EXPECT_EQ(text(tc, 1), "1:24");
  for (const char* bad :
       {"", "abc", "00:00:00:25", "00:60:00:00", "00:00:60:00", "1:2:3:4:5", "-1:00:00:00",
        "00::00:00", "00:00:00:00x", "9999999999:00:00:00", static_cast<const char*>(nullptr)})
    EXPECT_TRUE(tc.set_string(bad) == 0 && tc.get_frame() == 2100) << (bad ? bad : "null");
  EXPECT_EQ(tc.get_string(nullptr, 0), nullptr);
  for (double bad : {4.99, 60.01, std::nan("")}) EXPECT_EQ(tc.set_frame_rate(bad), 0) << bad;
  EXPECT_EQ(tc.get_frame_rate(), 25.0);
  tc.set_frame(-5);
  EXPECT_EQ(tc.get_frame(), 0);
  tc.set_second(-1.0);
  EXPECT_EQ(tc.get_frame(), 0);
}

// Option 254 picks the video output format; the store a host sets wins over the environment
// variable the command line uses.
TEST(OptionsTest, HostStoreWinsOverTheEnvironment) {
  options_clear(254);
  ::unsetenv("AVIKIT_OPTION_254");
  EXPECT_EQ(OptionsGet(254, 0, 0), 2u);  // YV12 unless a host says otherwise
  ::setenv("AVIKIT_OPTION_254", "0", 1);
  EXPECT_EQ(OptionsGet(254, 0, 0), 0u);
  options_set(254, 7);
  EXPECT_EQ(OptionsGet(254, 0, 0), 7u);
  options_clear(254);
  for (const char* bad : {"", "2x", "-1", "99999999999"}) {
    ::setenv("AVIKIT_OPTION_254", bad, 1);
    EXPECT_EQ(OptionsGet(254, 0, 0), 2u) << bad;
  }
  ::unsetenv("AVIKIT_OPTION_254");
}

}  // namespace
