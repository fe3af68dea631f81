// libFuzzer target for dv_decode_frame. The first byte picks the system; the rest, repeated,
// fills the whole compressed frame, so that every video DIF block carries fuzzed bytes.
// Invariants: no crash or out-of-bounds access (the output is an exact-size heap buffer), the
// frame is left as it was, and, for one input in eight (bits 1..3 of the first byte zero; the
// reference pipeline is slow), the reference pipeline gives the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dv/frame_decoder.h"

using namespace avikit;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool is625 = (data[0] & 1) != 0;
  const dv::PictureFormat f = dv::picture_format(is625);
  std::vector<std::uint8_t> frame(f.frame_bytes);
  const std::uint8_t* body = data + 1;
  const std::size_t body_size = size - 1;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    frame[i] = body_size == 0 ? 0 : body[i % body_size];
  }
  const std::vector<std::uint8_t> original = frame;
  std::vector<std::uint8_t> out(f.bgr_bytes);
  if (dv::dv_decode_frame(frame.data(), out.data(), is625 ? 1 : 0) != 1) std::abort();
  if (frame != original) std::abort();
  if ((data[0] & 0x0E) != 0) return 0;
  std::vector<std::uint8_t> ref(f.bgr_bytes);
  if (!dv::decode_frame_reference(frame, is625, ref) || ref != out) std::abort();
  return 0;
}
