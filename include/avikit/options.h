#pragma once
// The support library's global option store.

#include <cstdint>

namespace avikit {

// Option 254 chooses the video output format: 2 asks for YV12, anything else for YUY2. Unset, it
// reads 2: a YV12 picture is what MPEG-4 decoders make, so it reaches the bitmap as a plain copy
// and the 24-bit output converts it once, with the colours ffmpeg gives.
inline constexpr std::uint32_t kOptionYuvOutput = 254;
// Bytes the players may keep in decoded pictures for stepping backwards, in MiB (0 turns the
// cache off). Unset, it reads 256.
inline constexpr std::uint32_t kOptionPictureCacheMib = 1001;

// Reads option `option` as an unsigned 32-bit value (its default when unset: the two above, 0 for
// every other option). A host sets options with options_set; on the command line the environment
// variable AVIKIT_OPTION_<n> (decimal) supplies a value that the store does not hold.
std::uint32_t OptionsGet(std::uint32_t option, std::uint32_t reserved1, std::uint32_t reserved2);
void options_set(std::uint32_t option, std::uint32_t value);
void options_clear(std::uint32_t option);

}  // namespace avikit
