// The libavcodec driver as the codec manager's users see it: which FOURCCs it answers, what it
// says about itself, which formats it takes, and how it meets bad input.
#include <avikit/platform/vfw.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hostlib/avcodec_driver.h"
#include "hostlib/codec_module.h"
#include "hostlib/dib_layout.h"
#include "hostlib/media_fixtures.h"
#include "hostlib/riff_video_tags.h"
#include "platform/strings.h"

extern "C" {
#include <libavformat/avformat.h>
}

using namespace avikit;

namespace {

using namespace platform;
using hostlib_test::output_format;

// Our FOURCC table answers as libavformat's does, for each of its FOURCCs in either letter case.
// Compat: libavformat hands its table out only as an opaque pointer; its layout, {codec id,
// FOURCC} pairs ended by AV_CODEC_ID_NONE, has not changed since the table exists.
TEST(RiffVideoTagsTest, AnswerAsLibavformatDoes) {
  struct TagEntry {
    AVCodecID id;
    unsigned int tag;
  };
  const hostlib::detail::CodecModule* codecs = hostlib::detail::codec_module();
  ASSERT_NE(codecs, nullptr) << hostlib::detail::codec_module_error();
  const AVCodecTag* theirs = avformat_get_riff_video_tags();
  const AVCodecTag* const tables[] = {theirs, nullptr};
  const auto* entry = reinterpret_cast<const TagEntry*>(theirs);
  std::size_t n = 0;
  for (; entry[n].id != AV_CODEC_ID_NONE; ++n) {
    const std::uint32_t t = entry[n].tag;
    for (const std::uint32_t v : {t, t | 0x20202020u, t & 0xDFDFDFDFu})
      EXPECT_EQ(codecs->codec_for_fourcc(v), av_codec_get_id(tables, v)) << v;
  }
  EXPECT_EQ(hostlib::detail::riff_video_tags().size(), n);
}

// A compressed input of `fcc`, sized like a 24-bit picture.
BITMAPINFOHEADER input(const char* fcc, int width = 176, int height = 144) {
  BITMAPINFOHEADER h = output_format(24, width, height);
  h.biCompression = make_fourcc(fcc[0], fcc[1], fcc[2], fcc[3]);
  return h;
}

// An instance opened to decompress, closed with its scope.
using Ic = std::unique_ptr<IcInstance, decltype(&ICClose)>;
Ic open(std::uint32_t handler) {
  return Ic(ICOpen(ICTYPE_VIDEO, handler, ICMODE_DECOMPRESS), &ICClose);
}

class AvcodecRegistryTest : public ::testing::Test {
 protected:
  // Registering again installs nothing more: every test's call counts the same FOURCCs, among
  // them every handler the driver opens for.
  void SetUp() override {
    ASSERT_GT(hostlib::register_avcodec_driver(), 20);
    ASSERT_GE(hostlib::register_avcodec_driver(),
              static_cast<int>(hostlib::avcodec_driver_handlers().size()));
  }
  void TearDown() override { EXPECT_EQ(ic_open_instances(), 0); }
};

// Every handler opens and says it is libavcodec; only a DV codec's description may say "DV" (a
// probe would take the stream for DV), and "dvsd" is left to the module's own decoder.
TEST_F(AvcodecRegistryTest, EveryHandlerDescribesItselfReadably) {
  for (const char* tag : {"XVID", "xvid", "DIVX", "DX50", "FMP4", "MP4V", "3IV2", "DIV3", "MP43",
                          "MP42", "MJPG", "H264", "X264", "avc1", "YUY2", "UYVY", "I420"}) {
    EXPECT_NE(open(input(tag).biCompression), nullptr) << tag;
  }
  for (const std::uint32_t h : hostlib::avcodec_driver_handlers()) {
    EXPECT_NE(h & 0xDFDFDFDFu, fourcc("DVSD"));
    const Ic ic = open(h);
    ASSERT_NE(ic, nullptr);
    ICINFO info;
    char description[256] = {};
    ASSERT_NE(ICGetInfo(ic.get(), &info, sizeof info), 0u);
    WideCharToMultiByte(CP_ACP, 0, info.szDescription, -1, description, sizeof description, nullptr,
                        nullptr);
    const std::string text = description;
    EXPECT_TRUE(text.starts_with("libavcodec ") && text.size() > 13) << text;
    EXPECT_TRUE(text.find("Digital Video") != std::string::npos ||
                text.find("DV") == std::string::npos)
        << text;
  }
  for (const std::uint32_t dv : {fourcc("dvsd"), fourcc("DVSD")})
    EXPECT_EQ(open(dv), nullptr) << dv;
  BITMAPINFOHEADER dv = input("dvsd", 720, 576);
  EXPECT_EQ(ICLocate(ICTYPE_VIDEO, fourcc("dvsd"), &dv, nullptr, ICMODE_DECOMPRESS), nullptr);
  // A handler nobody registered, with a compression the driver knows; but no instance may pass a
  // compression nobody decodes off as its own codec (mencoder's raw "\x18RGB" among them).
  BITMAPINFOHEADER in = input("DX50");
  EXPECT_NE(Ic(ICLocate(ICTYPE_VIDEO, fourcc("zzzz"), &in, nullptr, ICMODE_DECOMPRESS), &ICClose),
            nullptr);
  for (const DWORD unknown : {fourcc("ZZZZ"), fourcc("\x18RGB")}) {
    in.biCompression = unknown;
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, fourcc("zzzz"), &in, nullptr, ICMODE_DECOMPRESS), nullptr);
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS), nullptr);
  }
}

// YV12, YUY2 and bottom-up RGB24 at the stream's size; not another size, top-down rows, 32 bits
// or YV12 at 16 bits. Decompressing before Begin or to another format fails.
TEST_F(AvcodecRegistryTest, QueryAcceptsTheThreeOutputsAtTheStreamSizeOnly) {
  const struct {
    int bits, width, height, bit_count;
    bool accepted;
  } cases[] = {{12, 176, 144, 12, true},  {16, 176, 144, 16, true},   {24, 176, 144, 24, true},
               {24, 352, 288, 24, false}, {24, 176, -144, 24, false}, {24, 176, 144, 32, false},
               {12, 176, 144, 16, false}};
  BITMAPINFOHEADER in = input("XVID"), out = output_format(24), yv12 = output_format(12);
  const Ic ic = open(fourcc("XVID")), other = open(fourcc("MJPG"));
  ASSERT_TRUE(ic != nullptr && other != nullptr);
  std::string data(100, '\0'), dst(hostlib::dib_layout(176, 144, 24).bytes, '\0');
  in.biSizeImage = 100;
  EXPECT_NE(ICDecompress(ic.get(), 0, &in, data.data(), &out, dst.data()), 0u);
  for (const auto& c : cases) {
    BITMAPINFOHEADER o = output_format(c.bits, c.width, std::abs(c.height));
    o.biHeight = c.height;
    o.biBitCount = static_cast<WORD>(c.bit_count);
    EXPECT_EQ(ICDecompressQuery(ic.get(), &in, &o) == ICERR_OK, c.accepted) << c.width;
    EXPECT_EQ(ICDecompressBegin(ic.get(), &in, &o) == ICERR_OK, c.accepted) << c.width;
  }
  ASSERT_EQ(ICDecompressBegin(ic.get(), &in, &out), ICERR_OK);
  // Refused, in order: another output than Begin's, no data, the run state with nowhere to put
  // it, a compression nobody decodes, a huge picture and no format.
  BITMAPINFOHEADER unknown = input("QQQQ"), huge = input("XVID", 20000, 20000);
  EXPECT_EQ(std::vector<bool>({ICDecompress(ic.get(), 0, &in, data.data(), &yv12, dst.data()) != 0,
                               ICDecompress(ic.get(), 0, &in, nullptr, &out, dst.data()) != 0,
                               ICSendMessage(ic.get(), hostlib::ICM_AVK_GET_RUN_STATE, 0, 0) != 0,
                               ICDecompressQuery(other.get(), &unknown, &out) != 0,
                               ICDecompressQuery(ic.get(), &huge, nullptr) != 0,
                               ICDecompressQuery(ic.get(), nullptr, nullptr) != 0}),
            std::vector<bool>(6, true));
  EXPECT_EQ(ICDecompressEnd(ic.get()), ICERR_OK);
  // A compression of 0 names no codec: the instance's handler decides.
  unknown.biCompression = BI_RGB;
  EXPECT_EQ(ICDecompressQuery(other.get(), &unknown, &out), ICERR_OK);
}

TEST_F(AvcodecRegistryTest, GarbageChunksGiveErrorsNotCrashes) {
  std::mt19937 rng(1234);
  for (const char* fcc : {"XVID", "H264", "MJPG", "DIV3", "MP42"}) {
    BITMAPINFOHEADER in = input(fcc);
    const Ic ic = open(in.biCompression);
    BITMAPINFOHEADER out = output_format(12);
    ASSERT_TRUE(ic != nullptr && ICDecompressBegin(ic.get(), &in, &out) == ICERR_OK) << fcc;
    std::string dst(hostlib::dib_layout(176, 144, 12).bytes + 64, '\x7F');
    for (int i = 0; i < 200; ++i) {
      std::string chunk(rng() % 3000, '\0');
      for (char& c : chunk) c = static_cast<char>(rng());
      in.biSizeImage = static_cast<DWORD>(chunk.size());
      (void)ICDecompress(ic.get(), i % 10 == 0 ? 0 : ICDECOMPRESS_NOTKEYFRAME, &in, chunk.data(),
                         &out, dst.data());
    }
    (void)ICSendMessage(ic.get(), hostlib::ICM_AVK_DRAIN, reinterpret_cast<DWORD_PTR>(dst.data()),
                        0);
    // Nothing is written past the picture.
    EXPECT_EQ(dst.substr(dst.size() - 64), std::string(64, '\x7F')) << fcc;
    ICDecompressEnd(ic.get());
  }
}

}  // namespace
