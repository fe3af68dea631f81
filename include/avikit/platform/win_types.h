#pragma once
// The subset of Win32 types and structures the module and the host libraries use, with the sizes
// and field offsets they have on 32-bit Windows. Pointer-sized types (HANDLE, LPARAM) follow this
// platform's pointers.

#include <avikit/bitmap_info_header.h>

#include <cstddef>
#include <cstdint>

namespace avikit::platform {

using BOOL = std::int32_t;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using WCHAR = char16_t;
using FOURCC = std::uint32_t;
using HANDLE = void*;
using HGLOBAL = void*;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using DWORD_PTR = std::uintptr_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

constexpr std::uint32_t make_fourcc(char a, char b, char c, char d) {
  return std::uint32_t{std::uint8_t(a)} | std::uint32_t{std::uint8_t(b)} << 8 |
         std::uint32_t{std::uint8_t(c)} << 16 | std::uint32_t{std::uint8_t(d)} << 24;
}
// fourcc("idx1") is the little-endian value of the four bytes as they stand in a file.
constexpr std::uint32_t fourcc(const char (&s)[5]) { return make_fourcc(s[0], s[1], s[2], s[3]); }
// Handler FOURCCs match without regard to letter case: ASCII letters upper-cased byte by byte,
// every other byte kept, whatever the process's locale.
constexpr std::uint32_t upper_fourcc(std::uint32_t v) {
  std::uint32_t out = 0;
  for (int k = 0; k < 4; ++k) {
    auto b = static_cast<std::uint8_t>(v >> (8 * k));
    if (b >= 'a' && b <= 'z') b = static_cast<std::uint8_t>(b - ('a' - 'A'));
    out |= std::uint32_t{b} << (8 * k);
  }
  return out;
}

// BITMAPINFOHEADER: 40 bytes, no padding; the players hand it to hosts under a name of its own.
using BITMAPINFOHEADER = BitmapInfoHeader;

struct RGBQUAD {
  BYTE rgbBlue = 0;
  BYTE rgbGreen = 0;
  BYTE rgbRed = 0;
  BYTE rgbReserved = 0;
};

inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_RLE8 = 1;
inline constexpr DWORD BI_RLE4 = 2;
inline constexpr DWORD BI_BITFIELDS = 3;

// WAVEFORMATEX is byte-packed on Windows: 18 bytes.
#pragma pack(push, 1)
struct WAVEFORMATEX {
  WORD wFormatTag = 0;
  WORD nChannels = 0;
  DWORD nSamplesPerSec = 0;
  DWORD nAvgBytesPerSec = 0;
  WORD nBlockAlign = 0;
  WORD wBitsPerSample = 0;
  WORD cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(offsetof(WAVEFORMATEX, nBlockAlign) == 12);

inline constexpr WORD WAVE_FORMAT_PCM = 1;
inline constexpr WORD WAVE_FORMAT_MPEG = 0x50;
inline constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x55;
inline constexpr WORD WAVE_FORMAT_DOLBY_AC3 = 0x2000;

}  // namespace avikit::platform
