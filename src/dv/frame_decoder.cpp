#include "dv/frame_decoder.h"

#include <cstring>
#include <new>

#include "dv/cpu.h"
#include "dv/frame_workspace.h"
#include "dv/idct.h"
#include "dv/tables.h"

platform::CRITICAL_SECTION g_dv_lock;

namespace {

// Creates g_dv_lock during static initialisation and deletes it at unload.
struct DvLockLifetime {
  DvLockLifetime() { platform::InitializeCriticalSection(&g_dv_lock); }
  ~DvLockLifetime() { platform::DeleteCriticalSection(&g_dv_lock); }
  DvLockLifetime(const DvLockLifetime&) = delete;
  DvLockLifetime& operator=(const DvLockLifetime&) = delete;
};
const DvLockLifetime g_dv_lock_lifetime;

// The static work buffers of dv_decode_frame, zero at load.
dv::FrameWorkspace g_dv_work;

}  // namespace

namespace dv {

bool read_system_from_header(std::span<const std::uint8_t> frame, bool* is625) {
  // IEC 61834: DIF block 0 of a frame is the header block (section type 0 in the top three bits
  // of ID byte 0); bit 7 of its byte 3 is DSF, 1 for the 625/50 system.
  if (frame.size() < 4 || (frame[0] >> 5) != 0) return false;
  *is625 = (frame[3] & 0x80) != 0;
  return true;
}

DvDecoder::DvDecoder() noexcept : work_(new (std::nothrow) FrameWorkspace()) {}
DvDecoder::~DvDecoder() = default;
DvDecoder::DvDecoder(DvDecoder&&) noexcept = default;
DvDecoder& DvDecoder::operator=(DvDecoder&&) noexcept = default;

bool DvDecoder::decode(std::span<const std::uint8_t> frame, bool is625,
                       std::span<std::uint8_t> out) noexcept {
  const PictureFormat f = picture_format(is625);
  if (!work_ || frame.size() < f.frame_bytes || out.size() < f.bgr_bytes) return false;
  decode_segments(frame.data(), is625, *work_);
  convert_planar(is625, *work_, out.data());
  return true;
}

bool DvDecoder::decode_planar(std::span<const std::uint8_t> frame, bool is625,
                              std::span<std::uint8_t> planar) noexcept {
  const PictureFormat f = picture_format(is625);
  if (!work_ || frame.size() < f.frame_bytes || planar.size() < f.planar_bytes) return false;
  decode_segments(frame.data(), is625, *work_);
  std::memcpy(planar.data(), work_->planar, f.planar_bytes);
  return true;
}

void convert_planar(bool is625, FrameWorkspace& work, std::uint8_t* out) {
  const ColourKernels k = colour_kernels(active_simd_level());
  const PictureFormat f = picture_format(is625);
  const std::uint8_t* y = work.planar;
  const std::uint8_t* cr = work.planar + f.cr_offset;
  const std::uint8_t* cb = work.planar + f.cb_offset;
  const auto cw = static_cast<std::ptrdiff_t>(f.chroma_width);
  for (int line = 0; line < f.height; ++line) {
    // Bottom-up: the picture's last line is the output's first.
    std::uint8_t* dst = out + static_cast<std::ptrdiff_t>(f.height - 1 - line) * kDvWidth * 3;
    if (is625) {
      const ChromaRows420 r = chroma_rows_420(line, f.height);
      k.bgr_line_420(y + line * kDvWidth,
                     ChromaRowPairs{cb + r.ua * cw, cb + r.ub * cw, cr + r.va * cw, cr + r.vb * cw},
                     dst);
      continue;
    }
    k.chroma_411(cb + line * cw, work.line_cb);
    k.chroma_411(cr + line * cw, work.line_cr);
    k.bgr_line(y + line * kDvWidth, work.line_cb, work.line_cr, dst);
  }
}

}  // namespace dv

void dv_decode_frame_625(const std::uint8_t* frame, std::uint8_t* out) {
  dv::decode_segments(frame, true, g_dv_work);
  dv::convert_planar(true, g_dv_work, out);
}

void dv_decode_frame_525(const std::uint8_t* frame, std::uint8_t* out) {
  dv::decode_segments(frame, false, g_dv_work);
  dv::convert_planar(false, g_dv_work, out);
}

int dv_decode_frame(const std::uint8_t* frame, std::uint8_t* out, int is625) {
  if (frame == nullptr || out == nullptr) return 0;
  platform::CriticalSectionLock lock(g_dv_lock);
  if (is625 != 0) {
    dv_decode_frame_625(frame, out);
  } else {
    dv_decode_frame_525(frame, out);
  }
  return 1;
}
