#pragma once
// The RIFF chunk header reader is AviContainer::read_chunk_header (container/avi_container.h);
// this stage also owns the rule of which chunk ids it hands back without skipping.

#include <cstdint>

namespace container {

// Chunks whose header the reader returns with the file at their data; every other id (besides
// "RIFF" and "LIST") is skipped over when skipping is allowed.
bool is_stop_chunk(std::uint32_t id);

}  // namespace container
