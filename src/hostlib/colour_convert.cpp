#include "hostlib/colour_convert.h"

#include <atomic>

namespace avikit::hostlib {
namespace {

using platform::SimdLevel;

constexpr ColourKernels kScalar{&yuv420_row_scalar, &packed422_row_scalar, platform::kSimdScalar};
constexpr ColourKernels kSse2{&yuv420_row_sse2, &packed422_row_sse2, platform::kSimdSse2};
constexpr ColourKernels kAvx2{&yuv420_row_avx2, &packed422_row_avx2, platform::kSimdAvx2};

// The best kernels at or below `level` (there are none of AVX-512).
const ColourKernels* kernels_for(SimdLevel level) {
  if (level >= platform::kSimdAvx2) return &kAvx2;
  if (level >= platform::kSimdSse2) return &kSse2;
  return &kScalar;
}

std::atomic<const ColourKernels*>& current() {
  static std::atomic<const ColourKernels*> kernels{kernels_for(platform::allowed_simd_level())};
  return kernels;
}

}  // namespace

bool colour_isa_supported(SimdLevel isa) { return isa <= platform::detected_simd_level(); }

const ColourKernels& colour_kernels() { return *current().load(std::memory_order_relaxed); }

bool set_colour_isa(SimdLevel isa) {
  if (!colour_isa_supported(isa)) return false;
  current().store(kernels_for(isa), std::memory_order_relaxed);
  return true;
}

}  // namespace avikit::hostlib
