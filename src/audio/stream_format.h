#pragma once
// What the audio pipeline makes of a stream's WAVEFORMATEX: how PCM samples are stored, which
// streams go through the host's decoder, and the byte rate and length that the clock, the seek
// and the end test work with when the header's own figures cannot be used.

#include <avikit/platform/win_types.h>

#include <cstddef>
#include <cstdint>

namespace avikit {

class AviContainer;

namespace audio {

// How the samples of a PCM stream lie in the file.
struct PcmLayout {
  std::uint32_t sample_bytes = 0;  // bytes of one sample of one channel (1 to 4); 0: unplayable
  std::uint32_t channels = 0;
  std::uint32_t frame_bytes() const { return sample_bytes * channels; }
};

// Samples are stored left-justified in whole bytes (RIFF WAVE): 1 to 8 bits take one unsigned
// byte, 9 to 16 two bytes, and so on up to 32 bits. A block alignment that names a wider
// container (24 bits in 4 bytes) is followed. 0 bits counts as 16, as the probe has it; more
// than 32 bits, no channel or more than 64 is unplayable (sample_bytes 0).
PcmLayout pcm_layout(const platform::WAVEFORMATEX& format);

// MPEG audio layers 1 to 3 and AC-3: the streams the host's AudioDecoder turns into PCM.
bool is_decoded_tag(std::uint16_t tag);

// Sample frames in one compressed frame of a stream whose chunks hold one frame each (how
// variable bit-rate MPEG audio and AC-3 are stored in AVI).
std::uint32_t frames_per_chunk(const platform::WAVEFORMATEX& format);

// The bytes a seek lands on a multiple of: one sample frame of PCM, one block of ADPCM, A-law,
// mu-law or float; 0 for MPEG audio and AC-3, whose decoder finds the next frame itself.
std::uint32_t seek_alignment(const platform::WAVEFORMATEX& format);

// Compressed frames found at the start of a stream (AudioDecoder::measure_frames).
struct FrameSample {
  std::uint64_t frames = 0;
  std::uint64_t bytes = 0;
  std::uint64_t samples = 0;
  int sample_rate = 0;
};

struct StreamTiming {
  double bytes_per_second = 0.0;  // 0: the stream cannot be positioned
  double length = 0.0;            // seconds
};

// The byte rate and length of a stream holding `data_bytes` bytes in `chunks` chunks, from what
// the stream holds rather than from nAvgBytesPerSec, which writers get wrong (0 for variable
// bit-rate MP3, 18,432,000 for an AC-3 copy):
// - PCM, float, A-law, mu-law and ADPCM: the sample rate times the bytes of a sample frame;
// - MPEG audio and AC-3: the frames measured at the start (`head`): one frame per chunk when
//   the chunks are about one frame long, else the bytes over the measured byte rate; without
//   frames, the header's rate, or one frame per chunk when it gives none;
// - anything else: nAvgBytesPerSec.
// `stated_length` is what the container worked out from the header; it stands when nothing
// better is known.
StreamTiming stream_timing(const platform::WAVEFORMATEX& format, double stated_length,
                           std::uint64_t data_bytes, std::uint64_t chunks,
                           const FrameSample& head = {});

// stream_timing for the selected audio stream of a container, with the compressed frames
// measured at the stream's start (audio/audio_reader.cpp); a probe's container measures from
// the figures and first chunks its index kept. The player and the
// probe both take a stream's length from here, so they agree.
StreamTiming measured_timing(AviContainer& file);

// Converts a byte count given as a double (a rate times a time) to a position, truncating
// toward zero; NaN gives 0 and values beyond the 64-bit range saturate.
std::int64_t truncate_position(double bytes);

}  // namespace audio

}  // namespace avikit
