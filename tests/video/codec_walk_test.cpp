// The codec walk with a plain codec (one that does not number its pictures): how many chunks
// each request decompresses, with which flags, and what the bitmap shows afterwards.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "hostlib/options.h"
#include "support/avi_builder.h"
#include "video/fake_video_codec.h"
#include "video/media_reader.h"

namespace {

using platform::ICDECOMPRESS_NOTKEYFRAME;
using videotest::FakeVideoCodec;
using videotest::numbered_chunk;

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kNone = SharedAviFile::kNone;

struct ClipShape {
  int frames = 50;
  std::set<int> keys;   // frames flagged as key frames
  std::set<int> empty;  // frames stored as 0-byte chunks
  const char* handler = "FAKE";
  const char* compression = "FAKE";
  bool with_sound = false;  // a file whose video has no codec opens only for its sound
};

ClipShape every_12(int frames = 50) {
  ClipShape s;
  s.frames = frames;
  for (int f = 0; f < frames; f += 12) s.keys.insert(f);
  return s;
}

std::string build_clip(const ClipShape& s) {
  avitest::AviBuilder b;
  avitest::VideoStream v;
  v.handler = s.handler;
  v.compression = s.compression;
  const int stream = b.add_video(v);
  if (s.with_sound) b.add_chunks(b.add_audio({}), 2, 64);
  for (int f = 0; f < s.frames; ++f) {
    const bool empty = s.empty.count(f) != 0;
    b.add_chunk(stream, empty ? 0 : 16, s.keys.count(f) != 0,
                empty ? std::string() : numbered_chunk(static_cast<std::uint32_t>(f)));
  }
  return b.build().bytes;
}

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
    ASSERT_TRUE(reader_.open(clip_->name(), USE_VIDEO));
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

TEST_F(CodecWalkTest, PlayingForwardDecompressesOneChunkPerFrame) {
  open(every_12());
  for (std::uint32_t f = 0; f <= 30; ++f) {
    FakeVideoCodec::log().clear_calls();
    ASSERT_EQ(request(f), 1);
    ASSERT_EQ(frames(), std::vector<std::uint32_t>{f});
    const std::uint32_t flags = FakeVideoCodec::log().calls[0].flags;
    EXPECT_EQ(flags, f % 12 == 0 ? 0u : ICDECOMPRESS_NOTKEYFRAME) << "frame " << f;
    EXPECT_EQ(shown(reader_), f);
  }
}

struct Jump {
  std::uint32_t to;
  std::vector<std::uint32_t> decompressed;
};

class CodecWalkJumpTest : public CodecWalkTest, public ::testing::WithParamInterface<Jump> {};

TEST_P(CodecWalkJumpTest, AfterFrame30) {
  open(every_12());
  for (std::uint32_t f = 0; f <= 30; ++f) ASSERT_EQ(request(f), 1);
  FakeVideoCodec::log().clear_calls();
  ASSERT_EQ(request(GetParam().to), 1);
  EXPECT_EQ(frames(), GetParam().decompressed);
  EXPECT_EQ(shown(reader_), GetParam().to);
  EXPECT_EQ(file()->last_decoded_, GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(
    KeyFramesEvery12, CodecWalkJumpTest,
    ::testing::Values(Jump{27, range(24, 27)},  // back inside the run: restart at its key frame
                      Jump{35, range(31, 35)},  // on inside the run
                      Jump{40, range(36, 40)},  // into the next run
                      Jump{30, {}},             // the frame the bitmap holds
                      Jump{5, range(0, 5)}),    // back into an earlier run
    [](const auto& p) { return "To" + std::to_string(p.param.to); });

TEST_F(CodecWalkTest, LastFrameDecodesAndFrameCountIsRefused) {
  open(every_12());
  EXPECT_EQ(request(49), 1);
  EXPECT_EQ(frames(), range(48, 49));
  FakeVideoCodec::log().clear_calls();
  EXPECT_EQ(request(50), 0);
  EXPECT_EQ(request(kNone), 0);
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ(shown(reader_), 49u);
}

TEST_F(CodecWalkTest, EmptyChunkKeepsThePictureWithoutStoppingTheWalk) {
  ClipShape s = every_12();
  s.empty = {5};
  open(s);
  ASSERT_EQ(request(7), 1);
  EXPECT_EQ(frames(), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 6, 7}));
  ASSERT_EQ(request(5), 1);  // back in the run: 0..4 again, then nothing for 5
  EXPECT_EQ(shown(reader_), 4u);
}

TEST_F(CodecWalkTest, FailingChunkEndsTheWalkAndCountsAsDecoded) {
  open(every_12());
  codec_.fail_on(3);
  EXPECT_EQ(request(6), 0);
  EXPECT_EQ(frames(), range(0, 3));
  EXPECT_EQ(shown(reader_), 2u);
  FakeVideoCodec::log().clear_calls();
  EXPECT_EQ(request(3), 1);  // the failed frame counts as the last one decoded
  EXPECT_TRUE(frames().empty());
}

TEST_F(CodecWalkTest, StreamWithoutKeyFramesStartsEveryRunAtFrameZero) {
  ClipShape s;
  s.frames = 20;
  open(s);
  ASSERT_EQ(request(5), 1);
  EXPECT_EQ(frames(), range(0, 5));
  EXPECT_EQ(FakeVideoCodec::log().calls[0].flags, 0u);
  EXPECT_EQ(FakeVideoCodec::log().calls[1].flags, ICDECOMPRESS_NOTKEYFRAME);
  FakeVideoCodec::log().clear_calls();
  ASSERT_EQ(request(2), 1);
  EXPECT_EQ(frames(), range(0, 2));
  FakeVideoCodec::log().clear_calls();
  ASSERT_EQ(request(9), 1);
  EXPECT_EQ(frames(), range(3, 9));
}

TEST_F(CodecWalkTest, FramesBeforeTheFirstKeyFrameShowIt) {
  ClipShape s;
  s.frames = 30;
  s.keys = {5, 17};
  open(s);
  ASSERT_EQ(request(2), 1);
  EXPECT_EQ(frames(), std::vector<std::uint32_t>{5});
  EXPECT_EQ(FakeVideoCodec::log().calls[0].flags, 0u);
  EXPECT_EQ(shown(reader_), 5u);
  FakeVideoCodec::log().clear_calls();
  ASSERT_EQ(request(0), 1);  // the bitmap shows the first key frame already
  ASSERT_EQ(request(6), 1);  // and the run goes on from it
  EXPECT_EQ(frames(), std::vector<std::uint32_t>{6});
}

TEST_F(CodecWalkTest, ReadersSharingTheRunEachGetTheirFrame) {
  open(every_12());
  VideoMediaReader other;
  ASSERT_TRUE(other.open(clip_->name(), USE_VIDEO));
  ASSERT_EQ(other.prepare_output(0, 0), 1);  // the recorded stream: the file stays shared
  ASSERT_EQ(other.file(), file());
  ASSERT_EQ(request(10), 1);
  FakeVideoCodec::log().clear_calls();
  // The run's last frame is 10, but the other reader's bitmap has never held it.
  ASSERT_EQ(file()->decode_frame(10, other.frame().LockBits()), 1);
  EXPECT_EQ(shown(other), 10u);
  EXPECT_EQ(frames(), range(0, 10));
  ASSERT_EQ(request(10), 1);
  EXPECT_EQ(shown(reader_), 10u);
}

TEST_F(CodecWalkTest, ForgottenBitmapIsNotTakenForTheRunsOwn) {
  open(every_12());
  ASSERT_EQ(request(3), 1);
  file()->forget_destination(reader_.frame().LockBits());
  FakeVideoCodec::log().clear_calls();
  ASSERT_EQ(request(3), 1);
  EXPECT_EQ(frames(), range(0, 3));
}

TEST_F(CodecWalkTest, FindRunKeyFollowsTheRun) {
  open(every_12());
  EXPECT_EQ(file()->find_run_key(12), 12u);  // a key frame starts its own run
  EXPECT_EQ(file()->find_run_key(13), 12u);
  for (std::uint32_t f = 0; f <= 30; ++f) ASSERT_EQ(request(f), 1);
  EXPECT_EQ(file()->find_run_key(31), 24u);  // next frame of the run
  EXPECT_EQ(file()->find_run_key(37), 36u);
}

// --- Decoder selection -------------------------------------------------------------------------

struct Selection {
  const char* name;
  const char* fourcc;  // handler and compression
  std::uint32_t option;
  std::vector<std::uint32_t> accepts;
  std::vector<std::uint32_t> asked;  // outputs offered to ICM_DECOMPRESS_BEGIN, in order
  int bits;
  int prepared;
};

class DecoderSelectionTest : public ::testing::TestWithParam<Selection> {
 protected:
  void TearDown() override { options_clear(254); }
};

TEST_P(DecoderSelectionTest, FallsBackFromYv12ToYuy2ToRgb) {
  const Selection& p = GetParam();
  FakeVideoCodec codec(p.fourcc, p.accepts);
  options_set(254, p.option);
  ClipShape s = every_12(3);
  s.handler = p.fourcc;
  s.compression = p.fourcc;
  avitest::MemoryFile clip("mem://walk/select.avi", build_clip(s));
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.name(), USE_VIDEO));
  EXPECT_EQ(reader.prepare_output(-1, 1), p.prepared);
  EXPECT_EQ(FakeVideoCodec::log().begun, p.asked);
  ASSERT_NE(reader.frame().header, nullptr);
  EXPECT_EQ(reader.frame().header->biBitCount, p.bits);
  EXPECT_EQ(reader.file()->decode_frame(1, reader.frame().LockBits()), p.prepared);
}

const std::uint32_t kYv12 = platform::fourcc("YV12");
const std::uint32_t kYuy2 = platform::fourcc("YUY2");

INSTANTIATE_TEST_SUITE_P(
    Codecs, DecoderSelectionTest,
    ::testing::Values(
        Selection{"Dx50AcceptingYv12", "DX50", 2, {kYv12, kYuy2, kRgb}, {kYv12}, 12, 1},
        Selection{"Dx50AcceptingOnlyYuy2", "DX50", 2, {kYuy2}, {kYv12, kYuy2}, 16, 1},
        Selection{"Dx50AcceptingNothing", "DX50", 2, {}, {kYv12, kYuy2, kRgb}, 24, 0},
        Selection{"LowerCaseDivxAsksForYuy2", "divx", 0, {kYuy2, kRgb}, {kYuy2}, 16, 1},
        Selection{"OtherCodecsGetRgbAtOnce", "MJPG", 2, {kYv12, kYuy2, kRgb}, {kRgb}, 24, 1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DecoderSetupTest, XvidHandlerPrimesFrameZeroAndDecodesItAgain) {
  FakeVideoCodec codec("XVID", {kYuy2});
  ClipShape s = every_12(5);
  s.handler = "xvid";
  s.compression = "XVID";
  avitest::MemoryFile clip("mem://walk/xvid.avi", build_clip(s));
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.name(), USE_VIDEO));
  ASSERT_EQ(reader.prepare_output(-1, 0), 1);
  EXPECT_EQ(FakeVideoCodec::log().frames(), std::vector<std::uint32_t>{0});
  EXPECT_EQ(shown(reader), 0u);
  EXPECT_EQ(reader.file()->last_decoded_, kNone);
}

TEST(DecoderSetupTest, HandlerEqualToCompressionTriesNoLocate) {
  FakeVideoCodec codec("FAKE", {kRgb});
  ClipShape s = every_12(5);
  s.handler = "ABCD";
  s.compression = "ABCD";
  s.with_sound = true;
  avitest::MemoryFile clip("mem://walk/abcd.avi", build_clip(s));
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.name(), USE_VIDEO));
  FakeVideoCodec::log().queries = 0;  // naming the stream on open looked for any codec
  EXPECT_EQ(reader.prepare_output(-1, 1), 0);
  EXPECT_EQ(FakeVideoCodec::log().queries, 0);
  EXPECT_EQ(reader.file()->decode_frame(0, reader.frame().LockBits()), 0);
}

TEST(DecoderSetupTest, HandlerWithoutCodecFallsBackToTheCompression) {
  FakeVideoCodec codec("FAKE", {kRgb});
  ClipShape s = every_12(5);
  s.handler = "ABCD";
  avitest::MemoryFile clip("mem://walk/abcd_fake.avi", build_clip(s));
  VideoMediaReader reader;
  ASSERT_TRUE(reader.open(clip.name(), USE_VIDEO));
  EXPECT_EQ(reader.prepare_output(-1, 1), 1);
  EXPECT_EQ(FakeVideoCodec::log().frames(), std::vector<std::uint32_t>{0});
}

TEST(DecoderSetupTest, ResetEndsAndClosesTheCodec) {
  const int before = platform::ic_open_instances();
  {
    FakeVideoCodec codec("FAKE", {kRgb});
    avitest::MemoryFile clip("mem://walk/reset.avi", build_clip(every_12(5)));
    VideoMediaReader reader;
    ASSERT_TRUE(reader.open(clip.name(), USE_VIDEO));
    ASSERT_EQ(reader.prepare_output(-1, 1), 1);
    EXPECT_EQ(platform::ic_open_instances(), before + 1);
    reader.file()->reset_decoder();
    EXPECT_EQ(FakeVideoCodec::log().ends, 1);
    EXPECT_EQ(reader.file()->decode_frame(0, reader.frame().LockBits()), 0);
  }
  EXPECT_EQ(platform::ic_open_instances(), before);
}

}  // namespace
