#include "hostlib/avcodec_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "hostlib/codec_walk.h"
#include "hostlib/media_fixtures.h"
#include "platform/strings.h"

using namespace avikit;

namespace {

using namespace platform;
using hostlib_test::AviVideo;
using hostlib_test::output_format;

constexpr int kWidth = 176;
constexpr int kHeight = 144;

struct StreamCase {
  const char* name;
  const char* args;   // ffmpeg arguments after the test source
  bool late = false;  // the decoder gives each picture a chunk late (B-frames, not packed)
};

// The stream's chunks as the player's codec walk sees them, decoded to YV12. The YUY2 and RGB
// outputs are compared with ffmpeg's pictures through the video player (tests/video).
class DriverStreamTest : public ::testing::TestWithParam<StreamCase>, public hostlib::WalkChunks {
 protected:
  void SetUp() override {
    ASSERT_GT(hostlib::register_avcodec_driver(), 0);
    const std::string path = hostlib_test::ffmpeg_file(
        std::string(GetParam().name) + ".avi",
        std::string("-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 40 ") + GetParam().args);
    ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << GetParam().name;
    ASSERT_TRUE(hostlib_test::read_avi_video(path, video_));
    // The sequential decode's pictures in display order, with a dropped frame (a chunk of 0
    // bytes, as the packed layout starts with) repeating the picture before it: every index
    // entry ends up with exactly one picture. Compat: a decoder that gives its pictures a chunk
    // late repeats, for a dropped frame, the picture it gave last: a frame earlier than ffmpeg's
    // timestamps place the repeat.
    const std::vector<std::string> pictures = hostlib_test::reference_frames(path, kWidth, kHeight);
    std::size_t coded = 0;
    for (std::uint32_t i = 0; i < video_.chunks.size(); ++i) {
      coded += video_.chunks[i].empty() ? 0u : 1u;
      const std::size_t held = GetParam().late && coded > 1 && i + 1 < video_.chunks.size() &&
                               video_.chunks[i + 1].empty();
      if (coded > 0 && coded <= pictures.size()) refs_.push_back(pictures[coded - 1 - held]);
      if (video_.keys[i]) keys_.push_back(i);
    }
    ASSERT_EQ(std::pair(coded, refs_.size()), std::pair(pictures.size(), video_.chunks.size()));
    format_.assign(video_.format.begin(), video_.format.end());
    format_.resize(std::max<std::size_t>(format_.size(), 44), 0);  // as the module makes it
    ic_ = ICOpen(ICTYPE_VIDEO, video_.handler, ICMODE_DECOMPRESS);
    ASSERT_NE(ic_, nullptr);
    ASSERT_EQ(ICDecompressBegin(ic_, as_header(format_), &out_), ICERR_OK);
    dst_.assign(out_.biSizeImage, '\0');
  }
  void TearDown() override {
    if (ic_ == nullptr) return;
    ICDecompressEnd(ic_);
    ICClose(ic_);
  }

  // The player's walk to picture f; `run` is the run the driver is in, kept between requests.
  bool walk(hostlib::CodecRun& run, int f) {
    const bool intra = ICSendMessage(ic_, hostlib::ICM_AVK_IS_INTRA_ONLY,
                                     reinterpret_cast<DWORD_PTR>(format_.data()), 0) == ICERR_OK;
    const hostlib::WalkTarget t{ic_, as_header(format_), &out_, dst_.data(), intra};
    std::uint32_t shown = hostlib::kNoFrame;
    return f >= 0 && run.walk_to(t, *this, static_cast<std::uint32_t>(f), false, &shown);
  }
  bool shows(int f) const {
    return dst_ == hostlib_test::as_yv12(refs_[static_cast<std::size_t>(f)], kWidth, kHeight);
  }
  std::uint32_t count() const override { return static_cast<std::uint32_t>(video_.chunks.size()); }
  std::uint32_t size(std::uint32_t c) const override {
    return static_cast<std::uint32_t>(video_.chunks[c].size());
  }
  std::span<const std::uint32_t> key_frames() const override { return keys_; }
  std::span<const std::uint8_t> read(std::uint32_t c) override {
    ++reads_;
    return {reinterpret_cast<const std::uint8_t*>(video_.chunks[c].data()),
            video_.chunks[c].size()};
  }

  AviVideo video_;
  std::vector<std::string> refs_;
  std::vector<std::uint8_t> format_;
  std::vector<std::uint32_t> keys_;
  HIC ic_ = nullptr;
  BITMAPINFOHEADER out_ = output_format(12);
  std::string dst_;
  int reads_ = 0;  // chunks handed to the driver
};

TEST_P(DriverStreamTest, EveryFrameForwardAndFromItsKeyFrameEqualsTheSequentialDecode) {
  const int pictures = static_cast<int>(refs_.size());
  hostlib::CodecRun forward;
  for (int f = 0; f < pictures; ++f) ASSERT_TRUE(walk(forward, f) && shows(f)) << "frame " << f;
  // Playing forward costs one call per chunk (and per picture still held at the end); the
  // stream has no picture past its last one.
  EXPECT_LE(reads_, static_cast<int>(video_.chunks.size()) + 4);
  EXPECT_FALSE(walk(forward, pictures));
  // Backwards, so that every request starts a run of its own.
  for (int f = pictures - 1; f >= 0; --f) {
    hostlib::CodecRun run;
    ASSERT_TRUE(walk(run, f) && shows(f)) << "frame " << f;
  }
}

const StreamCase kStreams[] = {
    {"mpeg4_divx_closed_gop",
     "-c:v mpeg4 -bf 2 -g 12 -flags +cgop -sc_threshold 1000000000 -vtag DIVX"},
    {"mpeg4_fmp4_no_bframes", "-c:v mpeg4 -bf 0 -g 12 -vtag FMP4"},
    // Every fifth frame dropped, some after a B-frame (a hurried B-frame is skipped, and its
    // picture could not be shown again) and some among an open GOP's leading B-frames.
    {"mpeg4_dropped_frames",
     "-vf select='not(eq(mod(n\\,5)\\,3))' -fps_mode passthrough -c:v mpeg4 -bf 2 -g 12 "
     "-sc_threshold 1000000000",
     true},
    {"xvid_packed_bframes", "-c:v libxvid -bf 2 -g 12 -vtag XVID"},
    {"h264_bpyramid", "-c:v libx264 -bf 3 -g 12 -vtag H264"},
    {"msmpeg4v3_div3", "-c:v msmpeg4 -g 12 -vtag DIV3"},
    {"msmpeg4v2_mp42", "-c:v msmpeg4v2 -g 12 -vtag MP42"},
    {"mjpeg", "-c:v mjpeg -pix_fmt yuvj420p -vtag MJPG"},
};
INSTANTIATE_TEST_SUITE_P(FfmpegFiles, DriverStreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
