// The segment parse for the AVX2 level: segment_fast.cpp again, built with BMI2 and MOVBE
// (src/dv/CMakeLists.txt), under its own name.
#define AVI_SEGMENT_PARSE parse_segments_fast_avx2
#include "dv/segment_fast.cpp"  // NOLINT(bugprone-suspicious-include)
