// Colour conversion of one 720x576 picture to bottom-up 24-bit BGR, ours (dispatched SIMD and
// the scalar reference) against libswscale's unscaled converters on one thread, side by side.
//   build/release/bench/colour_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <random>

#include "hostlib/colour_convert.h"
#include "hostlib/dib_convert.h"
#include "hostlib/new_dib.h"
#include "hostlib/stream_colour.h"

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

using namespace avikit;

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 576;

void fill(CNewDib& d) {
  std::mt19937 rng(1);
  std::uint8_t* p = d.LockBits();
  for (std::uint32_t i = 0; i < d.image_bytes(); ++i)
    p[i] = static_cast<std::uint8_t>(16 + rng() % 220);
}

void ours_yv12(benchmark::State& state, platform::SimdLevel isa) {
  if (!hostlib::set_colour_isa(isa)) {
    state.SkipWithError("instruction set missing");
    return;
  }
  CNewDib src;
  src.Create(kWidth, kHeight, 12, false);
  fill(src);
  CNewDib dst;
  dst.Create(kWidth, kHeight, 24, false);
  for (auto _ : state) {
    YV12_2_RGB(dst, src);
    benchmark::DoNotOptimize(dst.LockBits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void ours_yuy2(benchmark::State& state, platform::SimdLevel isa) {
  if (!hostlib::set_colour_isa(isa)) {
    state.SkipWithError("instruction set missing");
    return;
  }
  CNewDib src;
  src.Create(kWidth, kHeight, 16, false);
  fill(src);
  CNewDib dst;
  dst.Create(kWidth, kHeight, 24, false);
  for (auto _ : state) {
    YUY2_2_Rgb24(dst.LockBits(), kHeight, dst.GetPitch(), 0, 0, kWidth, kHeight, src.LockBits(),
                 src.GetPitch(), 1, 0, 0);
    benchmark::DoNotOptimize(dst.LockBits());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// libswscale converting the same bitmap into the same bottom-up destination.
void swscale(benchmark::State& state, AVPixelFormat format, int bits) {
  CNewDib src;
  src.Create(kWidth, kHeight, bits, false);
  fill(src);
  CNewDib dst;
  dst.Create(kWidth, kHeight, 24, false);
  SwsContext* sws = sws_getContext(kWidth, kHeight, format, kWidth, kHeight, AV_PIX_FMT_BGR24,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
  av_opt_set_int(sws, "threads", 1, 0);
  std::uint8_t* in = src.LockBits();
  const int pitch = src.GetPitch();
  const std::uint8_t* planes[3] = {in, nullptr, nullptr};
  int strides[3] = {pitch, 0, 0};
  if (bits == 12) {
    planes[1] = in + pitch * kHeight + (pitch / 2) * (kHeight / 2);  // U after V in YV12
    planes[2] = in + pitch * kHeight;
    strides[1] = strides[2] = pitch / 2;
  }
  std::uint8_t* out[1] = {dst.LockBits() + dst.GetPitch() * (kHeight - 1)};
  const int out_strides[1] = {-dst.GetPitch()};
  for (auto _ : state) {
    sws_scale(sws, planes, strides, 0, kHeight, out, out_strides);
    benchmark::DoNotOptimize(out[0]);
  }
  sws_freeContext(sws);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// The extra pass a BT.709-tagged picture takes in the YV12 and YUY2 routes: its YUV re-expressed
// in BT.601 in place (repeating it drifts the values, which costs the same).
void bt709_to_bt601(benchmark::State& state, int bits) {
  CNewDib d;
  d.Create(kWidth, kHeight, bits, false);
  fill(d);
  for (auto _ : state) {
    hostlib::bt709_to_bt601_yuv(d.LockBits(), kWidth, kHeight, bits);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK_CAPTURE(ours_yv12, avx2, platform::kSimdAvx2);
BENCHMARK_CAPTURE(ours_yv12, sse2, platform::kSimdSse2);
BENCHMARK_CAPTURE(ours_yv12, scalar, platform::kSimdScalar);
BENCHMARK_CAPTURE(swscale, yv12, AV_PIX_FMT_YUV420P, 12);
BENCHMARK_CAPTURE(ours_yuy2, avx2, platform::kSimdAvx2);
BENCHMARK_CAPTURE(ours_yuy2, sse2, platform::kSimdSse2);
BENCHMARK_CAPTURE(ours_yuy2, scalar, platform::kSimdScalar);
BENCHMARK_CAPTURE(swscale, yuy2, AV_PIX_FMT_YUYV422, 16);
BENCHMARK_CAPTURE(bt709_to_bt601, yv12, 12);
BENCHMARK_CAPTURE(bt709_to_bt601, yuy2, 16);

}  // namespace

BENCHMARK_MAIN();
