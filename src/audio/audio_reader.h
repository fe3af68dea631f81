#pragma once
// AudioMediaReader: an audio player's link to its shared file. It sees the selected audio
// stream as one run of bytes (the chunks' data without their headers), read from an AVI audio
// index, a WAVE "data" chunk or the DV frames of a DV type-1 file, with a byte position, a seek
// by time and an end test.
//
//   AudioMediaReader r;
//   if (r.open("clip.avi", USE_AUDIO) && r.audio_format() != nullptr) {
//     r.seek_audio(1.5);
//     r.read_audio(buffer, 4096);   // bytes read, short at the end of the stream
//   }
//
// Threads: one reader, one thread (the shared file it holds belongs to that thread).

#include <avikit/platform/win_types.h>

#include <cstdint>

#include "video/media_reader.h"

namespace avikit {

class AudioMediaReader : public MediaReader {
 public:
  // As MediaReader::open, with the audio position back at 0.
  bool open(const platform::FileSource& source, int mode);

  std::int64_t audio_position() const { return audio_position_; }
  int select_audio(int stream);
  const platform::WAVEFORMATEX* audio_format();
  double audio_length();
  int audio_stream_id();
  std::uint32_t read_audio(std::uint8_t* buffer, std::uint32_t count);
  double seek_audio(double seconds);
  int audio_at_end();
  // Bytes per second of the selected audio stream as its data measures out (not always the
  // header's figure).
  double audio_byte_rate();

 private:
  void reset_position();

  std::int64_t audio_position_ = 0;
  // Where the audio position stands in the stream's chunk index (entry, bytes before it), so
  // that reading on does not walk the index from its start.
  std::uint64_t audio_cursor_entry_ = 0;
  std::uint64_t audio_cursor_offset_ = 0;
  // The selected audio stream's byte rate and length, measured once per selection (the rate is
  // negative until then).
  double audio_rate_ = -1.0;
  double audio_seconds_ = 0.0;
};

}  // namespace avikit
