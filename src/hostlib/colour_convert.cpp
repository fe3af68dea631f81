#include "hostlib/colour_convert.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace hostlib {
namespace {

constexpr ColourKernels kScalar{&yuv420_row_scalar, &packed422_row_scalar, ColourIsa::kScalar};
constexpr ColourKernels kSse2{&yuv420_row_sse2, &packed422_row_sse2, ColourIsa::kSse2};
constexpr ColourKernels kAvx2{&yuv420_row_avx2, &packed422_row_avx2, ColourIsa::kAvx2};

const ColourKernels* best_kernels() {
  const char* force = std::getenv("AVI_FORCE_SCALAR");
  if (force != nullptr && std::strcmp(force, "1") == 0) return &kScalar;
  if (colour_isa_supported(ColourIsa::kAvx2)) return &kAvx2;
  return &kSse2;  // the x86-64 baseline
}

std::atomic<const ColourKernels*>& current() {
  static std::atomic<const ColourKernels*> kernels{best_kernels()};
  return kernels;
}

}  // namespace

bool colour_isa_supported(ColourIsa isa) {
  switch (isa) {
    case ColourIsa::kScalar:
    case ColourIsa::kSse2:
      return true;
    case ColourIsa::kAvx2:
      return __builtin_cpu_supports("avx2") != 0;
  }
  return false;
}

const ColourKernels& colour_kernels() { return *current().load(std::memory_order_relaxed); }

bool set_colour_isa(ColourIsa isa) {
  if (!colour_isa_supported(isa)) return false;
  const ColourKernels* k = isa == ColourIsa::kAvx2   ? &kAvx2
                           : isa == ColourIsa::kSse2 ? &kSse2
                                                     : &kScalar;
  current().store(k, std::memory_order_relaxed);
  return true;
}

}  // namespace hostlib
