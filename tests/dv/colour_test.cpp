// The colour stage. The reference functions (place.h) and the frame decoder's line loop are held
// byte for byte by the fixtures and damaged frames in frame_test.cpp; here the line kernels must
// give the scalar bytes at every instruction set.
#include "dv/colour.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dv/cpu.h"

namespace avikit::dv {
namespace {

// Sample sources: a value, or kRandom (any byte), kExtremes (0 or 255), kFlat (one value a case).
constexpr int kRandom = -1, kExtremes = -2, kFlat = -3;
struct LineCase {
  const char* name;
  int luma;
  int chroma;
  int last_pair;  // the last chroma sample of every row; -1: as the others
};
class DvColourMatchTest : public ::testing::TestWithParam<LineCase> {};

// The overlapping last step and the pair after the line's last, saturating extremes, and rows
// that end exactly at their last sample: each chroma row is its own allocation of 360 bytes, so
// that ASan sees any read past it, and every output carries guard bytes.
TEST_P(DvColourMatchTest, LineKernelsEqualScalar) {
  const LineCase c = GetParam();
  std::mt19937 rng(11);
  int n = 0;
  auto pick = [&](int v) -> std::uint8_t {
    if (v == kRandom) return static_cast<std::uint8_t>(rng());
    if (v == kExtremes) return rng() % 2 != 0 ? 255 : 0;
    return static_cast<std::uint8_t>(v == kFlat ? n * 7 : v);
  };
  const ColourKernels ref = colour_kernels(kSimdScalar);
  for (int level = kSimdSse2; level <= detected_simd_level(); ++level) {
    const ColourKernels k = colour_kernels(level);
    for (n = 0; n < 100; ++n) {
      SCOPED_TRACE("level " + std::to_string(level) + " case " + std::to_string(n));
      std::vector<std::uint8_t> y(720);
      for (auto& v : y) v = pick(c.luma);
      std::array<std::unique_ptr<std::uint8_t[]>, 4> rows;
      for (auto& r : rows) {
        r = std::make_unique<std::uint8_t[]>(360);
        for (std::size_t i = 0; i < 360; ++i) r[i] = pick(c.chroma);
        // The last pair of a 4:2:0 row and of a 4:1:1 row.
        if (c.last_pair >= 0) r[359] = r[179] = static_cast<std::uint8_t>(c.last_pair);
      }
      std::vector<std::int8_t> wa(kDoubledChromaPadded + 8, 0x5A), ca(wa), wb(wa), cb(wa);
      ref.chroma_avg(rows[0].get(), rows[1].get(), wa.data());
      k.chroma_avg(rows[0].get(), rows[1].get(), ca.data());
      ASSERT_EQ(wa, ca) << "chroma_avg";
      ASSERT_EQ(wa[kDoubledChroma], 0x5A);
      ref.chroma_411(rows[2].get(), wb.data());
      k.chroma_411(rows[2].get(), cb.data());
      ASSERT_EQ(wb, cb) << "chroma_411";
      ASSERT_EQ(wb[kDoubledChroma], 0x5A);
      std::vector<std::uint8_t> want(2160 + 128, 0x5A), got(want);
      ref.bgr_line(y.data(), wa.data(), wb.data(), want.data() + 64);
      k.bgr_line(y.data(), wa.data(), wb.data(), got.data() + 64);
      ASSERT_EQ(want, got) << "bgr_line";
      // The whole 4:2:0 line, with one row taken twice as at the picture's edges.
      const ChromaRowPairs pairs{rows[0].get(), rows[1].get(), rows[2].get(),
                                 n % 2 == 0 ? rows[3].get() : rows[2].get()};
      ref.bgr_line_420(y.data(), pairs, want.data() + 64);
      k.bgr_line_420(y.data(), pairs, got.data() + 64);
      ASSERT_EQ(want, got) << "bgr_line_420";
    }
  }
}

const LineCase kLines[] = {
    {"Random", kRandom, kRandom, -1},
    {"Extremes", kExtremes, kExtremes, -1},
    {"Flat", kFlat, kFlat, -1},
    {"BlackLumaFullChroma", 0, 255, -1},
    {"WhiteLumaFullChroma", 255, 255, -1},
    {"RandomLumaLastPairFull", kRandom, kRandom, 255},
    {"RandomLumaLastPairZero", kRandom, kRandom, 0},
    {"FlatChromaLastPairFull", kRandom, 0, 255},
};
INSTANTIATE_TEST_SUITE_P(Inputs, DvColourMatchTest, ::testing::ValuesIn(kLines),
                         [](const auto& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace avikit::dv
