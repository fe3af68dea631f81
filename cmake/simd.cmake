# SIMD kernels live in their own source files and take their instruction set from these flags;
# everything else stays at the x86-64 baseline and dispatches at run time.
set(AVI_SSE2_FLAGS "")
set(AVI_SSE41_FLAGS -msse4.1)
set(AVI_AVX2_FLAGS -mavx2)
set(AVI_AVX512_FLAGS ${AVI_AVX2_FLAGS} -mavx512f -mavx512bw -mavx512vl -mavx512vbmi)
