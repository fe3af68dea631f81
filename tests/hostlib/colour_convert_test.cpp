#include "hostlib/colour_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace avikit;

namespace {

constexpr std::size_t kGuard = 48;
constexpr std::uint8_t kGuardByte = 0xA5;

// Output rows with guard bytes on both sides: comparing whole rows with the scalar kernel's, which
// leaves them alone, shows a vector kernel writing past its row.
struct Row {
  explicit Row(int width) : bytes(static_cast<std::size_t>(width) * 3 + 2 * kGuard, kGuardByte) {}
  std::uint8_t* pixels() { return bytes.data() + kGuard; }
  std::vector<std::uint8_t> bytes;
};

// Every level the processor has, through the dispatch: planar and packed rows (YUY2 and UYVY) of
// widths around every vector length, odd ones and a full PAL row, from sources at every
// alignment. Random samples reach the corners where the 16-bit sums saturate. The scalar kernels
// are the reference.
TEST(ColourConvertTest, EveryLevelEqualsTheScalarReference) {
  const platform::SimdLevel before = hostlib::colour_kernels().isa;
  for (int level = platform::kSimdSse2; level <= platform::detected_simd_level(); ++level) {
    SCOPED_TRACE(platform::simd_level_name(static_cast<platform::SimdLevel>(level)));
    ASSERT_TRUE(hostlib::set_colour_isa(static_cast<platform::SimdLevel>(level)));
    const hostlib::ColourKernels& k = hostlib::colour_kernels();
    ASSERT_NE(k.yuv420_row, &hostlib::yuv420_row_scalar);
    std::mt19937 rng(7);
    for (const int width : {1, 2, 3, 5, 15, 16, 17, 31, 32, 33, 47, 63, 64, 65, 97, 719, 720}) {
      for (int shift = 0; shift < 4; ++shift) {
        SCOPED_TRACE("width " + std::to_string(width) + " shift " + std::to_string(shift));
        std::vector<std::uint8_t> y(static_cast<std::size_t>(width) * 2 + 64), u(y.size()),
            v(y.size());
        for (auto* plane : {&y, &u, &v})
          for (auto& b : *plane) b = static_cast<std::uint8_t>(rng());
        Row want(width), got(width);
        const std::uint8_t *py = y.data() + shift, *pu = u.data() + shift, *pv = v.data() + shift;
        hostlib::yuv420_row_scalar(py, pu, pv, want.pixels(), width);
        k.yuv420_row(py, pu, pv, got.pixels(), width);
        ASSERT_EQ(got.bytes, want.bytes) << "planar";
        for (const bool yuy2 : {true, false}) {
          hostlib::packed422_row_scalar(py, want.pixels(), width, yuy2);
          k.packed422_row(py, got.pixels(), width, yuy2);
          ASSERT_EQ(got.bytes, want.bytes) << "yuy2 " << yuy2;
        }
      }
    }
  }
  ASSERT_TRUE(hostlib::set_colour_isa(before));
}

TEST(ColourConvertTest, ScalarFollowsBt601StudioRange) {
  // Within one step of the real-valued BT.601 formulas over the whole legal range.
  int worst = 0;
  for (int y = 16; y <= 235; y += 3) {
    for (int u = 16; u <= 240; u += 4) {
      for (int v = 16; v <= 240; v += 4) {
        std::uint8_t bgr[3];
        hostlib::yuv_pixel_scalar(y, u, v, bgr);
        const double yy = 1.164383 * (y - 16);
        const double want[3] = {yy + 2.017232 * (u - 128),
                                yy - 0.391762 * (u - 128) - 0.812968 * (v - 128),
                                yy + 1.596027 * (v - 128)};
        for (int i = 0; i < 3; ++i) {
          const int w = static_cast<int>(std::lround(std::clamp(want[i], 0.0, 255.0)));
          worst = std::max(worst, std::abs(w - bgr[i]));
        }
      }
    }
  }
  EXPECT_LE(worst, 1);
  std::uint8_t bgr[3];
  hostlib::yuv_pixel_scalar(16, 128, 128, bgr);
  EXPECT_EQ((std::vector<int>{bgr[0], bgr[1], bgr[2]}), (std::vector<int>{0, 0, 0}));
  hostlib::yuv_pixel_scalar(235, 128, 128, bgr);
  EXPECT_EQ((std::vector<int>{bgr[0], bgr[1], bgr[2]}), (std::vector<int>{255, 255, 255}));
}

}  // namespace
