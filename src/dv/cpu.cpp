#include "dv/cpu.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace dv {
namespace {

SimdLevel detect() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi")) {
    return kSimdAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return kSimdAvx2;
  if (__builtin_cpu_supports("sse2")) return kSimdSse2;
#endif
  return kSimdScalar;
}

SimdLevel from_environment() {
  const char* force = std::getenv("AVI_FORCE_SCALAR");
  const bool scalar =
      force != nullptr && std::strcmp(force, "") != 0 && std::strcmp(force, "0") != 0;
  return scalar ? kSimdScalar : detected_simd_level();
}

std::atomic<int> g_cap{kSimdAvx512};

}  // namespace

SimdLevel detected_simd_level() {
  static const SimdLevel level = detect();
  return level;
}

SimdLevel active_simd_level() {
  static const SimdLevel env_level = from_environment();
  const int cap = g_cap.load(std::memory_order_relaxed);
  return env_level < cap ? env_level : static_cast<SimdLevel>(cap);
}

void set_simd_level_cap(SimdLevel cap) { g_cap.store(cap, std::memory_order_relaxed); }

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

}  // namespace dv
