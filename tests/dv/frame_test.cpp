#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "support/test_paths.h"

namespace avikit::dv {
namespace {

// A file of tests/data/dv, unpacked when it is a .gz.
std::vector<std::uint8_t> data(const std::string& name) {
  const std::string path = avitest::data_path("dv/" + name);
  const std::string s =
      name.ends_with(".gz") ? avitest::gunzip_file(path) : avitest::read_file(path);
  return {s.begin(), s.end()};
}

// A fixture of tests/data/dv as it is (damage 0), with the expected picture beside it; or damaged
// with seed `damage`: every byte random (seeds divisible by 3) or 2000 random bytes changed.
struct FrameCase {
  const char* name;
  bool is625;
  int damage;
};

class DvFrameTest : public ::testing::TestWithParam<FrameCase> {
 protected:
  void TearDown() override { set_simd_level_cap(kSimdAvx512); }
};

// The reference pipeline gives the expected picture; the fast path at every instruction set,
// through both entry points, gives the reference's bytes, stays inside its buffers and leaves the
// frame as it was; the planar pictures agree with the reference's. The damaged frames take the
// fast parse through its rare paths: codes split over three readers, escapes in every pass.
TEST_P(DvFrameTest, EveryPathGivesTheReferenceBytesWithinBounds) {
  const FrameCase c = GetParam();
  const PictureFormat pf = picture_format(c.is625);
  std::vector<std::uint8_t> frame = data(std::string(c.name) + ".dv");
  ASSERT_EQ(frame.size(), pf.frame_bytes);
  std::mt19937 rng(static_cast<unsigned>(c.damage));
  for (std::size_t n = 0; c.damage != 0 && n < (c.damage % 3 == 0 ? frame.size() : 2000); ++n) {
    if (c.damage % 3 == 0) frame[n] = static_cast<std::uint8_t>(rng());
    if (c.damage % 3 != 0)
      frame[rng() % frame.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
  }
  const std::vector<std::uint8_t> original = frame;
  std::vector<std::uint8_t> want(pf.bgr_bytes), ref_planar(pf.planar_bytes), planar(ref_planar);
  ASSERT_TRUE(decode_frame_reference(frame, c.is625, want));
  ASSERT_TRUE(decode_planar_reference(frame, c.is625, ref_planar));
  if (c.damage == 0) {
    EXPECT_TRUE(want == data(std::string(c.name) + ".bgr.gz")) << "reference";
    bool is625 = !c.is625;
    EXPECT_TRUE(read_system_from_header(frame, &is625) && is625 == c.is625);
  }
  // The picture inside guard bytes.
  std::vector<std::uint8_t> guarded(want.size() + 128, 0xC3);
  std::copy(want.begin(), want.end(), guarded.begin() + 64);
  for (int level = kSimdScalar; level <= detected_simd_level(); ++level) {
    SCOPED_TRACE(simd_level_name(static_cast<SimdLevel>(level)));
    set_simd_level_cap(static_cast<SimdLevel>(level));
    std::vector<std::uint8_t> out(guarded.size(), 0xC3), got(pf.bgr_bytes);
    ASSERT_EQ(dv_decode_frame(frame.data(), out.data() + 64, c.is625 ? 1 : 0), 1);
    EXPECT_TRUE(out == guarded);
    Decoder decoder;
    EXPECT_TRUE(decoder.decode(frame, c.is625, got) && got == want);
    EXPECT_TRUE(decoder.decode_planar(frame, c.is625, planar) && planar == ref_planar);
  }
  EXPECT_TRUE(frame == original);
}

constexpr const char* k625 = "625-smptebars-scroll-ildct";
constexpr const char* k525 = "525-testsrc2";
INSTANTIATE_TEST_SUITE_P(FixturesAndDamage, DvFrameTest,
                         ::testing::Values(FrameCase{k625, true, 0}, FrameCase{k525, false, 0},
                                           FrameCase{"525-testsrc2-damaged", false, 0},
                                           FrameCase{k525, false, 1}, FrameCase{k625, true, 2},
                                           FrameCase{k525, false, 3}, FrameCase{k625, true, 4},
                                           FrameCase{k525, false, 5}, FrameCase{k625, true, 6},
                                           FrameCase{k525, false, 7}, FrameCase{k625, true, 8}));

TEST(DvDecoderTest, RejectsBuffersThatAreTooSmallAndFramesWithoutAHeader) {
  Decoder decoder;
  ASSERT_TRUE(decoder.valid());
  std::vector<std::uint8_t> frame(kFrameBytes625), out(720 * 3 * 576);
  EXPECT_FALSE(decoder.decode({frame.data(), kFrameBytes625 - 1}, true, out));
  EXPECT_FALSE(decoder.decode(frame, true, {out.data(), out.size() - 1}));
  EXPECT_TRUE(decoder.decode({frame.data(), kFrameBytes525}, false, {out.data(), 720 * 3 * 480}));
  EXPECT_EQ(dv_decode_frame(nullptr, out.data(), 1), 0);
  bool is625 = false;
  const std::uint8_t video_block[4] = {0x90, 0, 0, 0};
  EXPECT_FALSE(read_system_from_header(video_block, &is625));
}

// dv_decode_frame from several threads at once (g_dv_lock), and lock-free decoders beside it.
TEST(DvDecoderTest, ThreadsDecodeTheSameBytes) {
  const auto frame = data("525-testsrc2.dv");
  const auto expected = data("525-testsrc2.bgr.gz");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> out(expected.size());
      Decoder own;
      for (int n = 0; n < 5; ++n) {
        const bool ok = t % 2 == 0 ? dv_decode_frame(frame.data(), out.data(), 0) == 1
                                   : own.decode(frame, false, out);
        wrong += ok && out == expected ? 0 : 1;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace avikit::dv
