#include <immintrin.h>

#include <cstdint>

#include "dv/colour.h"

namespace avikit::dv {
namespace {

// A step converts 64 pixels as four groups of 16, one pixel per 32-bit lane: the even pixels of
// the first 32, their odd pixels, then the same for the second 32. The order of pixels inside
// the vectors never matters until the end, where byte permutes put each pixel's B, G and R in
// place, so every stage before picks whatever order is cheapest for it.
constexpr int kStep = 64;

constexpr int group_pixel(int g, int j) { return 32 * (g / 2) + 2 * j + g % 2; }

// The 32-bit results of the four groups go to words (groups 0 with 1, 2 with 3) and then to
// bytes, both packs working within 128-bit lanes: byte b of a channel vector is this pixel.
constexpr int packed_pixel(int b) {
  const int lane = b / 16, m = b % 16, w = m % 8;
  return group_pixel(2 * (m / 8) + w / 4, 4 * lane + w % 4);
}

constexpr bool packs_hold_every_pixel_once() {
  bool seen[kStep] = {};
  for (int b = 0; b < kStep; ++b) {
    const int q = packed_pixel(b);
    if (q < 0 || q >= kStep || seen[q]) return false;
    seen[q] = true;
  }
  return true;
}
static_assert(packs_hold_every_pixel_once());

struct Tables {
  // Group g: each pixel's luma to the low byte of its lane.
  alignas(64) std::uint8_t luma[4][64];
  // Half h (pairs 16h..16h+15 of the step): Cb of pair 16h + j to byte 4j, Cr to byte 4j + 2,
  // from the 128 bytes of the Cb and Cr vectors.
  alignas(64) std::uint8_t pair[2][64];
  // The same for pair 16h + j + 1, with 0xFF (byte 63 of the Cb vector) above each sample:
  // sample - 256 as a word. [2] is half 1 of the line's last step, whose last pair has none
  // after it and takes itself again.
  alignas(64) std::uint8_t next[3][64];
  // Doubled chroma (525 lines): group g pixel's Cb to byte 4j + 1, Cr to 4j + 3.
  alignas(64) std::uint8_t doubled[4][64];
  // Output chunk c (bytes 64c..64c+63 of the step's 192): the byte in B (0..63) or G (64..127)
  // for vpermt2b, its low six bits the byte in R for the masked vpermb.
  alignas(64) std::uint8_t out[3][64];
  std::uint64_t red[3];  // output chunk c: bytes taken from R
};

constexpr std::uint8_t u8(int v) { return static_cast<std::uint8_t>(v); }

constexpr Tables make_tables() {
  Tables t{};
  for (int j = 0; j < 16; ++j) {
    for (int g = 0; g < 4; ++g) {
      t.luma[g][4 * j] = u8(group_pixel(g, j));
      t.doubled[g][4 * j + 1] = u8(group_pixel(g, j));
      t.doubled[g][4 * j + 3] = u8(64 + group_pixel(g, j));
    }
    for (int h = 0; h < 3; ++h) {
      const int k = 16 * (h == 0 ? 0 : 1) + j;
      const int k1 = h == 2 && j == 15 ? k : k + 1;
      if (h < 2) {
        t.pair[h][4 * j] = u8(k);
        t.pair[h][4 * j + 2] = u8(64 + k);
      }
      t.next[h][4 * j] = u8(k1);
      t.next[h][4 * j + 1] = 63;
      t.next[h][4 * j + 2] = u8(64 + k1);
      t.next[h][4 * j + 3] = 63;
    }
  }
  int pos[kStep] = {};
  for (int b = 0; b < kStep; ++b) pos[packed_pixel(b)] = b;
  for (int n = 0; n < 3 * kStep; ++n) {
    const int c = n / kStep, i = n % kStep, ch = n % 3, q = n / 3;
    t.out[c][i] = u8(pos[q] + (ch == 1 ? 64 : 0));
    if (ch == 2) t.red[c] |= std::uint64_t{1} << i;
  }
  return t;
}
constexpr Tables kTables = make_tables();

inline __m512i table(const std::uint8_t* t) { return _mm512_load_si512(t); }

constexpr std::uint64_t kLowByteOfWords = 0x5555555555555555;
constexpr std::uint64_t kHighByteOfWords = 0xAAAAAAAAAAAAAAAA;
constexpr std::uint64_t kLowByteOfLanes = 0x1111111111111111;

// GCC 12 warns about the undefined pass-through operand of the unmasked intrinsic; zeroing under
// an all-ones mask is the same instruction.
inline __m512i sra14(__m512i v) { return _mm512_maskz_srai_epi32(0xFFFF, v, 14); }

// The step's luma as the (Y, -16) word pairs of each group, ready for the multiply-add.
[[gnu::always_inline]] inline void luma_pairs(const std::uint8_t* y, __m512i (&lum)[4]) {
  const __m512i minus16 = _mm512_set1_epi32(static_cast<int>(0xFFF00000u));
  const __m512i v = _mm512_loadu_si512(y);
#pragma GCC unroll 4
  for (int g = 0; g < 4; ++g)
    lum[g] = _mm512_mask_permutexvar_epi8(minus16, kLowByteOfLanes, table(kTables.luma[g]), v);
}

// B, G and R of the step from each group's luma pairs and (Cb, Cr) word pairs (the RGB stage's
// colour-difference inputs), as 192 packed bytes at dst.
[[gnu::always_inline]] inline void convert_step(const __m512i (&lum)[4], const __m512i (&chr)[4],
                                                std::uint8_t* dst) {
  const __m512i ky = _mm512_set1_epi32(kLumaOffsetFactor << 16 | kLumaFactor);
  const __m512i kb = _mm512_set1_epi32(kCbToBlue);
  const __m512i kg =
      _mm512_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(kCrToGreen) << 16 |
                                         (static_cast<std::uint32_t>(kCbToGreen) & 0xFFFF)));
  const __m512i kr = _mm512_set1_epi32(kCrToRed << 16);
  __m512i yt[4];
#pragma GCC unroll 4
  for (int g = 0; g < 4; ++g) yt[g] = _mm512_madd_epi16(lum[g], ky);
  // The sums >> 14 fit in 16 bits, so the signed pack to words loses nothing and the unsigned
  // pack to bytes is the clamp to 0..255.
  auto channel = [&](__m512i k) {
    __m512i v[4];
#pragma GCC unroll 4
    for (int g = 0; g < 4; ++g) v[g] = sra14(_mm512_add_epi32(yt[g], _mm512_madd_epi16(chr[g], k)));
    return _mm512_packus_epi16(_mm512_packs_epi32(v[0], v[1]), _mm512_packs_epi32(v[2], v[3]));
  };
  const __m512i b = channel(kb), g = channel(kg), r = channel(kr);
#pragma GCC unroll 3
  for (int c = 0; c < 3; ++c) {
    const __m512i idx = table(kTables.out[c]);
    const __m512i bg = _mm512_permutex2var_epi8(b, idx, g);
    _mm512_storeu_si512(dst + kStep * c, _mm512_mask_permutexvar_epi8(bg, kTables.red[c], idx, r));
  }
}

// The rounded average of two rows' 33 samples from pair p on (32 at the line's end), the
// bytes after them 0xFF.
[[gnu::always_inline]] inline __m512i avg_row(const std::uint8_t* a, const std::uint8_t* b,
                                              __mmask64 valid) {
  const __m512i ones = _mm512_set1_epi8(-1);
  return _mm512_avg_epu8(_mm512_mask_loadu_epi8(ones, valid, a),
                         _mm512_mask_loadu_epi8(ones, valid, b));
}

// The 64 pixels from x on of a 4:2:0 line. On the last step the pair after the last is the
// last again.
template <bool kLastStep>
[[gnu::always_inline]] inline void step_420(const std::uint8_t* y, const ChromaRowPairs& rows,
                                            int x, std::uint8_t* out) {
  const int p = x / 2;
  const __mmask64 valid = kLastStep ? 0xFFFFFFFFu : 0x1FFFFFFFFu;
  const __m512i cb = avg_row(rows.cb_a + p, rows.cb_b + p, valid);
  const __m512i cr = avg_row(rows.cr_a + p, rows.cr_b + p, valid);
  __m512i chr[4];
#pragma GCC unroll 2
  for (int h = 0; h < 2; ++h) {
    // Words (s, s') of a pair and (t - 256, t' - 256) of the next: an even pixel takes twice
    // its pair's difference from 128, an odd one its pair's and the next pair's.
    const __m512i own =
        _mm512_maskz_permutex2var_epi8(kLowByteOfWords, cb, table(kTables.pair[h]), cr);
    const int n = kLastStep && h == 1 ? 2 : h;
    const __m512i next = _mm512_permutex2var_epi8(cb, table(kTables.next[n]), cr);
    chr[2 * h] = _mm512_sub_epi16(_mm512_add_epi16(own, own), _mm512_set1_epi16(256));
    chr[2 * h + 1] = _mm512_add_epi16(own, next);
  }
  __m512i lum[4];
  luma_pairs(y + x, lum);
  convert_step(lum, chr, out + 3 * x);
}

// The 64 pixels from x on, from doubled chroma: pixel x's input is d[x] + d[x + 1].
[[gnu::always_inline]] inline void step_doubled(const std::uint8_t* y, const std::int8_t* cb,
                                                const std::int8_t* cr, int x, std::uint8_t* out) {
  const __m512i b0 = _mm512_loadu_si512(cb + x), b1 = _mm512_loadu_si512(cb + x + 1);
  const __m512i r0 = _mm512_loadu_si512(cr + x), r1 = _mm512_loadu_si512(cr + x + 1);
  __m512i chr[4];
#pragma GCC unroll 4
  for (int g = 0; g < 4; ++g) {
    // The samples to the high bytes of their words, then sign-extended by the shift.
    const __m512i idx = table(kTables.doubled[g]);
    const __m512i own = _mm512_maskz_permutex2var_epi8(kHighByteOfWords, b0, idx, r0);
    const __m512i next = _mm512_maskz_permutex2var_epi8(kHighByteOfWords, b1, idx, r1);
    chr[g] = _mm512_add_epi16(_mm512_srai_epi16(own, 8), _mm512_srai_epi16(next, 8));
  }
  __m512i lum[4];
  luma_pairs(y + x, lum);
  convert_step(lum, chr, out + 3 * x);
}

// 720 = 11 x 64 + 16: the last 64 pixels overlap the step before rather than going narrower.
constexpr int kLast = kWidth - kStep;

}  // namespace

void bgr_line_avx512(const std::uint8_t* y, const std::int8_t* cb, const std::int8_t* cr,
                     std::uint8_t* out) {
  for (int x = 0; x < kLast; x += kStep) step_doubled(y, cb, cr, x, out);
  step_doubled(y, cb, cr, kLast, out);
}

void bgr_line_420_avx512(const std::uint8_t* y, const ChromaRowPairs& rows, std::uint8_t* out) {
  for (int x = 0; x < kLast; x += kStep) step_420<false>(y, rows, x, out);
  step_420<true>(y, rows, kLast, out);
}

}  // namespace avikit::dv
