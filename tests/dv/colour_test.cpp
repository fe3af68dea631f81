#include "dv/colour.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dv/cpu.h"
#include "dv/frame_decoder.h"
#include "dv/frame_workspace.h"
#include "dv/place.h"

namespace {

// One YUY2 line of 720 pixels, all pairs (y, u, y, v), converted by the reference.
std::vector<std::uint8_t> bgr_of_flat_line(int y, int u, int v) {
  std::vector<std::uint8_t> yuy2(1440);
  for (std::size_t p = 0; p < 360; ++p) {
    yuy2[4 * p] = yuy2[4 * p + 2] = static_cast<std::uint8_t>(y);
    yuy2[4 * p + 1] = static_cast<std::uint8_t>(u);
    yuy2[4 * p + 3] = static_cast<std::uint8_t>(v);
  }
  std::vector<std::uint8_t> out(2160);
  dv_yuy2_to_rgb24(yuy2.data(), out.data(), yuy2.data() + 1440, 1440, 1440);
  return out;
}

struct GreyCase {
  int y;
  int expected;
};
class DvGreyTest : public ::testing::TestWithParam<GreyCase> {};

TEST_P(DvGreyTest, StudioRangeLumaMapsToFullRange) {
  const auto out = bgr_of_flat_line(GetParam().y, 128, 128);
  for (std::uint8_t v : out) ASSERT_EQ(v, GetParam().expected) << "Y " << GetParam().y;
}

INSTANTIATE_TEST_SUITE_P(Levels, DvGreyTest,
                         ::testing::Values(GreyCase{16, 0}, GreyCase{235, 255}, GreyCase{126, 128},
                                           GreyCase{0, 0}, GreyCase{10, 0}, GreyCase{240, 255},
                                           GreyCase{255, 255}));

TEST(DvColourTest, LastPixelTakesItsColourFromItsOwnPair) {
  std::vector<std::uint8_t> yuy2(1440, 128);
  for (std::size_t p = 0; p < 360; ++p) yuy2[4 * p] = yuy2[4 * p + 2] = 100;
  yuy2[1440 - 3] = 200;  // U of the last pair
  yuy2[1440 - 7] = 40;   // U of the pair before it
  std::vector<std::uint8_t> out(2160);
  dv_yuy2_to_rgb24(yuy2.data(), out.data(), yuy2.data() + 1440, 1440, 1440);
  // Blue of the last pixel: Y 100, cb = 2 (200 - 128) = 144.
  const int yt = (100 - 16) * 19077 + 8192;
  EXPECT_EQ(out[2160 - 3], std::min(255, (yt + 16525 * 144) >> 14));
  // The right pixel of the pair before: cb = 40 + 200 - 256.
  EXPECT_EQ(out[2160 - 9], std::max(0, (yt + 16525 * (40 + 200 - 256)) >> 14));
}

TEST(DvColourTest, BottomLineComesFirst) {
  std::vector<std::uint8_t> yuy2(2 * 1440, 128);
  for (std::size_t i = 0; i < 1440; i += 2) {
    yuy2[i] = 16;          // top line black
    yuy2[1440 + i] = 235;  // bottom line white
  }
  std::vector<std::uint8_t> out(2 * 2160);
  dv_yuy2_to_rgb24(yuy2.data(), out.data(), yuy2.data() + yuy2.size(), 1440, 1440);
  EXPECT_EQ(out[0], 255);
  EXPECT_EQ(out[2160], 0);
}

TEST(DvColourTest, ChromaRowsOf420FollowTheFieldSiting) {
  struct Row {
    int line, ua, ub, va, vb;
  };
  const Row rows[] = {{0, 0, 0, 0, 0},           {1, 1, 1, 1, 1},
                      {2, 0, 0, 0, 2},           {3, 1, 1, 1, 3},
                      {4, 0, 2, 2, 2},           {5, 1, 3, 3, 3},
                      {6, 2, 2, 2, 4},           {573, 285, 287, 287, 287},
                      {574, 286, 286, 286, 286}, {575, 287, 287, 287, 287}};
  for (const Row& r : rows) {
    const dv::ChromaRows420 c = dv::chroma_rows_420(r.line, 576);
    EXPECT_EQ(c.ua, r.ua) << r.line;
    EXPECT_EQ(c.ub, r.ub) << r.line;
    EXPECT_EQ(c.va, r.va) << r.line;
    EXPECT_EQ(c.vb, r.vb) << r.line;
  }
}

TEST(DvColourTest, Line4Of420AveragesCbRows0And2ButTakesCrRow2) {
  std::vector<std::uint8_t> y(720 * 576, 100), cb(360 * 288), cr(360 * 288);
  for (std::size_t r = 0; r < 288; ++r) {
    for (std::size_t i = 0; i < 360; ++i) {
      cb[r * 360 + i] = static_cast<std::uint8_t>(10 * r + 1);
      cr[r * 360 + i] = static_cast<std::uint8_t>(7 * r + 3);
    }
  }
  std::vector<std::uint8_t> yuy2(1440 * 576);
  dv_420_to_yuy2(y.data(), 720, cb.data(), 360, cr.data(), 360, yuy2.data(), 1440, 720, 576);
  EXPECT_EQ(yuy2[4 * 1440 + 1], (1 + 21 + 1) / 2);  // U: avg(Cb row 0, Cb row 2)
  EXPECT_EQ(yuy2[4 * 1440 + 3], 17);                // V: Cr row 2
  EXPECT_EQ(yuy2[2 * 1440 + 1], 1);                 // line 2: Cb row 0
  EXPECT_EQ(yuy2[2 * 1440 + 3], (3 + 17 + 1) / 2);  // line 2: avg(Cr rows 0, 2)
}

TEST(DvColourTest, Conversion411InterpolatesAndRepeatsTheLastSample) {
  std::vector<std::uint8_t> y(720, 50), cb(180), cr(180);
  for (std::size_t m = 0; m < 180; ++m) {
    cb[m] = static_cast<std::uint8_t>(m);
    cr[m] = static_cast<std::uint8_t>(255 - m);
  }
  std::vector<std::uint8_t> yuy2(1440);
  dv_411_to_yuy2(y.data(), 720, cb.data(), 180, cr.data(), 180, yuy2.data(), 1440, 720, 1);
  EXPECT_EQ(yuy2[8 * 10 + 1], 10);
  EXPECT_EQ(yuy2[8 * 10 + 5], 11);   // (10 + 11 + 1) >> 1
  EXPECT_EQ(yuy2[8 * 10 + 7], 245);  // (245 + 244 + 1) >> 1
  EXPECT_EQ(yuy2[8 * 179 + 5], 179);
  EXPECT_EQ(yuy2[8 * 179 + 7], 76);
}

TEST(DvPlaceTest, EdgeMacroblockPutsRightHalfOfChroma8LinesLower) {
  DvMacroblock mb{};
  for (std::size_t b = 0; b < 6; ++b) {
    for (std::size_t k = 0; k < 64; ++k) mb[b][k] = static_cast<std::int16_t>(b * 64 + k) & 0xFF;
  }
  std::vector<std::uint8_t> y(16 * 720), cr(16 * 180, 0), cb(16 * 180, 0);
  dv_place_mb_411_edge(mb, y.data(), 720, cr.data() + 176, cb.data() + 176, 180);
  for (std::size_t r = 0; r < 8; ++r) {
    for (std::size_t c = 0; c < 4; ++c) {
      EXPECT_EQ(cr[r * 180 + 176 + c], mb[4][8 * r + c]);
      EXPECT_EQ(cr[(r + 8) * 180 + 176 + c], mb[4][8 * r + c + 4]);
      EXPECT_EQ(cb[(r + 8) * 180 + 176 + c], mb[5][8 * r + c + 4]);
    }
  }
  EXPECT_EQ(y[8 * 720 + 8], mb[3][0]);  // Y3 at the bottom right
}

// Line kernels: every instruction set gives the scalar bytes, and writes nothing else.
TEST(DvColourMatchTest, LineKernelsEqualScalar) {
  std::mt19937 rng(5);
  const dv::ColourKernels ref = dv::colour_kernels(dv::kSimdScalar);
  for (int level = dv::kSimdSse2; level <= dv::detected_simd_level(); ++level) {
    const dv::ColourKernels k = dv::colour_kernels(level);
    for (int n = 0; n < 300; ++n) {
      const int mode = n % 3;  // random, extremes, all one value
      auto sample = [&]() -> std::uint8_t {
        if (mode == 0) return static_cast<std::uint8_t>(rng());
        if (mode == 1) return rng() % 2 != 0 ? 255 : 0;
        return static_cast<std::uint8_t>(n);
      };
      std::vector<std::uint8_t> y(720), a(360), b(360), s(360);
      for (auto& v : y) v = sample();
      for (auto& v : a) v = sample();
      for (auto& v : b) v = sample();
      for (auto& v : s) v = sample();
      // Guard bytes after the 721 doubled samples, and around the 2160 bytes of a line.
      std::vector<std::int8_t> wa(dv::kDoubledChromaPadded + 8, 0x5A), ca(wa), wb(wa), cb(wa);
      ref.chroma_avg(a.data(), b.data(), wa.data());
      k.chroma_avg(a.data(), b.data(), ca.data());
      ASSERT_EQ(wa, ca) << "chroma_avg level " << level;
      ASSERT_EQ(wa[dv::kDoubledChroma], 0x5A);
      ref.chroma_411(s.data(), wb.data());
      k.chroma_411(s.data(), cb.data());
      ASSERT_EQ(wb, cb) << "chroma_411 level " << level;
      ASSERT_EQ(wb[dv::kDoubledChroma], 0x5A);
      std::vector<std::uint8_t> want(2160 + 64, 0x5A), got(2160 + 64, 0x5A);
      ref.bgr_line(y.data(), wa.data(), wb.data(), want.data() + 32);
      k.bgr_line(y.data(), wa.data(), wb.data(), got.data() + 32);
      ASSERT_EQ(want, got) << "bgr_line level " << level << " case " << n;
      // The whole 4:2:0 line, with one row taken twice as at the picture's edges.
      const dv::ChromaRowPairs rows{a.data(), b.data(), n % 2 == 0 ? s.data() : b.data(),
                                    b.data()};
      std::vector<std::uint8_t> want420(want.size(), 0x5A), got420(want.size(), 0x5A);
      ref.bgr_line_420(y.data(), rows, want420.data() + 32);
      k.bgr_line_420(y.data(), rows, got420.data() + 32);
      ASSERT_EQ(want420, got420) << "bgr_line_420 level " << level << " case " << n;
    }
  }
}

// The 64-pixel kernels against the reference where they differ most from the narrower ones: the
// overlapping last step and the pair after the line's last, the saturating extremes, and rows
// that end exactly at the 360th sample.
struct WideCase {
  const char* name;
  int luma;       // -1: random
  int chroma;     // -1: random
  int last_pair;  // -1: as the others
};
class DvColourAvx512Test : public ::testing::TestWithParam<WideCase> {};

TEST_P(DvColourAvx512Test, KernelsEqualScalar) {
  if (dv::detected_simd_level() < dv::kSimdAvx512) GTEST_SKIP() << "no avx512";
  const WideCase c = GetParam();
  std::mt19937 rng(11);
  auto pick = [&](int v) { return static_cast<std::uint8_t>(v < 0 ? rng() : unsigned(v)); };
  for (int n = 0; n < 200; ++n) {
    std::vector<std::uint8_t> y(720);
    for (auto& v : y) v = pick(c.luma);
    // Each row in its own allocation of exactly 360 bytes, so that ASan sees any read past it.
    std::array<std::unique_ptr<std::uint8_t[]>, 4> rows;
    for (auto& r : rows) {
      r = std::make_unique<std::uint8_t[]>(360);
      for (int i = 0; i < 360; ++i) r[static_cast<std::size_t>(i)] = pick(c.chroma);
      if (c.last_pair >= 0) r[359] = static_cast<std::uint8_t>(c.last_pair);
    }
    const dv::ChromaRowPairs pairs{rows[0].get(), rows[1].get(), rows[2].get(),
                                   n % 2 == 0 ? rows[3].get() : rows[2].get()};
    std::vector<std::uint8_t> want(2160 + 128, 0x5A), got(want);
    dv::bgr_line_420_scalar(y.data(), pairs, want.data() + 64);
    dv::bgr_line_420_avx512(y.data(), pairs, got.data() + 64);
    ASSERT_EQ(want, got) << "bgr_line_420 case " << n;
    std::vector<std::int8_t> cb(dv::kDoubledChromaPadded), cr(dv::kDoubledChromaPadded);
    dv::chroma_avg_scalar(rows[0].get(), rows[1].get(), cb.data());
    dv::chroma_411_scalar(rows[2].get(), cr.data());
    dv::bgr_line_scalar(y.data(), cb.data(), cr.data(), want.data() + 64);
    dv::bgr_line_avx512(y.data(), cb.data(), cr.data(), got.data() + 64);
    ASSERT_EQ(want, got) << "bgr_line case " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, DvColourAvx512Test,
                         ::testing::Values(WideCase{"Random", -1, -1, -1},
                                           WideCase{"BlackLumaFullChroma", 0, 255, -1},
                                           WideCase{"WhiteLumaFullChroma", 255, 255, -1},
                                           WideCase{"BlackLumaNoChroma", 0, 0, -1},
                                           WideCase{"WhiteLumaNoChroma", 255, 0, -1},
                                           WideCase{"RandomLumaLastPairFull", -1, -1, 255},
                                           WideCase{"RandomLumaLastPairZero", -1, -1, 0},
                                           WideCase{"FlatChromaLastPairFull", -1, 0, 255}),
                         [](const ::testing::TestParamInfo<WideCase>& i) {
                           return std::string(i.param.name);
                         });

// Doubled chroma: each pair's sample (minus 128) for both of its pixels, then the last again.
TEST(DvColourMatchTest, DoubledChromaRepeatsEachPairAndTheLastSample) {
  std::vector<std::uint8_t> s(180);
  for (std::size_t m = 0; m < 180; ++m) s[m] = static_cast<std::uint8_t>(m);
  std::vector<std::int8_t> d(dv::kDoubledChromaPadded);
  dv::chroma_411_scalar(s.data(), d.data());
  EXPECT_EQ(d[40], 10 - 128);
  EXPECT_EQ(d[41], 10 - 128);
  EXPECT_EQ(d[42], 11 - 128);  // (10 + 11 + 1) >> 1
  EXPECT_EQ(d[719], 179 - 128);
  EXPECT_EQ(d[720], 179 - 128);
}

class DvConvertTest : public ::testing::TestWithParam<bool> {};

// The frame decoder's line-by-line colour stage against the two whole-picture references.
TEST_P(DvConvertTest, LineByLineEqualsYuy2ThenBgr) {
  const bool is625 = GetParam();
  const dv::PictureFormat f = dv::picture_format(is625);
  auto work = std::make_unique<dv::FrameWorkspace>();
  std::mt19937 rng(is625 ? 1 : 2);
  for (std::size_t i = 0; i < f.planar_bytes; ++i)
    work->planar[i] = static_cast<std::uint8_t>(rng());
  const std::uint8_t* p = work->planar;
  std::vector<std::uint8_t> yuy2(static_cast<std::size_t>(f.height) * 1440);
  const auto cw = static_cast<std::ptrdiff_t>(f.chroma_width);
  if (is625) {
    dv_420_to_yuy2(p, 720, p + f.cb_offset, cw, p + f.cr_offset, cw, yuy2.data(), 1440, 720,
                   f.height);
  } else {
    dv_411_to_yuy2(p, 720, p + f.cb_offset, cw, p + f.cr_offset, cw, yuy2.data(), 1440, 720,
                   f.height);
  }
  std::vector<std::uint8_t> want(f.bgr_bytes);
  dv_yuy2_to_rgb24(yuy2.data(), want.data(), yuy2.data() + yuy2.size(), 1440, 1440);
  for (int level = dv::kSimdScalar; level <= dv::detected_simd_level(); ++level) {
    dv::set_simd_level_cap(static_cast<dv::SimdLevel>(level));
    std::vector<std::uint8_t> got(f.bgr_bytes);
    dv::convert_planar(is625, *work, got.data());
    EXPECT_EQ(want, got) << "level " << level;
  }
  dv::set_simd_level_cap(dv::kSimdAvx512);
}

INSTANTIATE_TEST_SUITE_P(BothSystems, DvConvertTest, ::testing::Values(true, false));

}  // namespace
