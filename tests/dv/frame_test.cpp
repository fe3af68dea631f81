#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "support/test_paths.h"

using namespace avikit;

namespace avikit::dv {
namespace {

// A file of tests/data/dv, unpacked when it is a .gz.
std::vector<std::uint8_t> data(const std::string& name) {
  const std::string path = avitest::data_path("dv/" + name);
  const std::string s =
      name.ends_with(".gz") ? avitest::gunzip_file(path) : avitest::read_file(path);
  return {s.begin(), s.end()};
}

struct Fixture {
  const char* name;
  bool is625;
};

class DvFixtureTest : public ::testing::TestWithParam<Fixture> {
 protected:
  void TearDown() override { set_simd_level_cap(kSimdAvx512); }
};

// The reference pipeline, and the fast path at every instruction set through both entry points,
// give the expected picture byte for byte; the planar pictures agree with the reference's.
TEST_P(DvFixtureTest, EveryPathMatchesTheExpectedPictureByteForByte) {
  const Fixture f = GetParam();
  const auto frame = data(std::string(f.name) + ".dv");
  const auto expected = data(std::string(f.name) + ".bgr.gz");
  const PictureFormat pf = picture_format(f.is625);
  ASSERT_EQ(frame.size(), pf.frame_bytes);
  ASSERT_EQ(expected.size(), pf.bgr_bytes);
  bool is625 = !f.is625;
  ASSERT_TRUE(read_system_from_header(frame, &is625));
  EXPECT_EQ(is625, f.is625);
  std::vector<std::uint8_t> out(expected.size()), ref_planar(pf.planar_bytes), planar(ref_planar);
  ASSERT_TRUE(decode_frame_reference(frame, f.is625, out));
  EXPECT_TRUE(out == expected) << "reference";
  ASSERT_TRUE(decode_planar_reference(frame, f.is625, ref_planar));
  for (int level = kSimdScalar; level <= detected_simd_level(); ++level) {
    SCOPED_TRACE(simd_level_name(static_cast<SimdLevel>(level)));
    set_simd_level_cap(static_cast<SimdLevel>(level));
    std::fill(out.begin(), out.end(), 0);
    ASSERT_EQ(dv_decode_frame(frame.data(), out.data(), f.is625 ? 1 : 0), 1);
    EXPECT_TRUE(out == expected);
    Decoder decoder;
    std::fill(out.begin(), out.end(), 0);
    ASSERT_TRUE(decoder.decode(frame, f.is625, out));
    EXPECT_TRUE(out == expected);
    ASSERT_TRUE(decoder.decode_planar(frame, f.is625, planar));
    EXPECT_TRUE(planar == ref_planar);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DvFixtureTest,
                         ::testing::Values(Fixture{"625-smptebars-scroll-ildct", true},
                                           Fixture{"525-testsrc2", false},
                                           Fixture{"525-testsrc2-damaged", false}));

// Damaged frames: random changes in the video DIF blocks of a real frame, or random bytes
// everywhere. The fast path must give the reference's bytes and stay inside its buffers.
class DvDamageTest : public ::testing::TestWithParam<int> {};

TEST_P(DvDamageTest, DamagedFramesDecodeLikeTheReferenceWithinBounds) {
  const int seed = GetParam();
  const bool is625 = seed % 2 == 0;
  const PictureFormat f = picture_format(is625);
  std::mt19937 rng(static_cast<unsigned>(seed));
  std::vector<std::uint8_t> frame =
      data(is625 ? "625-smptebars-scroll-ildct.dv" : "525-testsrc2.dv");
  if (seed % 3 == 0) {
    for (auto& b : frame) b = static_cast<std::uint8_t>(rng());
  } else {
    for (int n = 0; n < 2000; ++n)
      frame[rng() % frame.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
  }
  const std::vector<std::uint8_t> original = frame;
  constexpr std::size_t kGuard = 64;
  std::vector<std::uint8_t> out(f.bgr_bytes + 2 * kGuard, 0xC3);
  ASSERT_EQ(dv_decode_frame(frame.data(), out.data() + kGuard, is625 ? 1 : 0), 1);
  for (std::size_t i = 0; i < kGuard; ++i) {
    ASSERT_EQ(out[i], 0xC3);
    ASSERT_EQ(out[out.size() - 1 - i], 0xC3);
  }
  EXPECT_TRUE(frame == original);
  std::vector<std::uint8_t> ref(f.bgr_bytes);
  ASSERT_TRUE(decode_frame_reference(frame, is625, ref));
  EXPECT_TRUE(std::equal(ref.begin(), ref.end(), out.begin() + kGuard));
}

INSTANTIATE_TEST_SUITE_P(Seeds, DvDamageTest, ::testing::Range(1, 9));

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
  std::vector<int> ok(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < ok.size(); ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> out(expected.size());
      Decoder own;
      bool good = true;
      for (int n = 0; n < 5; ++n) {
        if (t % 2 == 0) {
          dv_decode_frame(frame.data(), out.data(), 0);
        } else {
          good &= own.decode(frame, false, out);
        }
        good &= out == expected;
      }
      ok[t] = good ? 1 : 0;
    });
  }
  for (auto& th : threads) th.join();
  for (int v : ok) EXPECT_EQ(v, 1);
}

}  // namespace
}  // namespace avikit::dv
