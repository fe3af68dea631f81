#pragma once
// The level of the DV kernels: the platform's choice (platform/simd.h, which AVI_FORCE_SCALAR
// lowers to scalar), capped by a test hook.

#include "platform/simd.h"

namespace avikit::dv {

using platform::detected_simd_level;
using platform::kSimdAvx2;
using platform::kSimdAvx512;
using platform::kSimdScalar;
using platform::kSimdSse2;
using platform::simd_level_name;
using platform::SimdLevel;

// Level the decoder uses: platform::allowed_simd_level capped by set_simd_level_cap.
SimdLevel active_simd_level();
// Test hook: cap the level (kSimdScalar forces the reference kernels). Not thread-safe against
// decodes running at the same time.
void set_simd_level_cap(SimdLevel cap);

}  // namespace avikit::dv
