// Frame accuracy on real files made by ffmpeg: the frame a random seek fetches is byte for byte
// the one sequential playback reaches, for every codec; and sequential playback shows ffmpeg's
// own pictures where the two can be compared exactly.

#include <avikit/avi_video_player.h>
#include <avikit/options.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <numeric>
#include <random>
#include <sstream>

#include "dv/frame_decoder.h"
#include "hostlib/media_fixtures.h"
#include "support/avi_builder.h"
#include "support/run_command.h"
#include "support/test_paths.h"
#include "video/avi_video_player_impl.h"

using namespace avikit;

namespace {

// How sequential playback is checked against ffmpeg.
enum class Reference {
  kYv12,           // the reader's YV12 bitmap equals ffmpeg's 4:2:0 planes
  kYuy2,           // the reader's YUY2 bitmap equals them converted as the driver does
  kRgb,            // the 24-bit output equals ffmpeg's 4:2:0 planes converted as the driver does
  kRgbFullRange,   // the same from full-range (JPEG) planes
  kBgr24,          // the 24-bit output equals ffmpeg's bgr24 decode
  kBgr24Near,      // within 1 of it (5-bit components are widened differently)
  kBgr24Close,     // within 3 of it (the default YV12 route converts 4:2:0 on its own)
  kBgr24Rematrix,  // within 4 (BT.709 YUV re-expressed for the BT.601 YUV routes rounds again)
  kDv,             // the 24-bit output equals the DV decoder's picture of each chunk
};

struct MediaCase {
  std::string name;
  std::string file;  // in the media folder; empty for a DV type-1 file built here
  Reference reference;
  int random_seeks;  // 0: every frame, in a shuffled order
  bool dv625 = true;
  // Last frames without a picture (a packed stream's final B-frames): a seek there fails and
  // leaves whatever the bitmap held, so they are not compared.
  int undecodable_tail = 0;
  bool yuy2 = false;  // the YUY2 route, not the default YV12
};

std::ostream& operator<<(std::ostream& os, const MediaCase& c) { return os << c.name; }

struct Frames {
  std::vector<std::string> rgb;     // get_frame_dib_data, pitch x height bytes
  std::vector<std::string> bitmap;  // the reader's frame bitmap
};

std::string frame_bytes(AviVideoPlayer& p) {
  const char* data = p.get_frame_dib_data();
  const auto* h = p.get_frame_dib_header();
  if (data == nullptr || h == nullptr) return {};
  return std::string(data, static_cast<std::size_t>(p.get_frame_dib_pitch()) *
                               static_cast<std::size_t>(h->biHeight));
}

// A chunk of 0 bytes is a dropped frame: it shows the picture before it again.
std::vector<std::string> with_dropped_frames(const std::string& path,
                                             const std::vector<std::string>& pictures) {
  hostlib_test::AviVideo video;
  if (!hostlib_test::read_avi_video(path, video)) return pictures;
  std::vector<std::string> out;
  std::size_t next = 0;
  for (const std::string& chunk : video.chunks) {
    if (!chunk.empty() && next < pictures.size()) {
      out.push_back(pictures[next++]);
    } else if (!out.empty()) {
      out.push_back(out.back());
    }
  }
  return out;
}

// ffmpeg's bgr24 decode, flipped into bottom-up rows.
std::vector<std::string> ffmpeg_bgr24(const std::string& path, int w, int h) {
  const std::string all =
      avitest::run_command("ffmpeg -nostdin -v error -i '" + path +
                           "' -fps_mode passthrough -vf vflip -f rawvideo -pix_fmt bgr24 -");
  const auto frame = static_cast<std::size_t>(w * 3 * h);
  std::vector<std::string> frames;
  for (std::size_t p = 0; frame > 0 && p + frame <= all.size(); p += frame) {
    frames.push_back(all.substr(p, frame));
  }
  return frames;
}

int max_difference(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return 256;
  return std::transform_reduce(
      a.begin(), a.end(), b.begin(), 0, [](int x, int y) { return std::max(x, y); },
      [](char x, char y) { return std::abs(std::uint8_t(x) - std::uint8_t(y)); });
}

class FrameAccuracyTest : public ::testing::TestWithParam<MediaCase> {
 protected:
  void SetUp() override {
    const MediaCase& c = GetParam();
    if (c.reference == Reference::kYuy2 || c.yuy2) options_set(254, 0);  // YV12 is the default
    if (!c.file.empty()) {
      path_ = avitest::media_path(c.file);
      // Made only when ffmpeg has the encoder (libx264, libxvid).
      if (!std::filesystem::exists(path_)) GTEST_SKIP() << c.file << " was not made";
    } else {
      dv_ = avitest::dv_frames(
          avitest::read_file(avitest::media_path(c.dv625 ? "dv_625_48k.dv" : "dv_525_48k.dv")),
          c.dv625);
      ASSERT_FALSE(dv_.empty());
      path_ = avitest::temp_path(c.dv625 ? "accuracy_dv625.avi" : "accuracy_dv525.avi");
      ASSERT_TRUE(avitest::dv_type1(dv_, c.dv625).write_file(path_));
    }
  }
  void TearDown() override {
    options_clear(254);
    options_clear(kOptionPictureCacheMib);
  }

  Frames play_sequentially() {
    Frames out;
    AviVideoPlayer p;
    EXPECT_EQ(p.open(path_.c_str(), -1), 0);
    p.seek(0, 1);
    for (int f = 0, n = p.get_total_frames(); f < n; ++f, p.forward(1)) {
      out.rgb.push_back(frame_bytes(p));
      const CNewDib& dib = p.impl()->reader()->frame();
      out.bitmap.emplace_back(reinterpret_cast<const char*>(dib.LockBits()), dib.image_bytes());
    }
    return out;
  }

  void check_reference(const Frames& seq) {
    const MediaCase& c = GetParam();
    AviVideoPlayer p;
    ASSERT_EQ(p.open(path_.c_str(), -1), 0);
    const int w = p.get_video_info()->width, h = p.get_video_info()->height;
    const Reference k = c.reference;
    const bool yuv = k == Reference::kYv12 || k == Reference::kYuy2;
    const bool rgb = k == Reference::kRgb || k == Reference::kRgbFullRange;
    std::vector<std::string> refs;
    if (k == Reference::kDv) {
      hostlib_test::AviVideo video;
      video.chunks = dv_;
      ASSERT_TRUE(!dv_.empty() || hostlib_test::read_avi_video(path_, video));
      dv::Decoder decoder;
      for (const std::string& chunk : video.chunks) {
        std::string picture(static_cast<std::size_t>(720 * 3 * h), '\0');
        ASSERT_TRUE(decoder.decode(
            {reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()}, h == 576,
            {reinterpret_cast<std::uint8_t*>(picture.data()), picture.size()}));
        refs.push_back(picture);
      }
    } else if (!yuv && !rgb) {
      refs = ffmpeg_bgr24(path_, w, h);
    } else {
      refs = with_dropped_frames(
          path_, hostlib_test::reference_frames(
                     path_, w, h, k == Reference::kRgbFullRange ? "yuvj420p" : "yuv420p"));
    }
    ASSERT_FALSE(refs.empty());
    // A packed stream's last B-frames have no picture in libavcodec: compare what it gives.
    const std::size_t n = std::min(refs.size(), seq.rgb.size());
    EXPECT_GE(n + 2, seq.rgb.size());
    const int tolerance =
        std::array{0, 0, 0, 0, 0, 1, 3, 4, 0}[static_cast<std::size_t>(k)];  // by kind
    for (std::size_t f = 0; f < n; ++f) {
      const std::string& r = refs[f];
      const std::string want =
          k == Reference::kYv12 ? hostlib_test::as_yv12(r, w, h)
          : yuv || rgb ? hostlib_test::converted(r, w, h, rgb, k == Reference::kRgbFullRange)
                       : r;
      ASSERT_LE(max_difference(yuv ? seq.bitmap[f] : seq.rgb[f], want), tolerance) << "frame " << f;
    }
  }

  std::string path_;
  std::vector<std::string> dv_;
};

TEST_P(FrameAccuracyTest, RandomSeekEqualsSequentialPlayback) {
  const Frames seq = play_sequentially();
  ASSERT_GT(seq.rgb.size(), 10u);
  const int n = static_cast<int>(seq.rgb.size()) - GetParam().undecodable_tail;
  std::vector<int> order;
  std::mt19937 rng(1234);
  if (GetParam().random_seeks == 0) {
    for (int f = 0; f < n; ++f) order.push_back(f);
    std::shuffle(order.begin(), order.end(), rng);
  } else {
    order = {n - 1, 0, n / 2, 1, n - 2};
    std::uniform_int_distribution<int> pick(0, n - 1);
    while (static_cast<int>(order.size()) < GetParam().random_seeks) order.push_back(pick(rng));
  }
  AviVideoPlayer p;
  ASSERT_EQ(p.open(path_.c_str(), -1), 0);
  for (const int f : order) {
    ASSERT_EQ(p.seek(f, 1), f);
    ASSERT_FALSE(seq.rgb[static_cast<std::size_t>(f)].empty());
    ASSERT_TRUE(frame_bytes(p) == seq.rgb[static_cast<std::size_t>(f)]) << "frame " << f;
  }
  // Stepping backwards frame by frame over a key frame boundary, as a jog wheel does; through
  // the whole of a short file with a picture cache of 1 MiB, so that pictures are evicted.
  const bool whole = GetParam().random_seeks == 0;
  if (whole) options_set(kOptionPictureCacheMib, 1);
  const int top = whole ? n - 1 : std::min(n - 1, 30);
  p.seek(top, 1);
  for (int f = top; f >= (whole ? 0 : std::max(0, top - 20)); --f, p.reverse(1)) {
    ASSERT_EQ(p.get_frame_offset(), f);
    ASSERT_TRUE(frame_bytes(p) == seq.rgb[static_cast<std::size_t>(f)]) << "frame " << f;
  }
}

TEST_P(FrameAccuracyTest, SequentialPlaybackShowsFfmpegsPictures) {
  check_reference(play_sequentially());
}

INSTANTIATE_TEST_SUITE_P(
    FfmpegFiles, FrameAccuracyTest,
    ::testing::Values(
        MediaCase{"Mpeg4Gop12", "mpeg4_xvid_gop12.avi", Reference::kYv12, 0},
        MediaCase{"Mpeg4Gop12BFrames", "mpeg4_divx_gop12_bf2.avi", Reference::kYv12, 0},
        MediaCase{"Mpeg4Gop250", "mpeg4_xvid_gop250.avi", Reference::kYv12, 40},
        MediaCase{"Mpeg4Gop250BFrames", "mpeg4_dx50_gop250_bf2.avi", Reference::kYv12, 40},
        MediaCase{"XvidPackedBFrames", "xvid_packed_bf2.avi", Reference::kYv12, 0, true, 2},
        MediaCase{"Mpeg4Gop12Yuy2", "mpeg4_xvid_gop12.avi", Reference::kYuy2, 30},
        MediaCase{"Mpeg4Gop12Bgr24", "mpeg4_divx_gop12_bf2.avi", Reference::kBgr24Close, 30},
        MediaCase{"Mpeg4Gop12Yuy2Bgr24", "mpeg4_divx_gop12_bf2.avi", Reference::kBgr24Close, 30,
                  true, 0, true},
        // Tagged BT.709: colours by that matrix in every route, as ffmpeg shows them.
        MediaCase{"H264Bt709", "h264_bt709.avi", Reference::kBgr24Close, 30},
        MediaCase{"Mpeg4Bt709", "mpeg4_bt709.avi", Reference::kBgr24Rematrix, 30},
        MediaCase{"Mpeg4Bt709Yuy2", "mpeg4_bt709.avi", Reference::kBgr24Rematrix, 30, true, 0,
                  true},
        MediaCase{"H264BFrames", "h264_bf2.avi", Reference::kRgb, 0},
        MediaCase{"Mjpeg", "mjpeg_mp3.avi", Reference::kRgbFullRange, 0},
        MediaCase{"Raw8", "raw_pal8.avi", Reference::kBgr24, 0},
        MediaCase{"Raw16", "raw_rgb555.avi", Reference::kBgr24Near, 0},
        MediaCase{"Raw24", "raw_bgr24.avi", Reference::kBgr24, 0},
        MediaCase{"DvType2System625", "dv_type2_625.avi", Reference::kDv, 0},
        MediaCase{"DvType2System525", "dv_type2_525.avi", Reference::kDv, 0},
        MediaCase{"DvType1System625", "", Reference::kDv, 0, true},
        MediaCase{"DvType1System525", "", Reference::kDv, 0, false}),
    [](const auto& p) { return p.param.name; });

// Sizes that are no multiple of the vector width libswscale writes: the bitmap's bytes stay
// exact up to the last column and row, and nothing is written past them (the valgrind job).
std::vector<MediaCase> odd_size_cases() {
  const char* any = "1x1 2x3 3x2 170x97 186x101 330x185 520x293 854x480 1366x768";
  const char* even = "2x2 170x96 186x100 330x184 520x292 854x480 1366x768";
  const struct {
    std::string codec, file;
    Reference reference;
    const char* sizes;
  } codecs[] = {{"Mpeg4", "odd_mpeg4_", Reference::kYv12, any},
                {"Mpeg4Yuy2", "odd_mpeg4_", Reference::kYuy2, any},
                {"Mjpeg", "odd_mjpeg_", Reference::kRgbFullRange, any},
                {"H264", "odd_h264_", Reference::kRgb, even}};
  std::vector<MediaCase> cases;
  for (const auto& c : codecs) {
    std::istringstream sizes(c.sizes);
    for (std::string size; sizes >> size;) {
      cases.push_back({c.codec + "_" + size, c.file + size + ".avi", c.reference, 0});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(OddSizes, FrameAccuracyTest, ::testing::ValuesIn(odd_size_cases()),
                         [](const auto& p) { return p.param.name; });

}  // namespace
