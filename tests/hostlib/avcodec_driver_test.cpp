#include "hostlib/avcodec_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "hostlib/dib_layout.h"
#include "hostlib/media_fixtures.h"
#include "platform/strings.h"

extern "C" {
#include <libswscale/swscale.h>
}

using namespace avikit;

namespace {

using namespace platform;
using hostlib_test::AviVideo;
using hostlib_test::CodecWalk;

constexpr int kWidth = 176;
constexpr int kHeight = 144;

// Closes a codec instance and ends its decompression.
class Codec {
 public:
  explicit Codec(HIC ic) : ic_(ic) {}
  ~Codec() {
    if (ic_ != nullptr) {
      ICDecompressEnd(ic_);
      ICClose(ic_);
    }
  }
  Codec(const Codec&) = delete;
  Codec& operator=(const Codec&) = delete;
  HIC get() const { return ic_; }

 private:
  HIC ic_;
};

BITMAPINFOHEADER output_format(int bits) {
  BITMAPINFOHEADER h;
  h.biSize = sizeof h;
  h.biWidth = kWidth;
  h.biHeight = kHeight;
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(bits);
  h.biCompression = bits == 12 ? fourcc("YV12") : bits == 16 ? fourcc("YUY2") : BI_RGB;
  h.biSizeImage = hostlib::dib_layout(kWidth, kHeight, bits).bytes;
  return h;
}

// The reference picture (I420) in the driver's YV12 layout: Y, then V, then U.
std::string as_yv12(const std::string& i420) {
  const std::size_t y = kWidth * kHeight;
  const std::size_t c = y / 4;
  return i420.substr(0, y) + i420.substr(y + c, c) + i420.substr(y, c);
}

// The reference picture converted by libswscale the way the driver converts, bottom-up for RGB.
std::string converted(const std::string& i420, int bits, bool full_range) {
  const hostlib::DibLayout l = hostlib::dib_layout(kWidth, kHeight, bits);
  std::string out(l.bytes, '\0');
  const auto* src = reinterpret_cast<const std::uint8_t*>(i420.data());
  const std::uint8_t* planes[3] = {src, src + kWidth * kHeight, src + kWidth * kHeight * 5 / 4};
  const int strides[3] = {kWidth, kWidth / 2, kWidth / 2};
  auto* dst = reinterpret_cast<std::uint8_t*>(out.data());
  std::uint8_t* dplanes[1] = {dst};
  int dstrides[1] = {l.pitch};
  if (bits == 24) {
    dplanes[0] = dst + static_cast<std::size_t>(l.pitch) * (kHeight - 1);
    dstrides[0] = -l.pitch;
  }
  SwsContext* sws =
      sws_getContext(kWidth, kHeight, full_range ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P, kWidth,
                     kHeight, bits == 24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUYV422,
                     bits == 24 ? SWS_BILINEAR : SWS_POINT, nullptr, nullptr, nullptr);
  sws_scale(sws, planes, strides, 0, kHeight, dplanes, dstrides);
  sws_freeContext(sws);
  return out;
}

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

  HIC open_begun(BITMAPINFOHEADER& out) {
    HIC ic = ICOpen(ICTYPE_VIDEO, video_.handler, ICMODE_DECOMPRESS);
    if (ic != nullptr && ICDecompressBegin(ic, input(), &out) != ICERR_OK) {
      ICClose(ic);
      return nullptr;
    }
    return ic;
  }

  AviVideo video_;
  std::vector<std::string> refs_;
  std::vector<char> format_;
};

TEST_P(DriverStreamTest, EveryFrameFromItsKeyFrameEqualsTheSequentialDecode) {
  BITMAPINFOHEADER out = output_format(12);
  Codec codec(open_begun(out));
  ASSERT_NE(codec.get(), nullptr);
  std::string dst(out.biSizeImage, '\0');
  const int pictures = static_cast<int>(refs_.size());
  // Backwards, so that every request starts a run of its own.
  for (int f = pictures - 1; f >= 0; --f) {
    CodecWalk walk(codec.get(), video_, &out, dst.data());
    ASSERT_TRUE(walk.decode(f)) << "frame " << f;
    ASSERT_TRUE(dst == as_yv12(refs_[static_cast<std::size_t>(f)])) << "frame " << f;
  }
}

TEST_P(DriverStreamTest, PlayingForwardCostsOneCallPerFrame) {
  BITMAPINFOHEADER out = output_format(12);
  Codec codec(open_begun(out));
  ASSERT_NE(codec.get(), nullptr);
  std::string dst(out.biSizeImage, '\0');
  CodecWalk walk(codec.get(), video_, &out, dst.data());
  const int pictures = static_cast<int>(refs_.size());
  for (int f = 0; f < pictures; ++f) {
    ASSERT_TRUE(walk.decode(f)) << "frame " << f;
    ASSERT_TRUE(dst == as_yv12(refs_[static_cast<std::size_t>(f)])) << "frame " << f;
  }
  // Each chunk (and each picture still held at the end) is handed over once.
  EXPECT_LE(walk.calls(), static_cast<int>(video_.chunks.size()) + 4);
  // The stream has no picture past its last one.
  EXPECT_FALSE(walk.decode(pictures));
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
    Codec codec(open_begun(out));
    ASSERT_NE(codec.get(), nullptr) << bits;
    std::string dst(out.biSizeImage, '\x55');
    CodecWalk walk(codec.get(), video_, &out, dst.data());
    ASSERT_TRUE(walk.decode(f));
    EXPECT_TRUE(dst == converted(source, bits, full)) << bits << " bits";
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
