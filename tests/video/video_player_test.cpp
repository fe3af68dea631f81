// AviVideoPlayer as a host drives it: the position model (speed, key-frame steps, reverse
// mode, trim window, time and timecodes), the shell's answers, copies and sharing.

#include <avikit/avi_video_player.h>
#include <avikit/image.h>
#include <avikit/media_info.h>
#include <avikit/smpte_timecode.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>

#include "container/shell.h"
#include "support/avi_builder.h"
#include "video/avi_video_player_impl.h"
#include "video/fake_video_codec.h"

using namespace avikit;

namespace {

using videotest::FakeVideoCodec;

class VideoPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(player_.open(clip_.file(), -1), 0); }
  // The absolute frame the player stands on, and the one its bitmap shows.
  int frame() const { return player_.get_start_frame_offset() + player_.get_frame_offset(); }
  std::uint32_t shown() {
    std::uint32_t f = 0;
    std::memcpy(&f, player_.impl()->reader()->frame().LockBits(), 4);
    return f;
  }
  void at(int f) { ASSERT_EQ(player_.seek(f, 1), f); }

  FakeVideoCodec codec_{"FAKE", {0}};
  // 100 frames at 25 per second, key frames every 12.
  avitest::MemoryFile clip_{"mem://player/clip.avi",
                            videotest::build_clip(videotest::every_12(100))};
  AviVideoPlayer player_;
};

// Open describes the stream and shows the first frame; a failed open gives 1, and close forgets
// the file.
TEST_F(VideoPlayerTest, OpenDescribesTheStreamAndCloseForgetsIt) {
  EXPECT_EQ(std::tuple(player_.get_total_frames(), player_.get_total_length(), shown()),
            std::tuple(100, 4.0, 0u));
  const VideoInfo* v = player_.get_video_info();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(std::tuple(v->kind, v->width, v->height), std::tuple(10, 4, 2));
  AviVideoPlayer other;
  // A reader without a file still hands out an image.
  EXPECT_EQ((std::tuple{other.open("mem://player/missing.avi", -1), other.get_frame() != nullptr}),
            std::tuple(1, true));
  player_.close();
  EXPECT_EQ((std::tuple{player_.get_frame_dib_data(), player_.forward(1),
                        player_.open(clip_.file(), 0), player_.get_video_stream_id()}),
            std::tuple(nullptr, 0, 0, 0));
}

// Forward(0) moves by the speed; speeds and frame rates out of range change nothing.
TEST_F(VideoPlayerTest, SpeedAndFrameRateStayInRange) {
  // 25 is out of range: unchanged; set_speed switches key-frame steps off.
  EXPECT_EQ((std::tuple{player_.set_speed(5), player_.forward(0), frame(), shown(),
                        player_.set_speed(25), player_.set_fast_speed(1), player_.get_speed(),
                        player_.set_speed(3), player_.get_fast_speed()}),
            std::tuple(5, 5, 5, 5u, 5, 1, 1, 3, 0));
  for (double bad : {4.99, 60.01, std::nan("")}) player_.set_frame_rate(bad, 0);
  EXPECT_DOUBLE_EQ(player_.get_frame_rate(), 25.0);
  player_.set_frame_rate(60.0, 0);
  EXPECT_DOUBLE_EQ(player_.get_frame_rate(), 60.0);
  player_.select_video_stream(-1);  // re-reads the stream's rate and leaves reverse mode
  EXPECT_DOUBLE_EQ(player_.get_frame_rate(), 25.0);
}

// Steps by key frame from `from`, played up to so the run stands where a host's would: aimed past
// either end, the step aims at the last or the first frame; with no key frame further on,
// forward goes past the end and backward to 0. An exact step off the end keeps the last picture,
// and the next is refused past the window.
TEST_F(VideoPlayerTest, KeyFrameStepsLandOnAKeyFrame) {
  const int cases[][3] = {{0, 1, 12},     {0, 7, 24},  {30, -1, 12}, {30, -20, 12},
                          {90, 500, 100}, {5, -50, 0}, {96, 1, 100}, {12, -1, 0}};
  for (const auto& [from, by, lands] : cases) {
    SCOPED_TRACE(std::to_string(from) + " by " + std::to_string(by));
    at(from);
    player_.set_fast_speed(1);
    EXPECT_EQ((std::tuple{by > 0 ? player_.forward(by) : player_.reverse(-by), frame(),
                          lands < 100 ? shown() : 100u}),  // past the end: no new picture
              std::tuple(std::abs(by), lands, static_cast<std::uint32_t>(lands)));
  }
  player_.set_speed(1);  // key-frame steps off
  at(99);
  EXPECT_EQ((std::tuple{player_.forward(1), frame(), player_.is_end(), shown(), player_.forward(1),
                        player_.reverse(1), frame()}),
            std::tuple(1, 100, 1, 99u, 0, 1, 99));
}

TEST_F(VideoPlayerTest, ReverseModeReadsTheWindowFromItsEnd) {
  ASSERT_EQ(player_.trim(10, 19), 10);
  player_.set_reverse(1);
  EXPECT_EQ(
      (std::tuple{player_.seek(0, 1), player_.impl()->reader()->position(), player_.forward(1),
                  player_.impl()->reader()->position(), player_.get_frame_offset(), shown()}),
      std::tuple(0, 19u, 1, 18u, 1, 18u));
}

TEST_F(VideoPlayerTest, TrimNarrowsTheWindowAndSeeksItsStart) {
  at(50);
  EXPECT_EQ((std::tuple{player_.trim(2, 5), player_.get_start_frame_offset(),
                        player_.get_total_frames(), player_.impl()->reader()->position(),
                        player_.trim(1, 1), player_.get_start_frame_offset(), player_.trim_clear(),
                        player_.trim(5, 200), player_.get_end_frame_offset()}),
            std::tuple(4, 2, 4, 2u, 1, 3, 100, 95, 94));  // braces: called in order
  at(7);
  // The trim is refused, but the player is still back at offset 0, where reverse is refused.
  EXPECT_EQ((std::tuple{player_.trim(-1, 3), player_.get_frame_offset(), player_.reverse(1)}),
            std::tuple(95, 0, 0));
}

// Seeks and time moves are held to the stream; a move by time goes to the offset of the time.
TEST_F(VideoPlayerTest, SeeksAndTimeMovesStayInTheStream) {
  // In order; a seek that is not exact goes to the nearest key frame (a tie goes later).
  EXPECT_EQ((std::tuple{player_.seek(500, 1), shown(), player_.seek(-3, 1), player_.seek(30, 0),
                        player_.seek(29, 0)}),
            std::tuple(99, 99u, 0, 36, 24));
  at(10);
  EXPECT_EQ((std::tuple{player_.forward_time(2.0), player_.get_frame_offset(),
                        player_.forward_time(2.0)}),
            std::tuple(40, 50, 0));
  at(60);
  EXPECT_EQ((std::tuple{player_.forward_time(2.0), player_.get_frame_offset(),
                        player_.exact_reverse_time(1.0), player_.get_frame_time(),
                        player_.seek_time(3.0, 1)}),
            std::tuple(-10, 50, 25, 1.0, 3.0));
  // Absurd times are held to the stream, never overflowed; NaN seconds go to offset 0.
  EXPECT_EQ((std::tuple{player_.seek_time(1e300, 1), player_.forward_time(std::nan("")),
                        player_.get_frame_offset()}),
            std::tuple(99 / 25.0, -99, 0));
}

TEST_F(VideoPlayerTest, TimecodesCountFromTheWindowStart) {
  char b[kTimecodeBufferSize] = {};
  EXPECT_EQ((std::tuple{std::string(player_.frame_2_timecode(0, b, 0)), player_.trim(50, 99),
                        std::string(player_.frame_2_timecode(0, b, 0)),
                        player_.timecode_2_frame("00:00:03:00"), player_.timecode_2_frame(nullptr),
                        std::string(player_.get_length_timecode(b)),
                        player_.frame_2_timecode(0, nullptr, 0)}),
            std::tuple("00:00:00:00", 50, "00:00:02:00", 25, 0, "0:02", nullptr));
}

TEST_F(VideoPlayerTest, OutputsConvertOncePerPosition) {
  EXPECT_EQ(player_.set_frame_dib_depth(32), 24);
  Image* image = player_.get_frame();
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(player_.get_frame(), image);
  at(7);
  // The image follows the move (the bitmap's bytes and pitch are the frame accuracy test's); its
  // rows are top-down, so frame 7's marker is in the last.
  std::uint32_t f = 0;
  std::memcpy(&f, player_.get_frame()->row(1), 4);
  EXPECT_EQ(f, 7u);
}

TEST_F(VideoPlayerTest, CopiesShareOnePlayerAndFreeItOnce) {
  {
    AviVideoPlayer copy(player_);
    EXPECT_EQ(copy.impl(), player_.impl());
    copy.seek(5, 1);
    EXPECT_EQ(player_.get_frame_offset(), 5);
    AviVideoPlayer assigned;
    assigned = copy;
    assigned = assigned;
    EXPECT_EQ(std::tuple(assigned.impl(), shell::users(player_.impl())),
              std::tuple(player_.impl(), 3));
  }
  EXPECT_EQ(std::tuple(shell::users(player_.impl()), player_.get_frame_offset()), std::tuple(1, 5));
  auto* heap = new AviVideoPlayer(player_);
  player_ = AviVideoPlayer();  // the original handle now drives a new, empty player
  EXPECT_EQ(heap->get_frame_offset(), 5);
  delete heap;  // the last handle of the old player frees it (ASan checks once)
  EXPECT_EQ(player_.get_total_frames(), 0);
}

}  // namespace
