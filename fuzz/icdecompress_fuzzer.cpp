// The libavcodec driver through the codec manager's entry points, on arbitrary chunks.
// Input: byte 0 picks the FOURCC, byte 1 the output format and size, then chunks, each a
// 2-byte little-endian length (high bit: a new run) and its bytes. Invariants: no crash,
// nothing written outside the destination, run state in range.
#include <avikit/platform/vfw.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hostlib/avcodec_driver.h"
#include "hostlib/dib_layout.h"

using namespace avikit;

namespace {

using namespace platform;

constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0x5A;
// Chunks per input: a walk of a few GOPs.
constexpr int kMaxChunks = 64;

const std::uint32_t kFourccs[] = {fourcc("XVID"), fourcc("DX50"), fourcc("DIV3"), fourcc("MP42"),
                                  fourcc("MJPG"), fourcc("H264"), fourcc("FMP4"), fourcc("YUY2"),
                                  fourcc("WMV2"), fourcc("VP80"), fourcc("HFYU"), fourcc("FFV1"),
                                  fourcc("MPG2"), fourcc("CVID"), fourcc("MSVC"), fourcc("tscc")};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  hostlib::register_avcodec_driver();
  const std::uint32_t fcc = kFourccs[data[0] % (sizeof kFourccs / sizeof kFourccs[0])];
  const int bits = (data[1] & 3) == 0 ? 12 : (data[1] & 3) == 1 ? 16 : 24;
  const int width = 16 + 16 * ((data[1] >> 2) & 7) + ((data[1] >> 5) & 1);
  const int height = 16 + 16 * ((data[1] >> 6) & 3);
  data += 2;
  size -= 2;
  HIC ic = ICOpen(ICTYPE_VIDEO, fcc, ICMODE_DECOMPRESS);
  if (ic == nullptr) return 0;
  BITMAPINFOHEADER in;
  in.biSize = sizeof in;
  in.biWidth = width;
  in.biHeight = height;
  in.biPlanes = 1;
  in.biBitCount = 24;
  in.biCompression = fcc;
  BITMAPINFOHEADER out = in;
  out.biBitCount = static_cast<WORD>(bits);
  out.biCompression = bits == 12 ? fourcc("YV12") : bits == 16 ? fourcc("YUY2") : BI_RGB;
  const std::size_t picture = hostlib::dib_layout(width, height, bits).bytes;
  std::vector<std::uint8_t> dst(picture + 2 * kGuard, kGuardByte);
  if (ICDecompressBegin(ic, &in, &out) == ICERR_OK) {
    std::size_t pos = 0;
    for (int i = 0; i < kMaxChunks && pos + 2 <= size; ++i) {
      const unsigned word = data[pos] | (unsigned{data[pos + 1]} << 8);
      pos += 2;
      const std::size_t n = (word & 0x7FFF) < size - pos ? (word & 0x7FFF) : size - pos;
      std::vector<std::uint8_t> chunk(data + pos, data + pos + n);
      pos += n;
      in.biSizeImage = static_cast<DWORD>(n);
      const DWORD flags = (word & 0x8000) != 0 || i == 0 ? 0 : ICDECOMPRESS_NOTKEYFRAME;
      (void)ICDecompress(ic, flags, &in, chunk.empty() ? nullptr : chunk.data(), &out,
                         dst.data() + kGuard);
      hostlib::AvkRunState st;
      if (ICSendMessage(ic, hostlib::ICM_AVK_GET_RUN_STATE, reinterpret_cast<DWORD_PTR>(&st),
                        sizeof st) != ICERR_OK) {
        std::abort();
      }
      if (st.chunks < 0 || st.picture < -1 || st.queued < 0 || st.queued > 64) std::abort();
    }
    for (int i = 0; i < 8; ++i) {
      if (ICSendMessage(ic, hostlib::ICM_AVK_DRAIN,
                        reinterpret_cast<DWORD_PTR>(dst.data() + kGuard), 0) != ICERR_OK) {
        break;
      }
    }
    ICDecompressEnd(ic);
  }
  ICClose(ic);
  for (std::size_t i = 0; i < kGuard; ++i) {
    if (dst[i] != kGuardByte || dst[dst.size() - 1 - i] != kGuardByte) std::abort();
  }
  return 0;
}
