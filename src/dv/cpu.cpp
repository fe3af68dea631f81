#include "dv/cpu.h"

#include <atomic>

namespace avikit::dv {
namespace {

std::atomic<int> g_cap{kSimdAvx512};

}  // namespace

SimdLevel active_simd_level() {
  const SimdLevel allowed = platform::allowed_simd_level();
  const int cap = g_cap.load(std::memory_order_relaxed);
  return allowed < cap ? allowed : static_cast<SimdLevel>(cap);
}

void set_simd_level_cap(SimdLevel cap) { g_cap.store(cap, std::memory_order_relaxed); }

}  // namespace avikit::dv
