// DV frames made by ffmpeg's dvvideo encoder, decoded by us and by libavcodec: the planar
// pictures (before the colour stages) agree within 1 per sample. The transforms differ in their
// rounding, so exact equality is not expected; anything beyond 1 is a real fault (a wrong
// scan, weight, pass or placement shows up as large errors).

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dv/frame_decoder.h"
#include "support/test_paths.h"

namespace avikit::dv {
namespace {

struct EncodeCase {
  std::string name;
  bool is625;
  std::string source;  // lavfi graph, SIZE standing for the system's size and rate
  bool ildct;
};

// Encodes two frames with the ffmpeg tool; empty when it is not available.
std::vector<std::uint8_t> encode(const EncodeCase& c) {
  const std::string out = avitest::temp_path(c.name + ".dv");
  std::string graph = c.source;
  graph.replace(graph.find("SIZE"), 4, c.is625 ? "s=720x576:r=25" : "s=720x480:r=30000/1001");
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i '" + graph +
                          "' -frames:v 2 -pix_fmt " + (c.is625 ? "yuv420p" : "yuv411p") +
                          " -c:v dvvideo " + (c.ildct ? "-flags +ildct " : "") + "-f dv '" + out +
                          "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return {};
  const std::string s = avitest::read_file(out);
  return {s.begin(), s.end()};
}

struct AvDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  void operator()(AVFrame* f) const { av_frame_free(&f); }
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

class DvFfmpegTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(DvFfmpegTest, PlanarPictureWithinOneOfLibavcodec) {
  const EncodeCase c = GetParam();
  const std::vector<std::uint8_t> frames = encode(c);
  if (frames.empty()) GTEST_SKIP() << "ffmpeg could not make the frames";
  const PictureFormat f = picture_format(c.is625);
  ASSERT_EQ(frames.size() % f.frame_bytes, 0U);

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_DVVIDEO);
  ASSERT_NE(codec, nullptr);
  std::unique_ptr<AVCodecContext, AvDeleter> ctx(avcodec_alloc_context3(codec));
  ctx->thread_count = 1;
  ASSERT_EQ(avcodec_open2(ctx.get(), codec, nullptr), 0);
  std::unique_ptr<AVFrame, AvDeleter> pic(av_frame_alloc());
  std::unique_ptr<AVPacket, AvDeleter> pkt(av_packet_alloc());
  Decoder decoder;
  std::vector<std::uint8_t> planar(f.planar_bytes);

  for (std::size_t off = 0; off < frames.size(); off += f.frame_bytes) {
    std::vector<std::uint8_t> frame(frames.data() + off, frames.data() + off + f.frame_bytes);
    ASSERT_TRUE(decoder.decode_planar(frame, c.is625, planar));
    pkt->data = frame.data();
    pkt->size = static_cast<int>(frame.size());
    ASSERT_EQ(avcodec_send_packet(ctx.get(), pkt.get()), 0);
    ASSERT_EQ(avcodec_receive_frame(ctx.get(), pic.get()), 0);
    ASSERT_EQ(pic->width, 720);
    ASSERT_EQ(pic->height, f.height);
    // Ours: Y, Cr, Cb. Theirs: Y, U (Cb), V (Cr).
    const std::size_t offset[3] = {0, f.cb_offset, f.cr_offset};
    for (int p = 0; p < 3; ++p) {
      const int width = p == 0 ? 720 : f.chroma_width, height = p == 0 ? f.height : f.chroma_height;
      int worst = 0;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
          worst =
              std::max(worst, std::abs(planar[offset[p] + static_cast<std::size_t>(y * width + x)] -
                                       pic->data[p][y * pic->linesize[p] + x]));
      EXPECT_LE(worst, 1) << c.name << " plane " << p << " frame " << off / f.frame_bytes;
    }
  }
}

// Both systems, 8x8 and 2-4-8 blocks, over a test pattern, fine detail and noise; interlaced
// detail for the 2-4-8 mode, whose fields differ.
std::vector<EncodeCase> all_cases() {
  std::vector<EncodeCase> v;
  const std::pair<const char*, const char*> sources[] = {
      {"testsrc2", "testsrc2=SIZE"},
      {"mandelbrot", "mandelbrot=SIZE"},
      {"noise", "color=c=gray:SIZE,noise=alls=100:allf=t+u"}};
  for (const bool is625 : {true, false})
    for (const auto& [name, source] : sources)
      for (const bool ildct : {false, true}) {
        const bool interlace = ildct && name == std::string("mandelbrot");
        v.push_back({std::string(is625 ? "p625_" : "p525_") + name + (ildct ? "_ildct" : ""), is625,
                     source + std::string(interlace ? ",tinterlace=mode=interleave_top" : ""),
                     ildct});
      }
  return v;
}

INSTANTIATE_TEST_SUITE_P(DvvideoEncoder, DvFfmpegTest, ::testing::ValuesIn(all_cases()),
                         [](const auto& i) { return i.param.name; });

}  // namespace
}  // namespace avikit::dv
