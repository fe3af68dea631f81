#pragma once
// Run-time choice of SIMD kernels, for the DV decoder and the colour conversion alike: the
// processor is asked once, and AVI_FORCE_SCALAR (set, not empty and not "0") forces the scalar
// reference everywhere; AVI_SIMD_LEVEL=sse2|avx2|... caps the level. Kernels of a level build only
// with that level's flags (cmake/simd.cmake); the code that picks them stays at the x86-64
// baseline.

namespace avikit::platform {

enum SimdLevel : int {
  kSimdScalar = 0,
  kSimdSse2 = 1,  // x86-64 baseline
  kSimdAvx2 = 2,
  kSimdAvx512 = 3,  // AVX-512 F, BW, VL and VBMI, with the OS saving the zmm and mask registers
};

// Highest level the processor supports (ignores AVI_FORCE_SCALAR).
SimdLevel detected_simd_level();
// The detected level, capped by AVI_SIMD_LEVEL, or kSimdScalar when AVI_FORCE_SCALAR asks for it.
SimdLevel allowed_simd_level();

const char* simd_level_name(SimdLevel level);

}  // namespace avikit::platform
