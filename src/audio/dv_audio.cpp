// DV audio: not built yet.
#include "video/shared_avi_file.h"

const DvAudioSlot* SharedAviFile::dv_audio_group(std::uint32_t) { return nullptr; }
