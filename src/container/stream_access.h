#pragma once
// The container's accessors, stream selection and host-library descriptions are members of
// AviContainer (container/avi_container.h); these are the conversions they share.

#include <avikit/media_info.h>

#include <cstdint>

namespace avikit {

namespace container::detail {

// Truncates toward zero like a C cast, but a NaN gives 0 and out-of-range values saturate.
std::int32_t truncate_to_int(double v);

// kAudioFormat* for the four wFormatTag values the module names, else -1.
std::int32_t audio_format_code(std::uint16_t format_tag);

}  // namespace container::detail

}  // namespace avikit
