// DV frames made by ffmpeg's dvvideo encoder, decoded by us and by libavcodec: the planar
// pictures (before the colour stages) agree within 1 per sample. The transforms differ in their
// rounding, so exact equality is not expected; anything beyond 1 is a real fault (a wrong
// scan, weight, pass or placement shows up as large errors).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dv/frame_decoder.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace avikit::dv {
namespace {

struct EncodeCase {
  std::string name;
  bool is625;
  std::string source;  // lavfi graph, SIZE standing for the system's size and rate
  bool ildct;
};

class DvFfmpegTest : public ::testing::TestWithParam<EncodeCase> {};

// Two frames encoded by the ffmpeg tool, and libavcodec's planar pictures of them: Y, U (Cb), V
// (Cr) as the frames' own 4:2:0 or 4:1:1 layout has them.
TEST_P(DvFfmpegTest, PlanarPictureWithinOneOfLibavcodec) {
  const EncodeCase c = GetParam();
  const std::string path = avitest::temp_path(c.name + ".dv");
  std::string graph = c.source;
  graph.replace(graph.find("SIZE"), 4, c.is625 ? "s=720x576:r=25" : "s=720x480:r=30000/1001");
  int code = -1;
  avitest::run_command("ffmpeg -nostdin -v error -y -f lavfi -i '" + graph +
                           "' -frames:v 2 -pix_fmt " + (c.is625 ? "yuv420p" : "yuv411p") +
                           " -c:v dvvideo " + (c.ildct ? "-flags +ildct " : "") + "-f dv '" + path +
                           "' 2>/dev/null",
                       &code);
  if (code != 0) GTEST_SKIP() << "ffmpeg could not make the frames";
  const std::string frames = avitest::read_file(path);
  const std::string theirs =
      avitest::run_command("ffmpeg -nostdin -v error -threads 1 -i '" + path + "' -f rawvideo -");
  const PictureFormat f = picture_format(c.is625);
  ASSERT_EQ(frames.size() % f.frame_bytes, 0U);
  ASSERT_EQ(theirs.size(), frames.size() / f.frame_bytes * f.planar_bytes);
  Decoder decoder;
  std::vector<std::uint8_t> planar(f.planar_bytes);
  for (std::size_t n = 0; n < frames.size() / f.frame_bytes; ++n) {
    const auto* frame = reinterpret_cast<const std::uint8_t*>(frames.data()) + n * f.frame_bytes;
    ASSERT_TRUE(decoder.decode_planar({frame, f.frame_bytes}, c.is625, planar));
    // Theirs: Y, U (Cb), V (Cr); ours: Y, Cr, Cb.
    const std::size_t chroma = f.cb_offset - f.cr_offset;
    int worst[3] = {};
    for (std::size_t i = 0; i < f.planar_bytes; ++i) {
      const std::size_t p = (i >= f.cr_offset ? 1U : 0U) + (i >= f.cb_offset ? 1U : 0U);
      const std::uint8_t ours = planar[p == 0 ? i : p == 1 ? i + chroma : i - chroma];
      const auto their = static_cast<std::uint8_t>(theirs[n * f.planar_bytes + i]);
      worst[p] = std::max(worst[p], std::abs(ours - their));
    }
    EXPECT_LE(std::max({worst[0], worst[1], worst[2]}), 1)
        << c.name << " frame " << n << ": Y, U, V off by " << worst[0] << ", " << worst[1] << ", "
        << worst[2];
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
