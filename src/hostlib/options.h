#pragma once
// The support library's global option store.

#include <cstdint>

// Reads option `option` as an unsigned 32-bit value (0 when unset). Option 254 chooses the video
// output format: 2 asks for YV12. A host sets options with options_set; on the command line the
// environment variable AVIKIT_OPTION_<n> (decimal) supplies a value that the store does not hold.
std::uint32_t OptionsGet(std::uint32_t option, std::uint32_t reserved1, std::uint32_t reserved2);
void options_set(std::uint32_t option, std::uint32_t value);
void options_clear(std::uint32_t option);
