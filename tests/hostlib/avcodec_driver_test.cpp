#include "hostlib/avcodec_driver.h"

#include <gtest/gtest.h>

#include <memory>

#include "hostlib/media_fixtures.h"
#include "platform/strings.h"

using namespace avikit;

namespace {

using namespace platform;
using hostlib_test::AviVideo;
using hostlib_test::CodecWalk;
using hostlib_test::output_format;

constexpr int kWidth = 176;
constexpr int kHeight = 144;

struct StreamCase {
  const char* name;
  const char* args;  // ffmpeg arguments after the test source
  bool full_range;   // the decoder gives full-range (JPEG) samples
};

std::ostream& operator<<(std::ostream& os, const StreamCase& c) { return os << c.name; }

std::string make_stream(const StreamCase& c) {
  return hostlib_test::ffmpeg_file(
      std::string(c.name) + ".avi",
      std::string("-f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 40 ") + c.args);
}

class DriverStreamTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    ASSERT_GT(hostlib::register_avcodec_driver(), 0);
    const std::string path = make_stream(GetParam());
    ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << GetParam().name;
    ASSERT_TRUE(hostlib_test::read_avi_video(path, video_));
    refs_ = expected_slots(hostlib_test::reference_frames(path, kWidth, kHeight));
    // Every index entry ends up with exactly one picture.
    ASSERT_EQ(refs_.size(), video_.chunks.size());
    format_.assign(video_.format.begin(), video_.format.end());
  }

  // The sequential decode's pictures in display order, with a dropped frame (a chunk of 0
  // bytes, as the packed layout starts with) repeating the picture before it.
  std::vector<std::string> expected_slots(const std::vector<std::string>& pictures) const {
    std::vector<int> repeats(pictures.size(), 0);
    int coded = 0;
    for (const std::string& chunk : video_.chunks) {
      if (!chunk.empty())
        ++coded;
      else if (coded > 0 && coded <= static_cast<int>(pictures.size()))
        ++repeats[static_cast<std::size_t>(coded - 1)];
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      out.insert(out.end(), static_cast<std::size_t>(repeats[i]) + 1, pictures[i]);
    }
    return out;
  }

  BITMAPINFOHEADER* input() { return reinterpret_cast<BITMAPINFOHEADER*>(format_.data()); }

  // An instance begun for `out`, ended and closed when it goes.
  std::unique_ptr<IcInstance, void (*)(HIC)> open_begun(BITMAPINFOHEADER& out) {
    HIC ic = ICOpen(ICTYPE_VIDEO, video_.handler, ICMODE_DECOMPRESS);
    if (ic != nullptr && ICDecompressBegin(ic, input(), &out) != ICERR_OK) {
      ICClose(ic);
      ic = nullptr;
    }
    return {ic, [](HIC h) {
              ICDecompressEnd(h);
              ICClose(h);
            }};
  }

  bool shows(const std::string& dst, int f) const {
    return dst == hostlib_test::as_yv12(refs_[static_cast<std::size_t>(f)], kWidth, kHeight);
  }

  AviVideo video_;
  std::vector<std::string> refs_;
  std::vector<char> format_;
};

TEST_P(DriverStreamTest, EveryFrameForwardAndFromItsKeyFrameEqualsTheSequentialDecode) {
  BITMAPINFOHEADER out = output_format(12);
  const auto codec = open_begun(out);
  ASSERT_NE(codec, nullptr);
  std::string dst(out.biSizeImage, '\0');
  const int pictures = static_cast<int>(refs_.size());
  CodecWalk forward(codec.get(), video_, &out, dst.data());
  for (int f = 0; f < pictures; ++f) {
    ASSERT_TRUE(forward.decode(f) && shows(dst, f)) << "frame " << f;
  }
  // Playing forward costs one call per chunk (and per picture still held at the end); the
  // stream has no picture past its last one.
  EXPECT_LE(forward.calls(), static_cast<int>(video_.chunks.size()) + 4);
  EXPECT_FALSE(forward.decode(pictures));
  // Backwards, so that every request starts a run of its own.
  for (int f = pictures - 1; f >= 0; --f) {
    CodecWalk walk(codec.get(), video_, &out, dst.data());
    ASSERT_TRUE(walk.decode(f) && shows(dst, f)) << "frame " << f;
  }
}

TEST_P(DriverStreamTest, AllThreeOutputFormatsCarryTheSamePicture) {
  const int f = 17;
  // The packed forms are converted from the decoder's own samples, not from the studio-range
  // reference, so a full-range stream is compared with its own decoded samples.
  const bool full = GetParam().full_range;
  const std::string source = full ? expected_slots(hostlib_test::reference_frames(
                                        make_stream(GetParam()), kWidth, kHeight, "yuvj420p"))[f]
                                  : refs_[f];
  for (const int bits : {16, 24}) {
    BITMAPINFOHEADER out = output_format(bits);
    const auto codec = open_begun(out);
    ASSERT_NE(codec, nullptr) << bits;
    std::string dst(out.biSizeImage, '\x55');
    CodecWalk walk(codec.get(), video_, &out, dst.data());
    ASSERT_TRUE(walk.decode(f));
    EXPECT_TRUE(dst == hostlib_test::converted(source, kWidth, kHeight, bits == 24, full))
        << bits << " bits";
  }
}

const StreamCase kStreams[] = {
    {"mpeg4_xvid_bframes", "-c:v mpeg4 -bf 2 -g 12 -vtag XVID", false},
    {"mpeg4_dx50_bframes", "-c:v mpeg4 -bf 2 -g 10 -vtag DX50", false},
    {"mpeg4_divx_closed_gop",
     "-c:v mpeg4 -bf 2 -g 12 -flags +cgop -sc_threshold 1000000000 -vtag DIVX", false},
    {"mpeg4_fmp4_no_bframes", "-c:v mpeg4 -bf 0 -g 12 -vtag FMP4", false},
    {"xvid_packed_bframes", "-c:v libxvid -bf 2 -g 12 -vtag XVID", false},
    {"h264_bpyramid", "-c:v libx264 -bf 3 -g 12 -vtag H264", false},
    {"msmpeg4v3_div3", "-c:v msmpeg4 -g 12 -vtag DIV3", false},
    {"msmpeg4v2_mp42", "-c:v msmpeg4v2 -g 12 -vtag MP42", false},
    {"mjpeg", "-c:v mjpeg -pix_fmt yuvj420p -vtag MJPG", true},
};
INSTANTIATE_TEST_SUITE_P(FfmpegFiles, DriverStreamTest, ::testing::ValuesIn(kStreams),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
