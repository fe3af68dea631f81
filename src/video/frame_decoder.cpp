// Frame decoding: not built yet.
#include "video/shared_avi_file.h"

int SharedAviFile::decode_frame(std::uint32_t, std::uint8_t*) { return 0; }

std::uint32_t SharedAviFile::find_run_key(std::uint32_t frame) { return frame; }
