// DV type-1 sound: 12-bit expansion, the stretch, the ten-frame groups read through the audio
// reader, and the sound of real DV frames against the ffmpeg tool's decode of the same frames.

#include "audio/dv_audio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "audio/audio_test_support.h"
#include "support/avi_builder.h"
#include "support/test_paths.h"
#include "video/media_reader.h"
#include "video/shared_file_registry.h"

namespace {

using audiotest::dv_frame;
using audiotest::dv_type1_avi;
using audiotest::DvSound;

// Each of the 16 segments of the 12-bit code is linear (IEC 61834-2): codes 0 to 511 stand for
// themselves, segment t of 2..7 starts at 2^(t+7) in steps of 2^(t-1), and the negative half
// mirrors the positive one (code 4095 - v is the sample -expand(v)).
TEST(DvAudioTest, TwelveBitCodesExpandSegmentBySegment) {
  for (std::uint32_t v = 0; v < 2048; ++v) {
    const std::uint32_t t = v / 256;
    const std::int32_t want =
        t < 2 ? static_cast<std::int32_t>(v)
              : (1 << (t + 7)) + static_cast<std::int32_t>(v % 256) * (1 << (t - 1));
    ASSERT_EQ(audio::detail::dv_expand_12bit(v), want) << v;
    ASSERT_EQ(audio::detail::dv_expand_12bit(4095 - v), -want) << v;
  }
  EXPECT_EQ(audio::detail::dv_expand_12bit(0x7FF), 32704);
  EXPECT_EQ(audio::detail::dv_expand_12bit(0x800), -32704);
  EXPECT_EQ(audio::detail::dv_expand_12bit(0x1FFF), 0);  // only the low 12 bits count
}

std::vector<std::int16_t> stretch(const std::vector<std::int16_t>& raw, std::uint32_t target) {
  std::vector<std::int16_t> even(2 * std::max<std::uint32_t>(target, 1) + 8, 0x5A5A);
  audio::detail::dv_stretch(raw.data(), static_cast<std::uint32_t>(raw.size() / 2), even.data(),
                            target);
  for (std::size_t i = 2 * target; i < even.size(); ++i) EXPECT_EQ(even[i], 0x5A5A) << "guard";
  even.resize(2 * target);
  return even;
}

std::vector<std::int16_t> ramp(std::uint32_t frames, std::int16_t step) {
  std::vector<std::int16_t> r(2 * frames);
  for (std::uint32_t i = 0; i < frames; ++i) {
    r[2 * i] = static_cast<std::int16_t>(static_cast<std::int32_t>(i) * step - 16000);
    r[2 * i + 1] = static_cast<std::int16_t>(16000 - static_cast<std::int32_t>(i) * step);
  }
  return r;
}

TEST(DvAudioTest, StretchKeepsTheEndsAndFollowsALineBetweenThem) {
  for (std::uint32_t raw_frames : {19140u, 19590u - 1, 18960u, 12000u, 2u}) {
    const std::vector<std::int16_t> raw = ramp(raw_frames, 1);
    const std::uint32_t target = 19200;
    const std::vector<std::int16_t> even = stretch(raw, target);
    EXPECT_EQ(even[0], raw[0]);
    EXPECT_EQ(even[1], raw[1]);
    EXPECT_EQ(even[2 * target - 2], raw[2 * raw_frames - 2]);
    EXPECT_EQ(even[2 * target - 1], raw[2 * raw_frames - 1]);
    // A ramp stays a ramp: each output frame lies on the line through the input, within 1.
    const double slope = static_cast<double>(raw_frames - 1) / (target - 1);
    for (std::uint32_t j = 1; j + 1 < target; ++j) {
      const double want = -16000.0 + (j * slope);
      ASSERT_NEAR(even[2 * j], want, 1.01) << raw_frames << " frame " << j;
      ASSERT_NEAR(even[2 * j + 1], -want, 1.01) << raw_frames << " frame " << j;
    }
  }
}

TEST(DvAudioTest, StretchCornerCasesStayInside) {
  const std::vector<std::int16_t> raw = ramp(100, 300);
  EXPECT_EQ(stretch(raw, 100), raw);  // same count: a copy
  EXPECT_EQ(stretch(raw, 1), std::vector<std::int16_t>(raw.begin(), raw.begin() + 2));
  EXPECT_EQ(stretch({}, 5), std::vector<std::int16_t>(10, 0));  // nothing raw: silence
  const std::vector<std::int16_t> one = {7, -7};
  EXPECT_EQ(stretch(one, 4), (std::vector<std::int16_t>{7, -7, 7, -7, 7, -7, 7, -7}));
  // Far fewer raw frames than the target: positions stay inside the raw run.
  const std::vector<std::int16_t> sparse = stretch(ramp(3, 1000), 19200);
  for (std::int16_t s : sparse) {
    ASSERT_GE(s, -16000);
    ASSERT_LE(s, 16000);
  }
}

// --- Groups read through the reader --------------------------------------------------------------

struct DvReader {
  explicit DvReader(const std::string& bytes, const char* name = "mem://dv/type1.avi")
      : file(name, bytes) {
    ok = reader.open(file.name(), USE_AUDIO);
    reader.select_audio(-1);
  }
  std::vector<std::int16_t> read(std::uint32_t frames) {
    std::vector<std::int16_t> out(2 * frames);
    const std::uint32_t got =
        reader.read_audio(reinterpret_cast<std::uint8_t*>(out.data()), 4 * frames);
    out.resize(got / 2);
    return out;
  }
  avitest::MemoryFile file;
  AudioMediaReader reader;
  bool ok = false;
};

DvSound numbered(std::uint32_t frame, std::uint32_t samples, unsigned extra) {
  DvSound s;
  s.extra = extra;
  for (std::uint32_t i = 0; i < samples; ++i) {
    s.left.push_back(static_cast<std::int16_t>(frame * 2000 + i));
    s.right.push_back(static_cast<std::int16_t>(-static_cast<std::int32_t>(frame * 2000 + i)));
  }
  return s;
}

class DvGroupTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(shared_file_count(), 0); }
};

TEST_F(DvGroupTest, TenFramesOf1920SamplesAreExactly19200AsStored) {
  std::vector<std::string> frames;
  std::vector<std::int16_t> want;
  for (std::uint32_t f = 0; f < 20; ++f) {
    const DvSound s = numbered(f, 1920, 24);  // 1896 + 24
    frames.push_back(dv_frame(s));
    for (std::size_t i = 0; i < s.left.size(); ++i) {
      want.push_back(s.left[i]);
      want.push_back(s.right[i]);
    }
  }
  DvReader r(dv_type1_avi(frames));
  ASSERT_TRUE(r.ok);
  EXPECT_DOUBLE_EQ(r.reader.audio_length(), 0.8);
  // Odd block sizes cross group boundaries.
  std::vector<std::int16_t> got;
  for (std::vector<std::int16_t> b = r.read(1151); !b.empty(); b = r.read(1151)) {
    got.insert(got.end(), b.begin(), b.end());
  }
  EXPECT_EQ(got, want);
  EXPECT_EQ(r.reader.audio_at_end(), 1);
}

TEST_F(DvGroupTest, UnevenFrameCountsAreStretchedToTheGroupSize) {
  std::vector<std::string> frames;
  std::uint32_t raw = 0;
  for (std::uint32_t f = 0; f < 10; ++f) {
    const unsigned extra = f % 2 == 0 ? 0 : 30;  // 1896 and 1926 samples
    raw += 1896 + extra;
    frames.push_back(dv_frame(numbered(f, 1896 + extra, extra)));
  }
  ASSERT_NE(raw, 19200u);
  DvReader r(dv_type1_avi(frames));
  const std::vector<std::int16_t> got = r.read(30000);
  ASSERT_EQ(got.size(), 2u * 19200);
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(got[2 * 19199], static_cast<std::int16_t>(9 * 2000 + 1925));  // the last frame kept
}

TEST_F(DvGroupTest, TheLastShortGroupHoldsItsShareOfTheGroupSize) {
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 13; ++f) frames.push_back(dv_frame(numbered(f, 1920, 24)));
  DvReader r(dv_type1_avi(frames));
  std::vector<std::int16_t> got;
  for (std::vector<std::int16_t> b = r.read(4096); !b.empty(); b = r.read(4096)) {
    got.insert(got.end(), b.begin(), b.end());
  }
  // 19200 + (3 x 19200) / 10 frames, and the length of 13 frames at 48 kHz says the same.
  EXPECT_EQ(got.size(), 2u * (19200 + 5760));
  EXPECT_EQ(got[2 * 19200], static_cast<std::int16_t>(10 * 2000));
  EXPECT_EQ(got.back(), static_cast<std::int16_t>(-(12 * 2000 + 1919)));
}

TEST_F(DvGroupTest, FramesDeclaringMoreSamplesThanTheLayoutHoldsAreCutToIt) {
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 10; ++f) {
    DvSound s = numbered(f, 1944, 63);  // declares 1896 + 63 = 1959; the layout has 1944
    frames.push_back(dv_frame(s));
  }
  DvReader r(dv_type1_avi(frames));
  const std::vector<std::int16_t> got = r.read(19200);
  ASSERT_EQ(got.size(), 2u * 19200);
  // 10 x 1944 raw frames stretched to 19200: the first and last kept.
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(got[2 * 19199], static_cast<std::int16_t>(9 * 2000 + 1943));
}

// A 12-bit sample takes three bytes at the 16-bit layout's offset, so sample i + 54 starts on
// the third byte of sample i (the next row of the shuffle). Only every other row is written
// here, so that each checked sample owns its bytes.
TEST_F(DvGroupTest, TwelveBitFramesDecodeBothChannelsFromThreeBytes) {
  auto row_written = [](std::uint32_t i) { return (i / 54) % 2 == 0; };
  std::vector<std::string> frames;
  for (int f = 0; f < 10; ++f) {
    DvSound s;
    s.twelve_bit = true;
    s.extra = 24;
    for (std::uint32_t i = 0; i < 1920; ++i) {
      s.codes12.push_back(row_written(i) ? static_cast<std::uint16_t>(i * 2 % 4096)
                                         : audiotest::kNotWritten);
      s.codes12.push_back(static_cast<std::uint16_t>(4095 - i));
    }
    frames.push_back(dv_frame(s));
  }
  DvReader r(dv_type1_avi(frames));
  const std::vector<std::int16_t> got = r.read(1920);
  ASSERT_EQ(got.size(), 2u * 1920);
  for (std::uint32_t i = 0; i < 1920; ++i) {
    if (!row_written(i)) continue;
    ASSERT_EQ(got[2 * i], audio::detail::dv_expand_12bit(i * 2 % 4096)) << i;
    ASSERT_EQ(got[2 * i + 1], audio::detail::dv_expand_12bit(4095 - i)) << i;
  }
}

TEST_F(DvGroupTest, FramesWithoutKnownSoundAreSilenceOfTheirShare) {
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 10; ++f) {
    DvSound s = numbered(f, 1920, 24);
    if (f == 3) s.frequency = 5;  // no such sampling frequency
    frames.push_back(dv_frame(s));
  }
  frames[6].clear();  // an empty chunk: nothing read
  DvReader r(dv_type1_avi(frames));
  const std::vector<std::int16_t> got = r.read(19200);
  ASSERT_EQ(got.size(), 2u * 19200);  // 8 x 1920 + 2 x 1920 of silence
  EXPECT_EQ(got[2 * (3 * 1920)], 0);
  EXPECT_EQ(got[2 * (3 * 1920 + 1919) + 1], 0);
  EXPECT_EQ(got[2 * (4 * 1920)], static_cast<std::int16_t>(4 * 2000));
  EXPECT_EQ(got[2 * (6 * 1920 + 5)], 0);
}

TEST_F(DvGroupTest, AChunkThatIsNotAWholeDvFrameEndsTheRead) {
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 20; ++f) frames.push_back(dv_frame(numbered(f, 1920, 24)));
  frames[14].resize(1000);
  DvReader r(dv_type1_avi(frames));
  std::vector<std::int16_t> got;
  for (std::vector<std::int16_t> b = r.read(4096); !b.empty(); b = r.read(4096)) {
    got.insert(got.end(), b.begin(), b.end());
  }
  EXPECT_EQ(got.size(), 2u * 19200);  // the second group cannot be read
  // A chunk longer than a DV frame still gives its sound.
  frames[14] = dv_frame(numbered(14, 1920, 24)) + std::string(500, '\x7f');
  DvReader longer(dv_type1_avi(frames), "mem://dv/longer.avi");
  EXPECT_EQ(longer.read(40000).size(), 2u * 38400);
}

TEST_F(DvGroupTest, ALayoutOfTheOtherSystemNeverReadsOutsideTheFrame) {
  // 525/60 frames (120000 bytes) in a file whose format claims the 50-field layout.
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 10; ++f) {
    DvSound s = numbered(f, 1600, 20);
    s.fifty_field = false;
    frames.push_back(dv_frame(s));
  }
  avitest::AviBuilder b;
  avitest::DvStream d;
  d.fifty_field = true;
  d.width = 720;
  d.height = 480;
  d.length = 10;
  const int s = b.add_dv(d);
  for (const std::string& f : frames) b.add_chunk(s, static_cast<std::uint32_t>(f.size()), true, f);
  DvReader r(b.build().bytes);
  const std::vector<std::int16_t> got = r.read(19200);
  EXPECT_EQ(got.size(), 2u * 19200);
}

TEST_F(DvGroupTest, GroupsAreCachedPerFileAndRefilledWhenTheirSlotIsTaken) {
  std::vector<std::string> frames;
  for (std::uint32_t f = 0; f < 60; ++f) frames.push_back(dv_frame(numbered(f, 1920, 24)));
  DvReader r(dv_type1_avi(frames));
  SharedAviFile* file = r.reader.file();
  ASSERT_NE(file, nullptr);
  const DvAudioSlot* g0 = file->dv_audio_group(0);
  ASSERT_NE(g0, nullptr);
  EXPECT_EQ(file->dv_audio_group(0), g0);
  EXPECT_EQ(file->dv_group_tags_[0], 0);
  ASSERT_NE(file->dv_audio_group(4), nullptr);  // group 4 takes group 0's slot
  EXPECT_EQ(file->dv_group_tags_[0], 4);
  EXPECT_EQ(file->dv_audio_group(4)->even[0], static_cast<std::int16_t>(40 * 2000));
  EXPECT_EQ(file->dv_audio_group(0)->even[0], 0);
  EXPECT_EQ(file->dv_audio_group(6), nullptr);  // past the last frame
  // The seek lands in the middle of a group.
  r.reader.seek_audio(1.0);
  EXPECT_EQ(r.read(1)[0], static_cast<std::int16_t>(25 * 2000));
}

// --- Real DV frames ------------------------------------------------------------------------------

struct RealDv {
  const char* file;
  bool fifty_field;
  std::uint32_t frame_bytes;
};
std::ostream& operator<<(std::ostream& os, const RealDv& c) { return os << c.file; }

class DvRealSoundTest : public ::testing::TestWithParam<RealDv> {};

TEST_P(DvRealSoundTest, TypeOneSoundEqualsFfmpegsDecodeOfTheSameFrames) {
  const RealDv& c = GetParam();
  const std::string dv = avitest::read_file(avitest::media_path(c.file));
  ASSERT_GE(dv.size(), std::size_t{c.frame_bytes} * 10);
  std::vector<std::string> frames;
  for (std::size_t at = 0; at + c.frame_bytes <= dv.size(); at += c.frame_bytes) {
    frames.push_back(dv.substr(at, c.frame_bytes));
  }
  DvReader r(dv_type1_avi(frames, c.fifty_field));
  ASSERT_TRUE(r.ok);
  std::vector<std::int16_t> ours;
  for (std::vector<std::int16_t> b = r.read(1152); !b.empty(); b = r.read(1152)) {
    ours.insert(ours.end(), b.begin(), b.end());
  }
  const std::vector<std::int16_t> want =
      audiotest::ffmpeg_s16(avitest::media_path(c.file), "", "-f dv");
  ASSERT_FALSE(want.empty());
  EXPECT_EQ(ours.size(), want.size());
  EXPECT_TRUE(ours == want)
      << "first difference at sample "
      << std::mismatch(ours.begin(), ours.end(), want.begin(), want.end()).first - ours.begin();
}

INSTANTIATE_TEST_SUITE_P(Systems, DvRealSoundTest,
                         ::testing::Values(RealDv{"dv_625_48k.dv", true, audiotest::kDvFrame625},
                                           RealDv{"dv_525_48k.dv", false, audiotest::kDvFrame525}));

}  // namespace
