#pragma once
// The streams of one AVI or WAVE file: the StreamTable the header parse yields, fixed from then
// on, and the StreamState that starts as its copy and takes what the index (figures, the DV
// system its frames show) and codec naming learn. Owned by AviContainer; other subsystems read
// them through the container's accessors, never directly.

#include <avikit/platform/win_types.h>

#include <cstdint>
#include <vector>

#include "container/chunk_index.h"

namespace avikit {

struct VideoStreamRecord {
  std::uint32_t stream = 0;              // position of the stream's "strl" list, from 0
  platform::BITMAPINFOHEADER format{};   // first 40 bytes of "strf"; biSize forced to 40
  std::uint32_t handler = 0;             // strh fccHandler, possibly rewritten by naming
  std::uint32_t frame_count = 0;         // strh dwLength, corrected by an OpenDML index
  float frame_rate = 0.0f;               // frames per second
  std::uint32_t rate = 0;                // strh dwRate: frame_rate is rate / scale, exactly
  std::uint32_t scale = 0;               // strh dwScale
  float bit_rate = 0.0f;                 // kbit/s, from the index
  std::uint32_t largest_chunk = 0;       // bytes, from the index
  std::uint32_t key_frame_distance = 0;  // 0 no key frames, 1 all key frames, else widest gap
  std::uint64_t indexed = 0;             // entries in the index, and the key frames among them
  std::uint64_t indexed_keys = 0;
  std::uint32_t full_format = 0;  // 1: the whole "strf" must be read from the file again
};

struct AudioStreamRecord {
  std::uint32_t stream = 0;
  platform::WAVEFORMATEX format{};  // at most 18 bytes of "strf" / "fmt "
  float bit_rate = 0.0f;            // kbit/s, from nAvgBytesPerSec
  double length = 0.0;              // seconds, from the index (DV type-1, WAVE: headers)
  std::uint32_t short_chunk = 0;    // 1: a chunk shorter than nBlockAlign was indexed
  double start = 0.0;               // seconds: "strh" dwStart x dwScale / dwRate
  // What the index holds, for a container that keeps figures only (the probe): the stream's
  // bytes and chunks, and its first chunks (ChunkIndex::head).
  std::uint64_t data_bytes = 0;
  std::uint64_t chunks = 0;
  std::vector<IndexEntry> head;
};

// A chunk that must be found again.
//   "avih"  stream -1  the main header (appended by open)
//   "strf"  stream s   a video format to be read again in full, and every "iavs" format
//   "indx"  stream s   an OpenDML super index
//   "send"  stream -1  size 0, where the body scan starts (after the last stream list)
//   "movi"  stream -1  movi list size less 4, first byte after the list type "movi"
//   "WAVE"  stream 0   the "data" chunk of a WAVE file: size and start of the samples
struct ChunkRecord {
  std::int32_t stream = -1;
  std::uint32_t fourcc = 0;
  std::uint32_t size = 0;      // as read from the chunk header unless said otherwise above
  std::uint64_t position = 0;  // file offset of the chunk's data
};

// The first record with both values, or nullptr.
inline const ChunkRecord* find_chunk_record(const std::vector<ChunkRecord>& records,
                                            std::uint32_t fourcc, std::int32_t stream) {
  for (const ChunkRecord& r : records) {
    if (r.fourcc == fourcc && r.stream == stream) return &r;
  }
  return nullptr;
}

// The DV type-1 sound layout: byte offset inside one DV frame of the first channel's 16-bit
// sample i (1944 entries for the 50-field system, 1620 for 60-field); the second channel lies
// channel2_offset further.
struct DvSoundLayout {
  std::vector<std::uint32_t> offsets;
  std::int32_t samples_per_10_frames = 0;
  std::uint32_t channel2_offset = 0;
};

struct StreamTable {
  std::uint64_t file_size = 0;           // from the file system at parse time
  std::uint32_t stream_lists = 0;        // "strl" lists in the header, whatever their type
  std::vector<VideoStreamRecord> video;  // in stream order
  std::vector<AudioStreamRecord> audio;  // in stream order
  DvSoundLayout dv_sound;                // as DVINFO announced it
};

// Sized once from the table and never resized, so a record's address holds while the
// container is open.
struct StreamState {
  std::vector<VideoStreamRecord> video;
  std::vector<AudioStreamRecord> audio;
  DvSoundLayout dv_sound;
  std::uint32_t selected_video = 0;  // position in `video`, not a stream number
  std::uint32_t selected_audio = 0;  // position in `audio`

  VideoStreamRecord* selected_video_record() {
    return selected_video < video.size() ? &video[selected_video] : nullptr;
  }
  AudioStreamRecord* selected_audio_record() {
    return selected_audio < audio.size() ? &audio[selected_audio] : nullptr;
  }
};

}  // namespace avikit
