// DV type-1 sound: 12-bit expansion, the stretch, the ten-frame groups read through the audio
// reader, and the sound of real DV frames against the ffmpeg tool's decode of the same frames.

#include "audio/dv_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <utility>

#include "audio/audio_reader.h"
#include "audio/audio_test_support.h"
#include "support/avi_builder.h"
#include "support/test_paths.h"
#include "video/shared_file_registry.h"

using namespace avikit;

namespace {

// One synthetic DV frame carrying only sound: the 50-field flag, frequency, quantisation and
// extra-sample codes where the audio reader looks, and the left channel's 16-bit samples (12-bit
// codes when twelve_bit) at the layout's offsets, the right channel's being their negatives (code
// 4095 - v). Everything else is zero.
struct DvSound {
  bool fifty_field = true;
  unsigned frequency = 0;  // 0 48 kHz, 1 44.1 kHz, 2 32 kHz, other: unknown
  bool twelve_bit = false;
  unsigned extra = 24;  // samples beyond the minimum (0..63)
  std::vector<std::int16_t> left{};
};
// A 12-bit code that leaves its sample's three bytes alone.
constexpr std::int16_t kNotWritten = -1;

std::vector<std::uint32_t> dv_offsets(bool fifty_field) {
  // The DV type-1 audio layout (IEC 61834-2 shuffling as the container describes it).
  const std::uint32_t n = fifty_field ? 1944 : 1620;
  const std::uint32_t per_row = fifty_field ? 54 : 45;
  const std::uint32_t sequences = fifty_field ? 6 : 5;
  std::vector<std::uint32_t> out(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    out[i] = 2 * (i / per_row + 640 * ((i % per_row) / (per_row / 3) + 3 * (i % 3)) +
                  6000 * ((i / 3 + 2 * (i % 3)) % sequences)) +
             488;
  }
  return out;
}

std::string dv_frame(const DvSound& s) {
  std::string f(s.fifty_field ? 144000 : 120000, '\0');
  auto at = [&f](std::size_t i) -> std::uint8_t& { return reinterpret_cast<std::uint8_t&>(f[i]); };
  at(12246) = s.fifty_field ? 0x20 : 0x00;
  at(12487) = static_cast<std::uint8_t>((s.frequency & 7) << 3 | (s.twelve_bit ? 1 : 0));
  at(12484) = static_cast<std::uint8_t>(s.extra & 0x3F);
  const std::vector<std::uint32_t> offsets = dv_offsets(s.fifty_field);
  const std::uint32_t second = s.fifty_field ? 72000 : 60000;
  for (std::size_t i = 0; i < s.left.size() && i < offsets.size(); ++i) {
    const std::size_t a = offsets[i];
    const auto l = static_cast<std::uint16_t>(s.left[i]);
    if (!s.twelve_bit) {
      const auto r = static_cast<std::uint16_t>(-s.left[i]);
      at(a) = static_cast<std::uint8_t>(l >> 8);
      at(a + 1) = static_cast<std::uint8_t>(l);
      at(a + second) = static_cast<std::uint8_t>(r >> 8);
      at(a + second + 1) = static_cast<std::uint8_t>(r);
      continue;
    }
    if (s.left[i] == kNotWritten) continue;
    const auto r = static_cast<std::uint16_t>(4095 - l);
    at(a) = static_cast<std::uint8_t>(l >> 4);
    at(a + 1) = static_cast<std::uint8_t>(r >> 4);
    at(a + 2) = static_cast<std::uint8_t>((l & 0xF) << 4 | (r & 0xF));
  }
  return f;
}

std::vector<std::int16_t> stretch(const std::vector<std::int16_t>& raw, std::uint32_t target) {
  std::vector<std::int16_t> even(2 * std::max<std::uint32_t>(target, 1) + 8, 0x5A5A);
  audio::detail::dv_stretch(raw.data(), static_cast<std::uint32_t>(raw.size() / 2), even.data(),
                            target);
  for (std::size_t i = 2 * target; i < even.size(); ++i) EXPECT_EQ(even[i], 0x5A5A) << "guard";
  even.resize(2 * target);
  return even;
}

// Ramps of any length stretched to any target: the ends kept and every frame on the line
// through the input (within 1), never past the target; nothing raw gives silence.
TEST(DvAudioTest, StretchKeepsTheEndsAndFollowsALineBetweenThem) {
  const std::uint32_t cases[][2] = {{19140, 19200}, {19589, 19200}, {18960, 19200}, {12000, 19200},
                                    {2, 19200},     {100, 100},     {1, 4},         {100, 1}};
  for (const auto& [raw_frames, target] : cases) {
    std::vector<std::int16_t> raw;  // left rises from -16000, right falls from 16000
    for (int i = 0; i < static_cast<int>(raw_frames); ++i) {
      raw.insert(raw.end(),
                 {static_cast<std::int16_t>(i - 16000), static_cast<std::int16_t>(16000 - i)});
    }
    const std::vector<std::int16_t> even = stretch(raw, target);
    EXPECT_EQ(even[2 * target - 2], raw[target > 1 ? 2 * raw_frames - 2 : 0]) << raw_frames;
    const double slope = target > 1 ? static_cast<double>(raw_frames - 1) / (target - 1) : 0;
    for (std::uint32_t j = 0; j < target; ++j) {
      const double want = -16000.0 + (j * slope);
      ASSERT_NEAR(even[2 * j], want, 1.01) << raw_frames << " frame " << j;
      ASSERT_NEAR(even[2 * j + 1], -want, 1.01) << raw_frames << " frame " << j;
    }
  }
  EXPECT_EQ(stretch({}, 5), std::vector<std::int16_t>(10, 0));
}

// --- Groups read through the reader --------------------------------------------------------------

struct DvReader {
  explicit DvReader(const std::string& bytes) : file("mem://dv/type1.avi", bytes) {
    ok = reader.open(file.file(), USE_AUDIO);
    reader.select_audio(-1);
  }
  std::vector<std::int16_t> read(std::uint32_t frames) {
    std::vector<std::int16_t> out(2 * frames);
    out.resize(reader.read_audio(reinterpret_cast<std::uint8_t*>(out.data()), 4 * frames) / 2);
    return out;
  }
  std::vector<std::int16_t> read_all(std::uint32_t block) {
    std::vector<std::int16_t> all;
    for (auto b = read(block); !b.empty(); b = read(block))
      all.insert(all.end(), b.begin(), b.end());
    return all;
  }
  avitest::MemoryFile file;
  AudioMediaReader reader;
  bool ok = false;
};

class DvGroupTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(shared_file_count(), 0); }
};

enum Change { kNone, kSilent, kShortChunk, kLongChunk, kOtherSystem };

// Files of numbered frames (`samples` each, odd frames `odd_more` beyond, declaring 1896 +
// `extra`), some changed: every sample read in blocks of 1151 frames (crossing the groups), their
// count, values, and for unchanged files the length.
struct GroupCase {
  std::uint32_t frames, samples, extra, odd_more;
  Change change;
  std::size_t want_frames;
  std::vector<std::pair<std::size_t, int>> want;  // sample index, value
};

TEST_F(DvGroupTest, GroupsAreReadStretchedAndCut) {
  const GroupCase cases[] = {
      // Ten frames of 1920 samples are exactly a group of 19200, as stored.
      {20, 1920, 24, 0, kNone, 38400, {{1, 0}, {2 * 19200 + 1, -20000}, {2 * 28800, 30000}}},
      // Uneven frame counts are stretched to the group size, the ends kept.
      {10, 1896, 0, 30, kNone, 19200, {{0, 0}, {2 * 19199, 9 * 2000 + 1925}}},
      // The last short group holds its share, 19200 + (3 x 19200) / 10 frames: frame 10 starts it.
      {13, 1920, 24, 0, kNone, 24960, {{2 * 19200, 20000}, {2 * 24960 - 1, -25919}}},
      // Frames declaring more samples (1896 + 63) than the layout holds (1944) are cut to it.
      {10, 1944, 63, 0, kNone, 19200, {{0, 0}, {2 * 19199, 9 * 2000 + 1943}}},
      // Frame 3 has no known sampling frequency and frame 6 is an empty chunk: silence of their
      // share (frames 3 and 6 silent, frame 4 as stored).
      {10, 1920, 24, 0, kSilent, 19200, {{11520, 0}, {15359, 0}, {15360, 8000}, {23050, 0}}},
      // A chunk that is not a whole DV frame ends the read; a longer one still gives its sound.
      {20, 1920, 24, 0, kShortChunk, 19200, {}},
      {20, 1920, 24, 0, kLongChunk, 38400, {}},
      // DVINFO of the other system: the frames' size decides (525/60, 16016 frames a group).
      {10, 1600, 20, 0, kOtherSystem, 16016, {}},
  };
  for (const GroupCase& c : cases) {
    SCOPED_TRACE("change " + std::to_string(c.change) + " frames " + std::to_string(c.frames));
    std::vector<std::string> frames;
    for (std::uint32_t f = 0; f < c.frames; ++f) {
      DvSound s{.fifty_field = c.change != kOtherSystem,
                .frequency = c.change == kSilent && f == 3 ? 5u : 0u,
                .extra = c.extra + f % 2 * c.odd_more};
      for (std::uint32_t i = 0; i < c.samples + f % 2 * c.odd_more; ++i) {  // numbered samples
        s.left.push_back(static_cast<std::int16_t>(f * 2000 + i));
      }
      frames.push_back(dv_frame(s));
    }
    if (c.change == kSilent) frames[6].clear();
    if (c.change == kShortChunk) frames[14].resize(1000);
    if (c.change == kLongChunk) frames[14] += std::string(500, '\x7f');
    DvReader r(avitest::dv_type1(frames).build().bytes);  // 525/60 too: the file claims 50 fields
    const std::vector<std::int16_t> got = r.read_all(1151);
    ASSERT_EQ(got.size(), 2 * c.want_frames);
    if (c.change == kNone) {
      EXPECT_DOUBLE_EQ(r.reader.audio_length(), static_cast<double>(c.want_frames) / 48000);
      EXPECT_EQ(r.reader.audio_at_end(), 1);
    }
    for (const auto& [at, value] : c.want) EXPECT_EQ(got[at], value) << "sample " << at;
    // A seek inside a group reads on from there (the groups come back from the file's cache).
    r.reader.seek_audio(0.25);
    EXPECT_EQ(r.read(1), std::vector<std::int16_t>(got.begin() + 24000, got.begin() + 24002));
  }
}

// Each of the 16 segments of the 12-bit code is linear (IEC 61834-2): codes 0 to 511 stand for
// themselves, segment t of 2..7 starts at 2^(t+7) in steps of 2^(t-1), and the negative half
// mirrors the positive one (code 4095 - v is the sample -expand(v)).
std::int16_t expand12(std::uint32_t v) {
  if (v >= 2048) return static_cast<std::int16_t>(-expand12(4095 - v));
  const std::uint32_t t = v / 256;
  return static_cast<std::int16_t>(t < 2 ? v : (1u << (t + 7)) + v % 256 * (1u << (t - 1)));
}

// A 12-bit sample takes three bytes at the 16-bit layout's offset, so sample i + 54 starts on
// the third byte of sample i (the next row of the shuffle). Only every other row is written
// here, so that each checked sample owns its bytes; the ten frames' two channels hold every code.
TEST_F(DvGroupTest, TwelveBitFramesDecodeBothChannelsFromThreeBytes) {
  auto row_written = [](std::uint32_t i) { return (i / 54) % 2 == 0; };
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 10; ++f) {
    DvSound s{.twelve_bit = true};
    for (std::uint32_t i = 0; i < 1920; ++i) {
      s.left.push_back(row_written(i) ? static_cast<std::int16_t>((f * 1920 + i) % 4096)
                                      : kNotWritten);
    }
    frames.push_back(dv_frame(s));
  }
  DvReader r(avitest::dv_type1(frames).build().bytes);
  const std::vector<std::int16_t> got = r.read(19200);
  ASSERT_EQ(got.size(), 2u * 19200);
  for (std::uint32_t j = 0; j < 19200; ++j) {
    if (!row_written(j % 1920)) continue;
    ASSERT_EQ(std::pair(got[2 * j], got[2 * j + 1]),
              std::pair(expand12(j % 4096), expand12(4095 - j % 4096)))
        << j;
  }
}

// --- Real DV frames ------------------------------------------------------------------------------

TEST(DvRealSoundTest, TypeOneSoundEqualsFfmpegsDecodeOfTheSameFrames) {
  for (const bool fifty_field : {true, false}) {
    const std::string path = avitest::media_path(fifty_field ? "dv_625_48k.dv" : "dv_525_48k.dv");
    const std::vector<std::string> frames =
        avitest::dv_frames(avitest::read_file(path), fifty_field);
    ASSERT_GE(frames.size(), 10u);
    DvReader r(avitest::dv_type1(frames, fifty_field).build().bytes);
    ASSERT_TRUE(r.ok);
    const std::vector<std::int16_t> ours = r.read_all(1152);
    const std::vector<std::int16_t> want = audiotest::ffmpeg_s16(path, "", "-f dv");
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(ours.size(), want.size()) << path;
    EXPECT_TRUE(ours == want)
        << path << ": first difference at sample "
        << std::mismatch(ours.begin(), ours.end(), want.begin(), want.end()).first - ours.begin();
  }
}

}  // namespace
