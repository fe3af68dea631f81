// Navigation: not built yet.
#include "video/media_reader.h"

std::int32_t SharedAviFile::next_key_frame(std::int32_t, bool) { return -1; }

std::int32_t MediaReader::step_forward(std::int32_t n, int) { return n; }
std::int32_t MediaReader::step_backward(std::int32_t n, int) { return n; }
std::uint32_t MediaReader::seek_frame(std::uint32_t, int) { return position_; }
