#include "dv/frame_decoder.h"

#include <cstring>
#include <new>

#include "dv/cpu.h"
#include "dv/frame_workspace.h"
#include "dv/idct.h"
#include "dv/tables.h"
#include "platform/sync.h"

namespace avikit::dv {

platform::CRITICAL_SECTION g_dv_lock;

namespace {

// Creates g_dv_lock during static initialisation and deletes it at unload.
struct LockLifetime {
  LockLifetime() { platform::InitializeCriticalSection(&g_dv_lock); }
  ~LockLifetime() { platform::DeleteCriticalSection(&g_dv_lock); }
  LockLifetime(const LockLifetime&) = delete;
  LockLifetime& operator=(const LockLifetime&) = delete;
};
const LockLifetime g_lock_lifetime;

// The static work buffers of dv_decode_frame, zero at load.
FrameWorkspace g_work;

}  // namespace

bool read_system_from_header(std::span<const std::uint8_t> frame, bool* is625) {
  // IEC 61834: DIF block 0 of a frame is the header block (section type 0 in the top three bits
  // of ID byte 0); bit 7 of its byte 3 is DSF, 1 for the 625/50 system.
  if (frame.size() < 4 || (frame[0] >> 5) != 0) return false;
  *is625 = (frame[3] & 0x80) != 0;
  return true;
}

Decoder::Decoder() noexcept : work_(new (std::nothrow) FrameWorkspace()) {}
Decoder::~Decoder() = default;
Decoder::Decoder(Decoder&&) noexcept = default;
Decoder& Decoder::operator=(Decoder&&) noexcept = default;

bool Decoder::decode(std::span<const std::uint8_t> frame, bool is625,
                     std::span<std::uint8_t> out) noexcept {
  const PictureFormat f = picture_format(is625);
  if (!work_ || frame.size() < f.frame_bytes || out.size() < f.bgr_bytes) return false;
  decode_segments(frame.data(), is625, *work_);
  convert_planar(is625, *work_, out.data());
  return true;
}

bool Decoder::decode_planar(std::span<const std::uint8_t> frame, bool is625,
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
    std::uint8_t* dst = out + static_cast<std::ptrdiff_t>(f.height - 1 - line) * kWidth * 3;
    if (is625) {
      const ChromaRows420 r = chroma_rows_420(line, f.height);
      k.bgr_line_420(y + line * kWidth,
                     ChromaRowPairs{cb + r.ua * cw, cb + r.ub * cw, cr + r.va * cw, cr + r.vb * cw},
                     dst);
      continue;
    }
    k.chroma_411(cb + line * cw, work.line_cb);
    k.chroma_411(cr + line * cw, work.line_cr);
    k.bgr_line(y + line * kWidth, work.line_cb, work.line_cr, dst);
  }
}

void dv_decode_frame_625(const std::uint8_t* frame, std::uint8_t* out) {
  decode_segments(frame, true, g_work);
  convert_planar(true, g_work, out);
}

void dv_decode_frame_525(const std::uint8_t* frame, std::uint8_t* out) {
  decode_segments(frame, false, g_work);
  convert_planar(false, g_work, out);
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

}  // namespace avikit::dv
