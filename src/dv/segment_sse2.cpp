#include <emmintrin.h>

#include "dv/segment_fast.h"

namespace avikit::dv {

// Done as 16-byte moves because the library copy of this size is a string instruction whose
// start-up costs more than the copy.
void copy_segment_sse2(std::uint8_t* dst, const std::uint8_t* src) {
  static_assert(kSegmentBytes % 16 == 0 && kFastStride == kSegmentBytes + 16);
  for (std::size_t o = 0; o < kSegmentBytes; o += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + o),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + o)));
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + kSegmentBytes), _mm_setzero_si128());
}

}  // namespace avikit::dv
