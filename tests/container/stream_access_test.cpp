#include "container/stream_access.h"

#include <cmath>
#include <limits>

#include "container_peek.h"

namespace {

TEST(StreamAccessTest, StreamKindAndNumbers) {
  AviBuilder b;
  const int a = b.add_audio({}), v0 = b.add_video({}), v1 = b.add_video({});
  b.add_frames(v0, 2, 10).add_frames(v1, 2, 10).add_frames(a, 2, 100);
  OpenedAvi c(b.build().bytes, false);
  ASSERT_EQ(c.result, 1);
  EXPECT_EQ(std::tuple(c.stream_kind(0), c.stream_kind(1), c.stream_kind(2), c.stream_kind(3),
                       c.stream_kind(-1)),
            std::tuple(0x610000u, 0x760000u, 0x760001u, 0u, 0u));
  std::uint32_t vl[4] = {}, al[4] = {};
  // Braces: in order. Stream 0 is an audio stream, so selecting it fails and keeps stream 2.
  EXPECT_EQ((std::tuple{c.video_stream_numbers(vl, 4), vl[0], vl[1], c.audio_stream_numbers(al, 4),
                        al[0], c.video_stream_numbers(vl, 1), c.video_stream_numbers(nullptr, 4),
                        c.select_video_stream(2), c.selected_video_stream_number(),
                        c.select_video_stream(0), c.select_video_stream(-1),
                        c.selected_video_stream_number()}),
            std::tuple(2, 1u, 2u, 1, 0u, 1, 0, 1, 2, 0, 0, 2));
}

TEST(StreamAccessTest, DescribesVideoForTheHost) {
  AviBuilder b;
  b.add_frames(b.add_video({.width = 320, .height = 240, .rate = 30000, .scale = 1001}), 30, 1001,
               10);
  OpenedAvi c(b.build().bytes, false);
  ASSERT_EQ(c.result, 1);
  VideoInfo info;
  c.describe_video_stream(info);
  EXPECT_EQ(std::tuple(info.kind, info.width, info.height, info.inter_frames, info.stream),
            std::tuple(10, 320, 240, 1, 0));
  // Single precision, as the rate is stored: `avikit probe` rounds the difference away. Its
  // JSON checks the length and bit rate.
  EXPECT_DOUBLE_EQ(info.frame_rate, static_cast<double>(30000.0f / 1001.0f));
}

// PCM's bit rate goes through single precision: 1411200 * 0.001f rounds up to 1411.20007f, where
// a double 0.001 would give 1411.19995f and so one bit per second less.
TEST(StreamAccessTest, DescribesAudioForTheHost) {
  const avitest::AudioStream ac3{0x2000, 6, 48000, 0, 56000, 1}, pcm{};
  for (const auto& [format, chunk, length, want] :
       {std::tuple{ac3, 1792u, 4 * 1792 / 56000.0,
                   std::tuple(16, kAudioFormatAc3, 2, 6, 48000, 448000, 16, 2304, 0)},
        std::tuple{pcm, 1764u, 4 * 1764 / 176400.0,
                   std::tuple(16, kAudioFormatPcm, 2, 0, 44100, 1411200, 16, 2304, 0)}}) {
    AviBuilder b;
    b.add_frames(b.add_audio(format), 4, chunk);
    OpenedAvi c(b.build().bytes, false);
    ASSERT_EQ(c.result, 1);
    AudioInfo info;
    c.describe_audio_stream(info);
    EXPECT_EQ(
        std::tuple(info.kind, info.format, info.channels, info.source_channels, info.sample_rate,
                   info.bit_rate, info.bits_per_sample, info.block_bytes, info.stream),
        want);
    EXPECT_DOUBLE_EQ(info.length, length);
  }
}

TEST(StreamAccessTest, TruncateToIntNeverOverflows) {
  using container::detail::truncate_to_int;
  using limits = std::numeric_limits<std::int32_t>;
  EXPECT_EQ(std::tuple(truncate_to_int(1.9), truncate_to_int(-1.9), truncate_to_int(std::nan("")),
                       truncate_to_int(1e300), truncate_to_int(-HUGE_VAL)),
            std::tuple(1, -1, 0, limits::max(), limits::min()));
}

}  // namespace
