#pragma once
// The DV frame decoder: a whole compressed 25 Mbit/s DV frame (IEC 61834-2, SMPTE 314M) of the
// 525/60 or the 625/50 system to a 720-pixel-wide, bottom-up, 24-bit BGR picture.
//
// dv_decode_frame is the module's entry point: it decodes under the process-wide g_dv_lock into
// static work buffers. Decoder does the same with buffers of its own and no lock, for callers
// that decode on several threads at once.
//
// All of the decoder lives in namespace dv. The names the module was handed (dv_decode_frame,
// g_dv_lock, the dv_ routines and tables, DvBitReader, DvBlockState) keep their spelling there;
// the decoder's own names do not repeat the namespace.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace avikit::platform {
struct CRITICAL_SECTION;  // platform/sync.h
}  // namespace avikit::platform

namespace avikit::dv {

inline constexpr std::size_t kFrameBytes525 = 120000;
inline constexpr std::size_t kFrameBytes625 = 144000;

// Serialises every use of the static work buffers. Initialised during static initialisation,
// deleted at unload.
extern platform::CRITICAL_SECTION g_dv_lock;

// frame: a whole compressed frame (144000 bytes when is625 is non-zero, else 120000), not
// modified. out: 720 x 3 bytes a line, bottom line first, 576 or 480 lines. Returns 1; 0 only
// when a pointer is null.
int dv_decode_frame(const std::uint8_t* frame, std::uint8_t* out, int is625);
// The two halves of dv_decode_frame; the caller holds g_dv_lock.
void dv_decode_frame_625(const std::uint8_t* frame, std::uint8_t* out);
void dv_decode_frame_525(const std::uint8_t* frame, std::uint8_t* out);

// Sizes of one system's pictures. The planar picture is Y (720 a line), then Cr, then Cb.
struct PictureFormat {
  std::size_t frame_bytes;
  int height;
  int chroma_width;
  int chroma_height;
  std::size_t cr_offset;
  std::size_t cb_offset;
  std::size_t planar_bytes;
  std::size_t bgr_bytes;
};
// 625/50 is 4:2:0 (chroma halved both ways), 525/60 is 4:1:1 (a quarter of the width).
constexpr PictureFormat picture_format(bool is625) {
  const int height = is625 ? 576 : 480;
  const int chroma_width = is625 ? 360 : 180;
  const int chroma_height = is625 ? 288 : 480;
  const auto luma = std::size_t{720} * static_cast<std::size_t>(height);
  const auto chroma =
      static_cast<std::size_t>(chroma_width) * static_cast<std::size_t>(chroma_height);
  return {is625 ? kFrameBytes625 : kFrameBytes525,
          height,
          chroma_width,
          chroma_height,
          luma,
          luma + chroma,
          luma + 2 * chroma,
          3 * luma};
}

// The system a frame says it belongs to: the DSF bit of its first (header) DIF block.
// Returns false when the first block is not a header block.
bool read_system_from_header(std::span<const std::uint8_t> frame, bool* is625);

struct FrameWorkspace;

// Re-entrant decoder: each object owns its work buffers (about 640 KB, allocated once).
class Decoder {
 public:
  Decoder() noexcept;
  ~Decoder();
  Decoder(Decoder&&) noexcept;
  Decoder& operator=(Decoder&&) noexcept;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // False when the buffers could not be allocated.
  [[nodiscard]] bool valid() const noexcept { return work_ != nullptr; }
  // Same bytes as dv_decode_frame. False (and nothing written) when a span is too small.
  [[nodiscard]] bool decode(std::span<const std::uint8_t> frame, bool is625,
                            std::span<std::uint8_t> out) noexcept;
  // Only the planar picture (picture_format(is625).planar_bytes), before the colour stages.
  [[nodiscard]] bool decode_planar(std::span<const std::uint8_t> frame, bool is625,
                                   std::span<std::uint8_t> planar) noexcept;

 private:
  std::unique_ptr<FrameWorkspace> work_;
};

// The plain reference pipeline, one stage after another as the decoder's design lays them out
// (bit-by-bit code tree, whole-block dequantisation and weighting, scalar transforms, planar
// picture in `out`, packed YUY2 picture, BGR). Used to prove the fast path; allocates.
[[nodiscard]] bool decode_frame_reference(std::span<const std::uint8_t> frame, bool is625,
                                          std::span<std::uint8_t> out) noexcept;
[[nodiscard]] bool decode_planar_reference(std::span<const std::uint8_t> frame, bool is625,
                                           std::span<std::uint8_t> planar) noexcept;

}  // namespace avikit::dv
