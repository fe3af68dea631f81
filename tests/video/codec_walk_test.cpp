// The codec walk with a plain codec (one that does not number its pictures): how many chunks
// each request decompresses, with which flags, and what the bitmap shows afterwards.

#include <avikit/options.h>
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "hostlib/avcodec_driver.h"
#include "hostlib/media_fixtures.h"
#include "support/avi_builder.h"
#include "video/fake_video_codec.h"
#include "video/media_reader.h"

using namespace avikit;

namespace {

using platform::ICDECOMPRESS_HURRYUP;
using platform::ICDECOMPRESS_NOTKEYFRAME;
using namespace videotest;

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kNone = SharedAviFile::kNone;

// What the fake codec last wrote into a bitmap: the number of the chunk decoded into it.
std::uint32_t shown(MediaReader& r) {
  std::uint32_t f = 0;
  std::memcpy(&f, r.frame().LockBits(), 4);
  return f;
}

class CodecWalkTest : public ::testing::Test {
 protected:
  void open(const ClipShape& shape) {
    clip_ = std::make_unique<avitest::MemoryFile>("mem://walk/clip.avi", build_clip(shape));
    ASSERT_TRUE(reader_.open(clip_->file(), USE_VIDEO));
    ASSERT_EQ(reader_.prepare_output(-1, 0), 1);
    FakeVideoCodec::log().clear_calls();
  }
  int request(std::uint32_t f) { return file()->decode_frame(f, reader_.frame().LockBits()); }
  SharedAviFile* file() { return reader_.file(); }
  std::vector<std::uint32_t> frames() const { return FakeVideoCodec::log().frames(); }

  FakeVideoCodec codec_{"FAKE", {kRgb}};
  std::unique_ptr<avitest::MemoryFile> clip_;
  VideoMediaReader reader_;
};

std::vector<std::uint32_t> range(std::uint32_t first, std::uint32_t last) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t f = first; f <= last; ++f) out.push_back(f);
  return out;
}

// One request: its result, the chunks it decompresses and the chunk the bitmap shows after it.
struct Step {
  std::uint32_t frame;
  int result;
  std::vector<std::uint32_t> decompressed;
  std::uint32_t shown;
};

struct Walk {
  const char* name;
  ClipShape shape;
  std::vector<Step> steps;
  std::uint32_t fail = 0xFFFFFFFFu;  // a chunk the codec fails on
};

class CodecWalkStepTest : public CodecWalkTest, public ::testing::WithParamInterface<Walk> {};

// A run starts at a key frame (or frame 0 when none is flagged) with flags 0; every chunk a
// request decompresses before its own (all, when the walk fails) carries ICDECOMPRESS_HURRYUP.
TEST_P(CodecWalkStepTest, DecompressesWhatTheRunNeeds) {
  const ClipShape& shape = GetParam().shape;
  open(shape);
  codec_.fail_on(GetParam().fail);
  for (const Step& s : GetParam().steps) {
    FakeVideoCodec::log().clear_calls();
    ASSERT_EQ(request(s.frame), s.result) << "frame " << s.frame;
    EXPECT_EQ(frames(), s.decompressed) << "frame " << s.frame;
    EXPECT_EQ(shown(reader_), s.shown) << "frame " << s.frame;
    const auto& calls = FakeVideoCodec::log().calls;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const int f = static_cast<int>(calls[i].frame);
      const bool starts = shape.keys.empty() ? f == 0 : shape.keys.count(f) != 0;
      EXPECT_EQ(calls[i].flags,
                (starts ? 0u : ICDECOMPRESS_NOTKEYFRAME) |
                    (i + 1 < calls.size() || s.result == 0 ? ICDECOMPRESS_HURRYUP : 0u))
          << "chunk " << f << " for frame " << s.frame;
    }
  }
}

const Step kAt30 = {30, 1, range(24, 30), 30};  // the run of key frame 24, up to 30

std::vector<Step> one_by_one(std::uint32_t first, std::uint32_t last) {
  std::vector<Step> out;
  for (std::uint32_t f = first; f <= last; ++f) out.push_back({f, 1, {f}, f});
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Requests, CodecWalkStepTest,
    ::testing::Values(
        Walk{"PlayingForwardTakesOneChunkAFrame", every_12(), one_by_one(0, 30)},
        Walk{"BackInsideTheRunRestartsIt", every_12(), {kAt30, {27, 1, range(24, 27), 27}}},
        Walk{"OnInsideTheRun", every_12(), {kAt30, {35, 1, range(31, 35), 35}}},
        Walk{"IntoTheNextRun", every_12(), {kAt30, {40, 1, range(36, 40), 40}}},
        Walk{"TheFrameTheBitmapHolds", every_12(), {kAt30, {30, 1, {}, 30}}},
        Walk{"BackIntoAnEarlierRun", every_12(), {kAt30, {5, 1, range(0, 5), 5}}},
        Walk{"LastFrameAndNoFurther",
             every_12(),
             {{49, 1, range(48, 49), 49}, {50, 0, {}, 49}, {kNone, 0, {}, 49}}},
        // A 0-byte chunk is not decompressed; the bitmap keeps the picture before it.
        Walk{"EmptyChunkKeepsThePicture",
             ClipShape{.keys = every_12().keys, .empty = {5}},
             {{7, 1, {0, 1, 2, 3, 4, 6, 7}, 7}, {5, 1, range(0, 4), 4}}},
        Walk{"NoKeyFramesStartEveryRunAtZero",
             ClipShape{.frames = 20},
             {{5, 1, range(0, 5), 5}, {2, 1, range(0, 2), 2}, {9, 1, range(3, 9), 9}}},
        // A failing chunk ends the walk, and counts as the last one decoded.
        Walk{"FailingChunkEndsTheWalk", every_12(), {{6, 0, range(0, 3), 2}, {3, 1, {}, 2}}, 3},
        // Frames before the first key frame show it, and the run goes on from it.
        Walk{"BeforeTheFirstKeyFrame",
             ClipShape{.frames = 30, .keys = {5, 17}},
             {{2, 1, {5}, 5}, {0, 1, {}, 5}, {6, 1, {6}, 6}}}),
    [](const auto& p) { return std::string(p.param.name); });

// A bitmap the run forgets is not taken for its own again.
TEST_F(CodecWalkTest, ReadersSharingTheRunEachGetTheirFrame) {
  open(every_12());
  VideoMediaReader other;
  ASSERT_TRUE(other.open(clip_->file(), USE_VIDEO));
  ASSERT_EQ(other.prepare_output(0, 0), 1);  // the recorded stream: the file stays shared
  ASSERT_EQ(other.file(), file());
  ASSERT_EQ(request(10), 1);
  FakeVideoCodec::log().clear_calls();
  // The run's last frame is 10, but the other reader's bitmap has never held it.
  ASSERT_EQ(file()->decode_frame(10, other.frame().LockBits()), 1);
  EXPECT_EQ(std::tuple(shown(other), frames()), std::tuple(10u, range(0, 10)));
  ASSERT_EQ(request(10), 1);
  EXPECT_EQ(shown(reader_), 10u);
  file()->forget_destination(reader_.frame().LockBits());
  FakeVideoCodec::log().clear_calls();
  ASSERT_EQ(request(10), 1);
  EXPECT_EQ(frames(), range(0, 10));
}

// libavcodec's MJPEG codes every picture alone: a request starts the driver's run at the frame
// itself (a 0-byte chunk: at the picture it repeats), though the index flags only frame 0, or
// goes on from the chunk the run stands before.
TEST(IntraOnlyWalkTest, RunsStartAtTheFrameWhateverTheIndexFlags) {
  hostlib_test::AviVideo mjpeg;
  ASSERT_TRUE(hostlib_test::read_avi_video(
      hostlib_test::ffmpeg_file("walk_mjpeg.avi",
                                "-f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 40 -c:v mjpeg"),
      mjpeg));
  avitest::AviBuilder b;
  const int stream =
      b.add_video({.handler = "MJPG", .compression = "MJPG", .width = 64, .height = 48});
  for (std::size_t f = 0; f < mjpeg.chunks.size(); ++f) {
    const std::string& chunk = f == 20 ? std::string() : mjpeg.chunks[f];
    b.add_chunk(stream, static_cast<std::uint32_t>(chunk.size()), f == 0, chunk);
  }
  avitest::MemoryFile clip("mem://walk/mjpeg.avi", b.build().bytes);
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.file(), USE_VIDEO));
  ASSERT_EQ(reader.prepare_output(-1, 0), 1);
  SharedAviFile* file = reader.file();
  // Frame asked for, the key of the run then, and the chunks the driver's run holds.
  using W = std::tuple<std::uint32_t, std::uint32_t, int>;
  for (const auto& [frame, key, chunks] :
       {W{30, 30, 1}, W{12, 12, 1}, W{13, 12, 2}, W{20, 19, 2}}) {
    ASSERT_EQ(file->decode_frame(frame, reader.frame().LockBits()), 1) << frame;
    hostlib::AvkRunState st;
    platform::ICSendMessage(file->decoder_, hostlib::ICM_AVK_GET_RUN_STATE,
                            reinterpret_cast<platform::DWORD_PTR>(&st), sizeof st);
    EXPECT_EQ(std::tuple(file->run_.key, st.chunks), std::tuple(key, chunks)) << frame;
  }
}

// --- Decoder selection -------------------------------------------------------------------------

// What prepare_output gives, the outputs offered to ICM_DECOMPRESS_BEGIN in order, the bitmap's
// depth, whether frame 0 was decoded to prime the codec (and again to be shown), and whether
// frame 1 then decodes.
TEST(DecoderSelectionTest, FallsBackFromYv12ToYuy2ToRgb) {
  const std::uint32_t kYv12 = platform::fourcc("YV12"), kYuy2 = platform::fourcc("YUY2");
  const struct {
    const char* fourcc;  // the codec's, and the stream's handler and compression
    std::uint32_t option;
    std::vector<std::uint32_t> accepts, asked;
    int prepared, bits;
    const char* handler = nullptr;  // another handler, which no codec answers to
    bool primes = false;
  } cases[] = {{"DX50", 2, {kYv12, kYuy2, kRgb}, {kYv12}, 1, 12},
               {"DX50", 2, {kYuy2}, {kYv12, kYuy2}, 1, 16},
               {"DX50", 2, {}, {kYv12, kYuy2, kRgb}, 0, 24},
               {"divx", 0, {kYuy2, kRgb}, {kYuy2}, 1, 16},        // lower case asks for YUY2
               {"MJPG", 2, {kYv12, kYuy2, kRgb}, {kRgb}, 1, 24},  // others get RGB at once
               {"FAKE", 2, {kRgb}, {kRgb}, 1, 24, "ABCD"},        // the compression names the codec
               {"XVID", 0, {kYuy2}, {kYuy2}, 1, 16, "xvid", true}};
  for (const auto& p : cases) {
    SCOPED_TRACE(std::string(p.fourcc) + " accepting " + std::to_string(p.accepts.size()));
    FakeVideoCodec codec(p.fourcc, p.accepts);
    options_set(254, p.option);
    avitest::MemoryFile clip("mem://walk/select.avi",
                             build_clip({.frames = 3,
                                         .keys = {0},
                                         .handler = p.handler != nullptr ? p.handler : p.fourcc,
                                         .compression = p.fourcc}));
    VideoMediaReader reader;
    ASSERT_TRUE(reader.open(clip.file(), USE_VIDEO));
    const int prepared = reader.prepare_output(-1, 1);
    ASSERT_NE(reader.frame().header, nullptr);
    EXPECT_EQ(std::tuple(prepared, FakeVideoCodec::log().begun, reader.frame().header->biBitCount,
                         FakeVideoCodec::log().frames() == std::vector<std::uint32_t>{0, 0}),
              std::tuple(p.prepared, p.asked, p.bits, p.primes));
    EXPECT_EQ(reader.file()->decode_frame(1, reader.frame().LockBits()), p.prepared);
    options_clear(254);
  }
}

TEST(DecoderSetupTest, HandlerEqualToCompressionTriesNoLocate) {
  FakeVideoCodec codec("FAKE", {kRgb});
  const ClipShape s{
      .frames = 5, .keys = {0}, .handler = "ABCD", .compression = "ABCD", .with_sound = true};
  avitest::MemoryFile clip("mem://walk/abcd.avi", build_clip(s));
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.file(), USE_VIDEO));
  FakeVideoCodec::log().queries = 0;  // naming the stream on open looked for any codec
  EXPECT_EQ((std::tuple{reader.prepare_output(-1, 1), FakeVideoCodec::log().queries,
                        reader.file()->decode_frame(0, reader.frame().LockBits())}),
            std::tuple(0, 0, 0));
}

// The codec is ended and closed at once, not when the file goes.
TEST(DecoderSetupTest, ResetEndsAndClosesTheCodec) {
  const int before = platform::ic_open_instances();
  FakeVideoCodec codec("FAKE", {kRgb});
  avitest::MemoryFile clip("mem://walk/reset.avi", build_clip(every_12(5)));
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.file(), USE_VIDEO));
  ASSERT_EQ(reader.prepare_output(-1, 1), 1);
  reader.file()->reset_decoder();
  EXPECT_EQ((std::tuple{FakeVideoCodec::log().ends, platform::ic_open_instances(),
                        reader.file()->decode_frame(0, reader.frame().LockBits())}),
            std::tuple(1, before, 0));
}

}  // namespace
