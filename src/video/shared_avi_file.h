#pragma once
// SharedAviFile: one open AVI or WAVE file shared by the players of one thread (see
// video/shared_file_registry.h). It holds an AviContainer that keeps its handle and indexes
// open, plus the state the players share through it: the video decoder (one codec session, one
// decoding run) and the DV audio cache.
//
// Who uses what
//   - decoder selection (video/decoder_setup.cpp): open_decoder, reset_decoder and the decoder
//     members; the flags AVC_DECOMPRESSING and AVC_DECODER_READY of decoder_flags_;
//   - frame decoding (video/frame_decoder.cpp): decode_frame, find_run_key and the run members;
//   - navigation (video/navigation.cpp): next_key_frame;
//   - audio reading (audio/dv_audio.cpp): the DV audio cache, through dv_audio_cache().
// All readers that share a file share its decoding run and its DV audio cache.
//
// Threads: a SharedAviFile is used only by the thread that created it; it has no lock.

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "container/avi_container.h"
#include "hostlib/codec_walk.h"
#include "platform/sync.h"
#include "video/palette_track.h"
#include "video/picture_cache.h"

namespace avikit {

// Serialises reading and decoding a DV chunk with the built-in decoder across the process; taken
// before the decoder's own g_dv_lock, never after it. Created by the first DV decode, deleted
// when the module is unloaded.
extern platform::CRITICAL_SECTION g_dv_frame_lock;

// State a layer above video keeps per shared file (audio's DV sound cache): the readers that
// share the file share it too. Video owns it without knowing what it is, and empties it whenever
// the file is opened again or its decoder reset.
class SharedFileSlot {
 public:
  virtual ~SharedFileSlot() = default;
  virtual void clear() = 0;
};

class SharedAviFile {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;  // "no frame" for the run members

  SharedAviFile() = default;
  ~SharedAviFile();
  SharedAviFile(const SharedAviFile&) = delete;
  SharedAviFile& operator=(const SharedAviFile&) = delete;

  AviContainer& container() { return container_; }
  const AviContainer& container() const { return container_; }

  // Opens the file (AviContainer::open) and empties the DV audio cache. 1 or 0.
  int open_shared(const platform::FileSource& source);
  // True when the file has a nameable video or audio stream: a file with neither is of no use
  // to a player.
  bool has_playable_stream();

  // --- Video decoder (decoder selection, frame decoding) --------------------------------------
  // How the selected video stream is decoded, fixed when the decoder is prepared.
  enum class VideoPath { kNone, kRaw, kDv, kCodec };

  // Prepares the decoder for `output` (may be null: then only an already prepared decoder
  // counts). `prime` is the pixel pointer of a bitmap in that format to decode frame 0 into, or
  // null. True when AVC_DECODER_READY is set on return.
  bool open_decoder(const platform::BITMAPINFOHEADER* output, std::uint8_t* prime);
  // Ends and closes the codec, forgets the run and the prepared formats, empties the DV audio
  // cache. The frame buffer keeps its storage.
  void reset_decoder();
  // Puts frame f into `destination` (a bitmap in the prepared output format). 1 or 0.
  int decode_frame(std::uint32_t frame, std::uint8_t* destination);
  // The key frame from which the codec must start to reach `frame`.
  std::uint32_t find_run_key(std::uint32_t frame);
  // The key frame a key-frame step from K lands on, or -1.
  std::int32_t next_key_frame(std::int32_t key, bool forward);
  // The key frame nearest to `target` (ties go to the later one); `target` itself when it is a
  // key frame or the stream flags none. `target` must be a frame of the index.
  std::uint32_t nearest_key_frame(std::uint32_t target);
  // Entries in the selected video stream's index (0 without one).
  std::uint32_t indexed_frames() const;
  // A bitmap that readers of this file decoded into is going away: a later bitmap at the same
  // address must not be taken for one that already holds the run's last picture.
  void forget_destination(const std::uint8_t* destination);
  // The run's last picture went into `destination` and is still there.
  bool holds_run_picture(const std::uint8_t* destination) const {
    return destination != nullptr && destination == run_destination_ && last_decoded_ != kNone;
  }

  platform::HIC decoder_ = nullptr;
  std::uint32_t decoder_flags_ = 0;          // AVC_DECOMPRESSING, AVC_DECODER_READY
  std::vector<std::uint8_t> frame_buffer_;   // one compressed chunk
  std::uint32_t last_decoded_ = kNone;       // frame the decoder last produced
  std::vector<std::uint8_t> input_format_;   // BITMAPINFOHEADER + codec data; empty: none
  std::vector<std::uint8_t> output_format_;  // 44 bytes holding the output header; empty
  // The driver's own decoding run, when it numbers pictures itself (hostlib/avcodec_driver.h).
  bool driver_numbers_pictures_ = false;
  bool intra_only_ = false;  // the codec decodes any frame alone: runs start at the frame itself
  VideoPath path_ = VideoPath::kNone;
  // The bitmap the run's pictures went into. Readers sharing the file share the run but not
  // their bitmaps, so "frame f was decoded last" only means "this bitmap holds f" for this one.
  std::uint8_t* run_destination_ = nullptr;
  hostlib::CodecRun run_;  // the codec's run: its key frame, and where a numbering driver is
  // Pictures kept for stepping backwards (numbering drivers only), and the frame the run's
  // bitmap holds when it came from there rather than from the decoder (kNone otherwise).
  PictureCache picture_cache_;
  std::uint32_t cached_shown_ = kNone;
  bool caching_ = false;        // the walk in progress keeps every picture it passes
  PaletteTrack palette_track_;  // colours of an indexed uncompressed stream, frame by frame

 private:
  AviContainer container_{true};  // always keeps its handle and indexes

  std::uint32_t shown_frame(std::uint32_t frame) const;
  std::uint32_t read_chunk(std::uint32_t frame, std::uint8_t* buffer, std::uint64_t capacity);
  std::uint64_t destination_bytes() const;
  int decode_raw(std::uint32_t frame, std::uint8_t* destination);
  int decode_dv(std::uint32_t frame, std::uint8_t* destination);
  int codec_walk(std::uint32_t frame, std::uint8_t* destination);
  int numbered_walk(std::uint32_t frame, std::uint8_t* destination);
  int cached_walk(std::uint32_t frame, std::uint8_t* destination);
  void keep_picture(std::uint32_t frame, std::uint32_t target);
  class WalkSource;
  bool build_input_format(VideoPath path);
  bool size_frame_buffer(VideoPath path);
  bool grow_frame_buffer(std::uint32_t chunk_bytes);
  bool find_codec();
  bool begin_codec(VideoPath path, const platform::BITMAPINFOHEADER* output);

 public:
  // --- DV audio cache (audio reading) ---------------------------------------------------------
  // The audio layer's cache of decoded DV sound for this file (audio/dv_audio.h); empty until
  // the audio reader first needs it.
  std::unique_ptr<SharedFileSlot>& dv_audio_cache() { return dv_audio_cache_; }

 private:
  void clear_dv_audio_cache() {
    if (dv_audio_cache_) dv_audio_cache_->clear();
  }

  std::unique_ptr<SharedFileSlot> dv_audio_cache_;
};

}  // namespace avikit
