#pragma once
// The audio reader is made of MediaReader's audio operations (declared in video/media_reader.h,
// defined in audio/audio_reader.cpp). This is what it shares with the player besides them.

#include "audio/stream_format.h"
#include "video/shared_avi_file.h"

namespace audio {

// The byte rate and length that the reader positions the selected audio stream of `file` with.
StreamTiming audio_stream_timing(SharedAviFile& file);

}  // namespace audio
