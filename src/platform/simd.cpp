#include "platform/simd.h"

// The one place that knows the processor family: elsewhere, kernels are picked by level.
#if defined(__x86_64__) || defined(__i386__)
#define AVI_X86 1
#include <cpuid.h>
#else
#define AVI_X86 0
#endif

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace avikit::platform {
namespace {

#if AVI_X86
// The processor having AVX-512 is not enough: the OS must also save the mask registers and all
// of the zmm registers on a context switch (XCR0 bits 1, 2, 5, 6 and 7). The compilers' own
// checks differ between versions, so this asks XCR0 itself.
bool os_saves_zmm() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0) return false;
  unsigned lo = 0, hi = 0;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  constexpr unsigned kZmmState = 0xE6;
  return (lo & kZmmState) == kZmmState;
}
#endif

SimdLevel detect() {
#if AVI_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
      os_saves_zmm()) {
    return kSimdAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return kSimdAvx2;
  if (__builtin_cpu_supports("sse2")) return kSimdSse2;
#endif
  return kSimdScalar;
}

bool scalar_forced() {
  const char* force = std::getenv("AVI_FORCE_SCALAR");
  return force != nullptr && std::strcmp(force, "") != 0 && std::strcmp(force, "0") != 0;
}

// AVI_SIMD_LEVEL names the highest level to use (scalar, sse2, avx2 or avx512), so that a machine
// with AVX-512 can measure and test what an AVX2 machine runs. Unset or unknown: no cap.
SimdLevel level_cap() {
  const char* name = std::getenv("AVI_SIMD_LEVEL");
  if (name == nullptr) return kSimdAvx512;
  for (const SimdLevel level : {kSimdScalar, kSimdSse2, kSimdAvx2, kSimdAvx512}) {
    if (std::strcmp(name, simd_level_name(level)) == 0) return level;
  }
  return kSimdAvx512;
}

}  // namespace

SimdLevel detected_simd_level() {
  static const SimdLevel level = detect();
  return level;
}

SimdLevel allowed_simd_level() {
  static const SimdLevel level = [] {
    const SimdLevel cap = scalar_forced() ? kSimdScalar : level_cap();
    return detected_simd_level() < cap ? detected_simd_level() : cap;
  }();
  return level;
}

const char* simd_level_name(SimdLevel level) {
  switch (level) {
    case kSimdScalar:
      return "scalar";
    case kSimdSse2:
      return "sse2";
    case kSimdAvx2:
      return "avx2";
    case kSimdAvx512:
      return "avx512";
  }
  return "?";
}

}  // namespace avikit::platform
