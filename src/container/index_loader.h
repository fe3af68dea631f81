#pragma once
// The third stage of reading a file: IndexLoader finds "movi" after the headers and yields the
// chunk indexes of the streams asked for, from the OpenDML indexes (odml_index.cpp), "idx1", or
// the "movi" lists themselves when neither is usable (index_rebuild.cpp). It writes the figures
// every index path derives (frame count, bit rates, largest chunk, key-frame distance, sound
// length) and the DV system the frames show into the stream records.
//
//   IndexLoader loader(riff, table, records, streams, options);
//   std::optional<LoadedIndex> loaded = loader.load();   // nullopt: no "movi" list

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "container/chunk_index.h"
#include "container/header_parser.h"
#include "container/riff_reader.h"
#include "container/stream_table.h"

namespace avikit {

namespace container::detail {
struct IndexPlan;
}

namespace container {

struct IndexOptions {
  // The probe: figures only, of every stream in one pass, and no index kept.
  bool figures_only = false;
  bool leave_out_video = false;  // a file opened for its sound alone (not DV type-1)
  bool dv_type1 = false;
  bool has_indx = false;
  // The indexes the caller already holds: each comes back (empty unless loaded) to replace them.
  bool video_held = false;
  bool audio_held = false;
};

struct LoadedIndex {
  // The selected streams' indexes; null when neither held nor loaded (always, for the probe).
  std::unique_ptr<ChunkIndex> video;
  std::unique_ptr<ChunkIndex> audio;
  std::optional<ChunkRecord> movi;  // the "movi" list, when the records do not hold it there yet
  bool rebuilt = false;             // no usable index: rebuilt from the "movi" lists
};

class IndexLoader {
 public:
  // `streams` receives the figures; it is written only when the load succeeds.
  IndexLoader(RiffReader& riff, const StreamTable& table, const std::vector<ChunkRecord>& records,
              StreamState& streams, const IndexOptions& options)
      : riff_(riff), table_(table), records_(records), streams_(streams), options_(options) {}
  IndexLoader(const IndexLoader&) = delete;
  IndexLoader& operator=(const IndexLoader&) = delete;

  // Scans from the "send" record for the first "movi" list and loads. nullopt when there is
  // none.
  std::optional<LoadedIndex> load();

 private:
  std::uint32_t read_chunk_header(ChunkHeader& header);
  bool known_stream(std::int32_t stream) const;
  LoadedIndex load_streams(const ChunkRecord& movi);
  int find_idx1(ChunkHeader& header);
  std::uint64_t read_entries(std::uint64_t position, std::uint64_t count, std::uint32_t entry_size,
                             const std::function<bool(const std::uint8_t*, std::uint32_t)>& walk);
  void load_odml_streams(detail::IndexPlan& plan);
  int read_odml_index(std::uint64_t position, std::uint32_t size, ChunkIndex* target);
  int read_odml_level(std::uint64_t position, std::uint32_t size, ChunkIndex* target, int depth,
                      std::uint64_t& budget);
  int read_odml_chunks(const std::uint8_t* header, std::uint32_t size, ChunkIndex* target,
                       std::uint64_t& budget);
  int load_idx1(detail::IndexPlan& plan, const ChunkRecord& movi);
  std::uint64_t idx1_base(std::uint64_t start, std::uint64_t count, std::uint64_t movi_position,
                          std::uint32_t declared);
  void rebuild_index(detail::IndexPlan& plan, const ChunkRecord& movi);
  static void note_short_chunk(detail::IndexPlan& plan, std::int64_t stream, std::uint32_t length);
  void apply_video_figures(VideoStreamRecord& video, const ChunkIndex& index, bool from_odml);
  void settle_dv_system(VideoStreamRecord& video, const ChunkIndex& index);
  void apply_audio_figures(AudioStreamRecord& audio, const ChunkIndex& index) const;

  RiffReader& riff_;
  const StreamTable& table_;
  const std::vector<ChunkRecord>& records_;
  StreamState& streams_;
  IndexOptions options_;
};

}  // namespace container

namespace container::detail {

inline constexpr std::uint32_t kIdx1EntrySize = 16;
inline constexpr std::uint32_t kIdx1KeyFrame = 0x10;         // AVIIF_KEYFRAME
inline constexpr std::uint32_t kIndexBatchBytes = 1u << 20;  // index bytes read per call
// Entries of the head of an idx1 whose chunk headers are looked at to tell relative offsets from
// absolute ones, and how many of them at most.
inline constexpr std::uint32_t kBaseProbeEntries = 64;
inline constexpr std::uint32_t kBaseProbeSamples = 8;

// Where one load puts the entries of each stream, by stream number. The players fill the two
// selected streams; the probe fills every stream in one pass over the index.
struct IndexPlan {
  std::array<ChunkIndex*, kMaxStreamLists> target{};        // null: not loaded
  std::array<AudioStreamRecord*, kMaxStreamLists> audio{};  // for the short-chunk flag
  std::array<bool, kMaxStreamLists> odml{};      // filled by an OpenDML index; idx1 leaves it be
  std::uint32_t declared = 0;                    // stream lists in the header
  std::uint32_t video_stream = kMaxStreamLists;  // selected video stream (peeked for key frames)

  // The index that takes the entries of stream s from idx1 or a rebuild, or nullptr.
  ChunkIndex* open_target(std::int32_t s) const {
    if (s < 0 || static_cast<std::uint32_t>(s) >= kMaxStreamLists) return nullptr;
    return odml[static_cast<std::size_t>(s)] ? nullptr : target[static_cast<std::size_t>(s)];
  }
  // Whether an OpenDML index filled stream s. The header parser already stops at the cap; the
  // check keeps a stream number from ever indexing past the table.
  bool from_odml(std::uint32_t s) const { return s < kMaxStreamLists && odml[s]; }
  bool any_open() const {
    for (std::size_t s = 0; s < kMaxStreamLists; ++s) {
      if (target[s] != nullptr && !odml[s]) return true;
    }
    return false;
  }
};

// The stream an "idx1" ckid belongs to (chunk_stream_number of fourccs.h over the stream lists
// the header declares); -1 for none.
std::int64_t idx1_stream_number(std::uint32_t ckid, std::uint32_t declared);

// kbit/s from the bytes of a stream and its duration (frame count / frame rate); 0 when the
// duration is not a positive finite number.
float video_kbit_rate(std::uint64_t total_bytes, std::uint32_t frame_count, float frame_rate);

// Largest number of `entry_size` entries that `count` announces and that could fit in `bytes`.
std::uint64_t entries_that_fit(std::uint64_t count, std::uint64_t bytes, std::uint32_t entry_size);

// Grows the entry storage geometrically, so that many small standard indexes appended one after
// the other do not reallocate each time.
void reserve_more(ChunkIndex& index, std::uint64_t more);

// The bytes of an indexed chunk that the file really holds: its size, cut at the end of the
// file. An entry claiming 4 GB in a small (truncated or damaged) file would otherwise make the
// readers walk, and the audio length count, data that does not exist.
std::uint32_t size_in_file(std::uint64_t position, std::uint32_t size, std::uint64_t file_size);

// Palette changes ("##pc") change the colours of the frames after them; they are no frame.
constexpr bool is_palette_change(std::uint32_t ckid) {
  return (ckid >> 16) == (std::uint32_t{'p'} | std::uint32_t{'c'} << 8);
}

// Key frames told from the data of a chunk, for streams whose index does not say. MPEG-4 part 2
// (ISO/IEC 14496-2): the first VOP is intra coded (vop_coding_type 0). H.264 (ISO/IEC 14496-10,
// Annex B byte stream): an IDR slice (nal_unit_type 5) comes before any other slice.
bool mpeg4_chunk_is_key(std::span<const std::uint8_t> data);
bool h264_chunk_is_key(std::span<const std::uint8_t> data);

}  // namespace container::detail

}  // namespace avikit
