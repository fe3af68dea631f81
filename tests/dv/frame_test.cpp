#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "support/test_paths.h"

namespace {

std::vector<std::uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> fixture(const std::string& name) {
  return bytes_of(avitest::read_file(avitest::fixture_path("dv/" + name)));
}

struct Fixture {
  const char* name;
  bool is625;
};

struct FixtureAtLevel {
  Fixture fixture;
  dv::SimdLevel level;
};

class DvFixtureTest : public ::testing::TestWithParam<FixtureAtLevel> {
 protected:
  void TearDown() override { dv::set_simd_level_cap(dv::kSimdAvx512); }
};

TEST_P(DvFixtureTest, MatchesExpectedPictureByteForByte) {
  const auto [f, level] = GetParam();
  if (level > dv::detected_simd_level()) GTEST_SKIP() << "no " << dv::simd_level_name(level);
  dv::set_simd_level_cap(level);
  const auto frame = fixture(std::string(f.name) + ".dv");
  const auto expected = bytes_of(
      avitest::gunzip_file(avitest::fixture_path(std::string("dv/") + f.name + ".bgr.gz")));
  ASSERT_EQ(frame.size(), dv::picture_format(f.is625).frame_bytes);
  ASSERT_EQ(expected.size(), dv::picture_format(f.is625).bgr_bytes);
  std::vector<std::uint8_t> out(expected.size());
  ASSERT_EQ(dv_decode_frame(frame.data(), out.data(), f.is625 ? 1 : 0), 1);
  EXPECT_TRUE(out == expected);
  dv::DvDecoder decoder;
  std::vector<std::uint8_t> again(expected.size());
  ASSERT_TRUE(decoder.decode(frame, f.is625, again));
  EXPECT_TRUE(again == expected);
}

std::vector<FixtureAtLevel> all_fixtures() {
  const Fixture fixtures[] = {{"625-smptebars-scroll-ildct", true},
                              {"525-testsrc2", false},
                              {"525-testsrc2-damaged", false}};
  std::vector<FixtureAtLevel> v;
  for (const Fixture& f : fixtures) {
    for (dv::SimdLevel l : {dv::kSimdScalar, dv::kSimdSse2, dv::kSimdAvx2, dv::kSimdAvx512}) {
      v.push_back({f, l});
    }
  }
  return v;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DvFixtureTest, ::testing::ValuesIn(all_fixtures()));

TEST(DvReferenceTest, ReferencePipelineMatchesTheFixtures) {
  const auto frame = fixture("625-smptebars-scroll-ildct.dv");
  const auto expected =
      bytes_of(avitest::gunzip_file(avitest::fixture_path("dv/625-smptebars-scroll-ildct.bgr.gz")));
  std::vector<std::uint8_t> out(expected.size());
  ASSERT_TRUE(dv::decode_frame_reference(frame, true, out));
  EXPECT_TRUE(out == expected);
}

// Damaged frames: random changes in the video DIF blocks of a real frame, or random bytes
// everywhere. The fast path must give the reference's bytes and stay inside its buffers.
class DvDamageTest : public ::testing::TestWithParam<int> {};

TEST_P(DvDamageTest, DamagedFramesDecodeLikeTheReferenceWithinBounds) {
  const int seed = GetParam();
  const bool is625 = seed % 2 == 0;
  const dv::PictureFormat f = dv::picture_format(is625);
  std::mt19937 rng(static_cast<unsigned>(seed));
  std::vector<std::uint8_t> frame =
      fixture(is625 ? "625-smptebars-scroll-ildct.dv" : "525-testsrc2.dv");
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
  ASSERT_TRUE(dv::decode_frame_reference(frame, is625, ref));
  EXPECT_TRUE(std::equal(ref.begin(), ref.end(), out.begin() + kGuard));
}

INSTANTIATE_TEST_SUITE_P(Seeds, DvDamageTest, ::testing::Range(1, 9));

TEST(DvDecoderTest, RejectsBuffersThatAreTooSmall) {
  dv::DvDecoder decoder;
  ASSERT_TRUE(decoder.valid());
  std::vector<std::uint8_t> frame(kDvFrameBytes625), out(720 * 3 * 576);
  EXPECT_FALSE(decoder.decode({frame.data(), kDvFrameBytes625 - 1}, true, out));
  EXPECT_FALSE(decoder.decode(frame, true, {out.data(), out.size() - 1}));
  EXPECT_TRUE(decoder.decode({frame.data(), kDvFrameBytes525}, false, {out.data(), 720 * 3 * 480}));
  EXPECT_EQ(dv_decode_frame(nullptr, out.data(), 1), 0);
}

TEST(DvDecoderTest, ReadsTheSystemFromTheHeaderBlock) {
  bool is625 = false;
  ASSERT_TRUE(dv::read_system_from_header(fixture("625-smptebars-scroll-ildct.dv"), &is625));
  EXPECT_TRUE(is625);
  ASSERT_TRUE(dv::read_system_from_header(fixture("525-testsrc2.dv"), &is625));
  EXPECT_FALSE(is625);
  const std::uint8_t video_block[4] = {0x90, 0, 0, 0};
  EXPECT_FALSE(dv::read_system_from_header(video_block, &is625));
}

// dv_decode_frame from several threads at once (g_dv_lock), and lock-free decoders beside it.
TEST(DvDecoderTest, ThreadsDecodeTheSameBytes) {
  const auto frame = fixture("525-testsrc2.dv");
  const auto expected =
      bytes_of(avitest::gunzip_file(avitest::fixture_path("dv/525-testsrc2.bgr.gz")));
  std::vector<int> ok(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < ok.size(); ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::uint8_t> out(expected.size());
      dv::DvDecoder own;
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

TEST(DvDecoderTest, PlanarPictureMatchesTheReference) {
  const auto frame = fixture("625-smptebars-scroll-ildct.dv");
  const std::size_t n = dv::picture_format(true).planar_bytes;
  std::vector<std::uint8_t> fast(n), ref(n);
  dv::DvDecoder decoder;
  ASSERT_TRUE(decoder.decode_planar(frame, true, fast));
  ASSERT_TRUE(dv::decode_planar_reference(frame, true, ref));
  EXPECT_TRUE(fast == ref);
}

}  // namespace
