#pragma once
// AviContainer: the module's in-memory view of one RIFF file (AVI 1.0, OpenDML, DV type-1 or
// type-2 AVI, or plain RIFF WAVE). It holds what the three stages of reading yield: the
// RiffReader (the file and its position), the stream table of the HeaderParser, and the chunk
// indexes of the IndexLoader; and answers from them.
//
// How to use it
//   AviContainer c(/*keep_handle=*/true);
//   if (c.open("clip.avi")) {            // 1 on success: RIFF form checked, headers parsed,
//     c.frame_count();                   // the selected streams indexed
//     const ChunkIndex* vi = c.video_index();   // only with keep_handle (see below)
//   }
//
// Laziness. Every accessor first runs parse_headers() and, where it reports index figures,
// load_index(); both return at once when their work is done. An accessor whose work fails
// answers a neutral value (0, -1 for "no stream", nullptr, 0.0) and never reports an error.
//
// Keep handle. With keep_handle false (the probe) the file handle is closed after every call
// that needed it and reopened from its source on demand, and the chunk indexes are dropped right
// after loading: only the figures in the stream records (bit rate, largest chunk, key-frame
// distance, audio length, corrected frame count) remain. With keep_handle true (the players) the
// handle and both chunk indexes stay until close().
//
// Selection. After a parse the first video and the first audio stream are selected. Selecting
// another stream drops that kind's type name and both chunk indexes (they hold only the two
// selected streams) and loads them again when they had been loaded. What the accessors point at
// (formats, records, indexes) keeps its address until close(): a reload refills it in place.
//
// Positions are 64-bit everywhere; OpenDML files over 4 GB are indexed through their absolute
// 64-bit offsets. Every size read from the file is treated as hostile.
//
// Threads: no lock; one thread at a time.
//
// Holders (the video pipeline's SharedAviFile). Construct with keep_handle true and
// call open() once: opening an open container closes it first, and close() clears every flag,
// AVC_KEEP_HANDLE included, so a second open() would drop the handle and the indexes between
// calls. Reading a chunk: read_at(entry.position, buffer, entry.size) with an IndexEntry of
// video_index() / audio_index(); it reads through the tracked position. The container's state
// is its own: a holder sees it through the accessors above, and keeps the decoder bits
// (AVC_DECOMPRESSING, AVC_DECODER_READY) in a flag word of its own.

#include <avikit/media_info.h>
#include <avikit/platform/win_types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "container/chunk_index.h"
#include "container/riff_reader.h"
#include "container/stream_table.h"

namespace avikit {

// Flag word bits.
inline constexpr std::uint32_t AVC_OPENED = 0x1;         // a source is stored, the file opened
inline constexpr std::uint32_t AVC_KEEP_HANDLE = 0x2;    // keep handle and indexes between calls
inline constexpr std::uint32_t AVC_DV_TYPE1 = 0x4;       // an "iavs" stream (DV type-1)
inline constexpr std::uint32_t AVC_HAS_INDX = 0x8;       // a stream list holds an OpenDML "indx"
inline constexpr std::uint32_t AVC_VIDEO_NAME = 0x10;    // video_type_name worked out
inline constexpr std::uint32_t AVC_AUDIO_NAME = 0x20;    // audio_type_name worked out
inline constexpr std::uint32_t AVC_HEADERS = 0x40;       // headers parsed, stream table exists
inline constexpr std::uint32_t AVC_INDEXED = 0x80;       // selected streams indexed
inline constexpr std::uint32_t AVC_WAVE = 0x100;         // a RIFF WAVE file
inline constexpr std::uint32_t AVC_ALL_FIGURES = 0x200;  // probe: figures of every stream loaded
inline constexpr std::uint32_t AVC_REBUILT = 0x400;      // no usable index: rebuilt from "movi"
inline constexpr std::uint32_t AVC_SOUND_ONLY = 0x800;   // the video stream is left unindexed
// Owned by the video pipeline: SharedAviFile keeps them in its own decoder flag word, never in
// the container's.
inline constexpr std::uint32_t AVC_DECOMPRESSING = 0x10000;  // codec began, or DV stands in
inline constexpr std::uint32_t AVC_DECODER_READY = 0x40000;  // decoder prepared for an output

using container::ChunkHeader;
using container::SeekOrigin;

class AviContainer {
 public:
  // Everything empty; flags = AVC_KEEP_HANDLE when keep_handle, else 0.
  explicit AviContainer(bool keep_handle);
  virtual ~AviContainer();
  // Copies tables, records, names, indexes and flags, never the handle: the copy reopens the
  // file from its source (name or bytes) when it needs it, and its tracked position is 0 until its
  // first absolute seek.
  AviContainer(const AviContainer& other);
  AviContainer& operator=(const AviContainer& other);

  // --- Life cycle -----------------------------------------------------------------------------
  // 1 on success, 0 on failure. A file that cannot be opened at all changes nothing; any other
  // failure leaves the container closed. Opening an open container closes it first, which also
  // clears AVC_KEEP_HANDLE.
  // A name opens a file on disk; an InMemoryFile converts to the source of its bytes.
  int open(const platform::FileSource& source);
  // Back to the empty state: indexes, table, handle, records, names freed; every flag cleared.
  void close();

  // --- The staged work (each returns at once when already done) -------------------------------
  int parse_headers();  // 1 when the stream table exists
  int load_index();     // 1 when the selected streams are indexed (or their figures computed)
  // For a file opened for its sound alone: load_index then leaves the video stream out, so a
  // file of millions of frames costs the sound player nothing for them. DV type-1 sound lives
  // in the video chunks and still indexes them. Call before open(); index_video() undoes it
  // when a video reader joins, loading the video index then. Both return what load_index does.
  void skip_video_index() { flags_ |= AVC_SOUND_ONLY; }
  int index_video();
  // 1 when the file had no usable index and load_index rebuilt it from the "movi" lists.
  int index_rebuilt() const { return (flags_ & AVC_REBUILT) != 0 ? 1 : 0; }

  // --- File access: the one chunk header reader and the tracked position ----------------------
  // Returns the id of the chunk whose header it delivers, or 0 (end of file, an unusable header,
  // or a chunk it may not skip). Recognised ids ("data", "fmt ", "idx1", "ISFT", "strh", "strf",
  // "avih", "indx") stop with the file at the chunk's data; "RIFF" and "LIST" stop at their first
  // sub-chunk with list_type filled. Other chunks are skipped when may_skip (never past the end
  // of the file once its size is known), else 0. With may_skip, up to two stray bytes before a
  // header (the pad byte after an odd-sized chunk) are absorbed.
  std::uint32_t read_chunk_header(ChunkHeader& header, bool may_skip);
  // Moves the tracked position. A distance of 0 or less moves nothing, whatever the origin, and
  // neither does a move without a file or one past the largest signed 64-bit offset.
  void seek_tracked(std::int64_t distance, SeekOrigin origin);
  // Reads at the tracked position; returns the bytes read (short at end of file, 0 without a
  // file held) and advances the tracked position by them.
  std::uint32_t read_bytes(void* buffer, std::uint32_t count);
  // Positions the file at an absolute offset (0 included) and reads there, as read_bytes.
  std::uint32_t read_at(std::uint64_t position, void* buffer, std::uint32_t count);
  std::uint64_t tracked_position() const { return riff_.position(); }
  bool holds_file() const { return riff_.holds_file(); }

  // --- Whole file -----------------------------------------------------------------------------
  std::uint32_t flags() const { return flags_; }
  std::uint64_t file_size();      // parse; 0 otherwise
  const char* file_name() const;  // nullptr when no source is stored ("" for unnamed bytes)
  const platform::FileSource& file_source() const { return riff_.source(); }
  int is_dv_type1();             // parse; 1 with an "iavs" stream
  int is_dv();                   // parse; DV type-1, or selected handler "dvsd"/"DVSD"
  const char* file_type_name();  // "Microsoft ..." file type name; see type_names.h
  const std::vector<ChunkRecord>& chunk_records() const { return chunk_records_; }
  // First record with both values, or nullptr.
  const ChunkRecord* find_chunk_record(std::uint32_t fourcc, std::int32_t stream) const;
  // 0x760000 | position in the video list, else 0x610000 | position in the audio list, else 0.
  std::uint32_t stream_kind(std::int32_t stream);

  // --- Selected video stream (parse unless noted) ---------------------------------------------
  int video_stream_count();
  int selected_video_stream_number();                // -1 when none
  std::uint32_t video_handler_fourcc();              // as naming may have rewritten it
  const platform::BITMAPINFOHEADER* video_format();  // points into the record; nullptr if none
  std::uint32_t frame_count();                       // corrected by an OpenDML index once indexed
  float frame_rate();
  // The stream's dwRate and dwScale, whose quotient is the exact frame rate; {0, 0} if none.
  std::pair<std::uint32_t, std::uint32_t> frame_rate_ratio();
  float video_bit_rate();  // index; kbit/s
  int has_inter_frames();  // index; 1 unless every frame is a key frame
  // index; entries of the stream's index and the key frames among them, counted by the probe
  // too, so that a count needs no stored index.
  std::pair<std::uint64_t, std::uint64_t> video_index_counts();
  std::uint32_t largest_video_chunk();  // no parse started: opened containers only
  std::uint32_t full_format_flag();     // no parse started: opened containers only
  const char* video_type_name();        // codec description; nullptr when undecodable
  // Writes up to `maximum` stream numbers in record order; returns how many.
  int video_stream_numbers(std::uint32_t* list, int maximum);
  // 1 on success. Needs a parsed file (does not start the parse). Reloads the indexes when they
  // were loaded, and then returns the load's result.
  int select_video_stream(int stream);

  // --- Selected audio stream ------------------------------------------------------------------
  int audio_stream_count();
  int selected_audio_stream_number();
  const platform::WAVEFORMATEX* audio_format();
  float audio_bit_rate();  // index; kbit/s
  double audio_length();   // index; seconds
  // The selected audio stream's record, with the figures its index gave; nullptr without one.
  const AudioStreamRecord* audio_record();  // index
  // The bytes of `entries` one after another, at most `count`; a short read does not end the
  // walk. A container that has let its handle go (the probe) reopens the file for the call.
  std::uint32_t read_entries(const std::vector<IndexEntry>& entries, std::uint8_t* buffer,
                             std::uint32_t count);
  std::uint32_t short_chunk_flag();  // index
  double audio_start();              // index; seconds of silence before the first sample
  const char* audio_type_name();
  int audio_stream_numbers(std::uint32_t* list, int maximum);
  int select_audio_stream(int stream);

  // --- Descriptions for the host library (select the stream first) ----------------------------
  void describe_video_stream(VideoInfo& info);
  void describe_audio_stream(AudioInfo& info);

  // --- Chunk indexes of the selected streams (keep_handle containers, after load_index) -------
  const ChunkIndex* video_index() const { return video_index_.get(); }
  const ChunkIndex* audio_index() const { return audio_index_.get(); }

  // --- DV type-1 audio layout -----------------------------------------------------------------
  // Byte offset inside one DV frame of the first channel's 16-bit sample i (1944 entries for the
  // 50-field system, 1620 for 60-field); the second channel lies dv_channel2_offset() further.
  const std::vector<std::uint32_t>& dv_audio_offsets() const { return streams_.dv_sound.offsets; }
  std::int32_t dv_samples_per_10_frames() const { return streams_.dv_sound.samples_per_10_frames; }
  std::uint32_t dv_channel2_offset() const { return streams_.dv_sound.channel2_offset; }

  // Writes a NUL-terminated description (at most 127 bytes) of the codec that decompresses
  // `handler` into buffer[128] and returns its length; 0 when no codec describes it.
  int describe_codec(std::uint32_t handler, const platform::BITMAPINFOHEADER* format, char* buffer);

 private:
  // Opens the file from its source for the length of one call when no handle is held, and closes it
  // again afterwards unless AVC_KEEP_HANDLE is set. ok() is false when the reopen failed.
  class FileLease {
   public:
    explicit FileLease(AviContainer& owner);
    ~FileLease();
    FileLease(const FileLease&) = delete;
    FileLease& operator=(const FileLease&) = delete;
    bool ok() const { return owner_.riff_.holds_file(); }

   private:
    AviContainer& owner_;
    bool opened_ = false;
  };

  VideoStreamRecord* selected_video_record();  // nullptr without a table or a video stream
  AudioStreamRecord* selected_audio_record();
  void close_handle();

  std::unique_ptr<const StreamTable> stream_table_;  // the header parse's; null until it succeeds
  StreamState streams_;                      // the table's streams as the later stages left them
  std::uint32_t flags_ = 0;                  // AVC_* bits
  std::vector<ChunkRecord> chunk_records_;   // in file order, kept until close()
  std::unique_ptr<ChunkIndex> video_index_;  // selected video stream; null when not loaded
  std::unique_ptr<ChunkIndex> audio_index_;  // selected audio stream; null when not loaded
  std::string video_type_name_;              // empty until worked out, or when undecodable
  std::string audio_type_name_;
  container::RiffReader riff_;  // the file, its name as given to open(), the tracked position

  bool reopen_handle();
  int open_riff();
  void name_video_stream();
  void name_audio_stream();
};

}  // namespace avikit
