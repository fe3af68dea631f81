#pragma once
// The streams of one AVI or WAVE file as the header parse found them. Owned by AviContainer;
// other subsystems read them through the container's accessors, never directly.

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

struct StreamTable {
  std::uint64_t file_size = 0;           // from the file system at parse time
  std::uint32_t stream_lists = 0;        // "strl" lists in the header, whatever their type
  std::uint32_t selected_video = 0;      // position in `video`, not a stream number
  std::uint32_t selected_audio = 0;      // position in `audio`
  std::vector<VideoStreamRecord> video;  // in stream order
  std::vector<AudioStreamRecord> audio;  // in stream order
};

}  // namespace avikit
