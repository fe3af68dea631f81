#pragma once
// Run-time choice of the SIMD kernels: detected once, forced down to the scalar reference by
// AVI_FORCE_SCALAR=1 in the environment or by a test.

namespace dv {

enum SimdLevel : int {
  kSimdScalar = 0,
  kSimdSse2 = 1,  // x86-64 baseline
  kSimdAvx2 = 2,
  kSimdAvx512 = 3,  // avx512f, bw, vl and vbmi
};

// Highest level the processor supports (ignores the overrides).
SimdLevel detected_simd_level();
// Level the decoder uses: the detected one, lowered to scalar by AVI_FORCE_SCALAR=1 and capped
// by set_simd_level_cap.
SimdLevel active_simd_level();
// Test hook: cap the level (kSimdScalar forces the reference kernels). Not thread-safe against
// decodes running at the same time.
void set_simd_level_cap(SimdLevel cap);

const char* simd_level_name(SimdLevel level);

}  // namespace dv
